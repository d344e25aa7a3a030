#pragma once
// A main window on the offscreen platform, in a temporary application folder with the host's
// catalogue and a firmware store; its links to the rest of the tool record what they are asked.

#include "frmQARN_UI.h"
#include "qarn_main.h"
#include "return_to_host.h"
#include "temp_app_dir.h"
#include "widget_colours.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    QStringList events;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitColours();
        std::tie(gPort, gPrototype, gSelectedModel, gSelectedPcb) =
            std::tuple("1", 1, "M100", "MAIN");
        gFdir = app.path() + "/torvane/FieldKit/";
        gCountryList = {"US", "United States", "JP", "Japan"};
        gLangList = {"EN", "English", "JA", "Japanese"};
        gTgbnList = {"", "SUB", "MAIN"};
        gTgbnDescList = {"", "Sub board", "Main board"};
        catalogue({"USENv0100", "JPJAv0210", "USJAv0000"});
        writeIni(1);
        // Every message box is closed with OK once it is up; what it showed is kept.
        boxWatch.callOnTimeout([this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + " | " + box->text() + " | " +
                             QString::number(box->icon() + box->standardButtons().toInt());
                box->button(QMessageBox::Ok)->click();
            }
        });
        boxWatch.start(10);
    }
    void TearDown() override { window.reset(); }

    void open() {
        frmQARN_UI::Links l = frmQARN_UI::DefaultLinks();
        l.showErrorWindow = [this] { errorWindows << gErrNo; };
        l.hostReturnUi = [this]() -> HostReturnUi & { return host; };
        l.runDownload = [this](QString &sum) { return runner ? (++runs, runner(sum)) : false; };
        l.secondsSinceMidnight = [this] { return clockSeconds; };
        window.reset();
        window = std::make_unique<frmQARN_UI>(l);
    }
    template <typename T = QWidget> T *w(const QString &name) const {
        T *found = window->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QPushButton *button(const char *name) const { return w<QPushButton>(name); }
    QString text(const char *name) const { return w(name)->property("text").toString(); }
    QLabel *step(int i) const { return w<QLabel>("lblStep_" + QString::number(i)); }
    int value(const char *bar) const { return w<QProgressBar>(bar)->value(); }
    QTreeWidget *tree() const { return w<QTreeWidget>("treFirmList"); }
    // For each named widget "1" when it is visible (or enabled), else "0".
    QString shown(const QStringList &names, bool enabled = false) const {
        QString bits;
        for (const QString &name : names)
            bits += (enabled ? w(name)->isEnabled() : w(name)->isVisible()) ? u'1' : u'0';
        return bits;
    }
    // The colour the widget really paints at a point, as 0x00BBGGRR.
    static uint32_t painted(QWidget *w, QPoint at = {4, 4}) {
        const QColor c = w->grab().toImage().pixelColor(at);
        return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
    }

    // QARN.ini, which the description reader reads again at every selection.
    void writeIni(int language) {
        app.write("QARN.ini", "LANGUAGE " + QByteArray::number(language) + "\r\nPROTOTYPE 1\r\n");
        gLangBase = language * 100;
    }
    void catalogue(const QStringList &versions) {
        app.write("torvane.conf", ("machine=M100\r\nboard=MAIN\r\nversion=" +
                                   versions.join("\r\nversion=") + "\r\nend\r\n")
                                      .toLatin1());
    }
    static QString storeFolder(const QString &version) {
        return "torvane/FieldKit/M100/MAIN/" + version + "/";
    }
    // A firmware folder: a description of the given CPUT with its kernel and program image.
    void writeFirmware(const QString &version, int cput, const QString &file = "FIRM.IFT",
                       const QByteArray &extra = {}) {
        app.write(storeFolder(version) + file,
                  "CPUT " + QByteArray::number(cput) +
                      "\r\nDF KERNEL.BIN\r\nPFN PROG.BIN\r\nUCS 018A\r\nFSA 00000000\r\nFEA "
                      "000000FF\r\nFCS BEEF\r\nPDSIZE 16\r\n" +
                      extra);
        app.write(storeFolder(version) + "KERNEL.BIN", QByteArray::fromHex("01223344f0"));
        app.write(storeFolder(version) + "PROG.BIN", QByteArray(40, char(0x5A)));
    }
    // The version folder the last successful read took its kernel from.
    static QString readFolder() {
        return gIrdFile.isEmpty() ? QString() : QFileInfo(gIrdFile).dir().dirName();
    }
    void clickNode(const QString &key) {
        QTreeWidgetItemIterator it(tree());
        while (*it && (*it)->data(0, Qt::UserRole).toString() != key)
            ++it;
        ASSERT_TRUE(*it) << key.toStdString();
        button("cmdSetupOK")->click();
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                          tree()->visualItemRect(*it).center());
    }

    TempAppDir app;
    QTimer boxWatch;
    QStringList boxes; // "title | text | icon + buttons" of each message box
    RecordingHostReturn host;
    QList<int16_t> errorWindows; // gErrNo each time the error window was opened
    std::function<bool(QString &)> runner;
    int runs = 0;
    double clockSeconds = 0.0;
    std::unique_ptr<frmQARN_UI> window;
};

// Both the colour the widget keeps and the colour it paints.
#define EXPECT_BACK(widget, bgr)                                                                   \
    EXPECT_EQ(BackColour(widget) | uint64_t(WindowTest::painted(widget)) << 32,                    \
              uint32_t(bgr) | uint64_t(bgr) << 32)                                                 \
        << (widget)->objectName().toStdString()
