#pragma once
// The tool's main window: the firmware tree, the control buttons, the step display of a download
// run and the two overlays (connection instructions, stop question).

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class HostReturnUi;
class QLabel;
class QProgressBar;
class QTreeWidgetItem;
class SerialPortInterface;

namespace Ui {
class frmQARN_UI;
}

class frmQARN_UI : public QMainWindow {
    Q_OBJECT
public:
    // What the window needs from the rest of the tool. Tests replace parts of it.
    struct Links {
        // Opens the error window for gErrNo, not modal.
        std::function<void()> showErrorWindow;
        // Closes every error window still open.
        std::function<void()> closeErrorWindows;
        // The window system's side of the return to the host.
        std::function<HostReturnUi &()> hostReturnUi;
        // One download run: the real one or, with a non-zero gPrototype, the simulated one.
        std::function<bool(QString &checkSum)> runDownload;
        // The serial port bound at load unless the tool runs in simulation mode.
        std::function<std::unique_ptr<SerialPortInterface>()> makeSerialPort;
        // Seconds since midnight of the wall clock (the blink phase of the step display).
        std::function<double()> secondsSinceMidnight;
    };
    static Links DefaultLinks();

    explicit frmQARN_UI(Links links = DefaultLinks(), QWidget *parent = nullptr);
    ~frmQARN_UI() override;

    // Operations the tree and the download run use.
    void ResetStepLabels();
    void ResetProgressBars();
    void SetCaptions();
    void ShowStepCaptions(int16_t variant);
    void DisableStart();

    // Button handlers.
    void cmdSetupOK_Click();
    void cmdCancel_Click();
    void cmdFwd_Click();
    void cmdBack_Click();
    void cmdExit_Click();
    void cmdStart_Click();
    void treFirmList_NodeClick(QTreeWidgetItem *node);
    void tmrRefresh_Timer();

    // True while cmdStart_Click is inside a download run.
    bool runInProgress() const { return m_runInProgress; }
    QTimer &refreshTimer() { return m_tmrRefresh; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void loadIllustrations();
    void startRun();
    void offerConfirmation();
    void closeStopQuestion();
    void confirmAndReset();
    void refreshDisplay(bool blinkOn);
    bool blinkPhase() const;
    void setStepBack(int index, uint32_t bgr);
    void selectFirmware(const QString &model, const QString &board, const QString &version);
    QLabel *stepLabel(int index) const;
    QProgressBar *cpuBar(int index) const;

    Ui::frmQARN_UI *m_ui;
    Links m_links;
    QTimer m_tmrRefresh;
    std::unique_ptr<SerialPortInterface> m_serial;
    bool m_runInProgress = false;
    bool m_inTick = false;
    bool m_keySelecting = false; // the tree is handling a key press
};
