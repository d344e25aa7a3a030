#pragma once
// A main window on the offscreen platform with its links to the rest of the tool replaced by
// recorders, in a temporary application folder with a host catalogue and a firmware store.

#include "frmQARN_UI.h"
#include "return_to_host.h"
#include "serial_port.h"
#include "shared_state.h"
#include "temp_app_dir.h"
#include "widget_colours.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Texts compared in tests as readable UTF-8.
inline std::string u8(const QString &text) {
    return text.toUtf8().replace("\r", "\\r").replace("\n", "\\n").toStdString();
}

class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { messages << text; }
    void closeAllWindows() override { ++closeAllCount; }
    void endProcess() override { ++endCount; }

    QStringList messages;
    int closeAllCount = 0;
    int endCount = 0;
};

// A port that is never opened: load only binds it.
class IdlePort : public SerialPortInterface {
public:
    int open(int, const QString &) override { return 0; }
    void close() override {}
    bool isOpen() const override { return false; }
    int inBufferCount() override { return 0; }
    int readByte() override { return -1; }
    void discardInput() override {}
    int write(const QByteArray &) override { return 0; }
    int outBufferCount() override { return 0; }
    void discardOutput() override {}
    bool hasFailed() const override { return false; }
    void waitForActivity(std::chrono::milliseconds) override {}
};

// The catalogue of the selected model "M100" and board "MAIN" used by most window tests.
inline QByteArray standardCatalogue() {
    return "machine=M100\r\n"
           "board=MAIN\r\n"
           "version=USENv0100\r\n"
           "version=JPJAv0210\r\n"
           "version=USJAv0000\r\n"
           "board=SUB\r\n"
           "version=USENv0999\r\n"
           "end\r\n";
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The start-up colours (light cyan, light yellow, silver, light green).
        gColorCyan = 0x00FFFF80;
        gColorYellow = 0x0080FFFF;
        gColorGrey = 0x00C0C0C0;
        gColorGreen = 0x00C0FFC0;
        gLangBase = 100;
        gPort = QStringLiteral("1");
        gPrototype = 1;
        gSelectedModel = QStringLiteral("M100");
        gSelectedPcb = QStringLiteral("MAIN");
        gFdir = app.path() + QStringLiteral("/torvane/FieldKit/");
        gCountryList = {QStringLiteral("US"), QStringLiteral("United States"), QStringLiteral("JP"),
                        QStringLiteral("Japan")};
        gLangList = {QStringLiteral("EN"), QStringLiteral("English"), QStringLiteral("JA"),
                     QStringLiteral("Japanese")};
        app.write("torvane.conf", standardCatalogue());
        writeIni(1, 1);
        watchForMessageBoxes();
    }

    void TearDown() override {
        window.reset();
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
    }

    frmQARN_UI::Links links() {
        frmQARN_UI::Links l;
        l.showErrorWindow = [this] { errorWindows << gErrNo; };
        l.hostReturnUi = [this]() -> HostReturnUi & { return host; };
        l.runDownload = [this](QString &checkSum) { return runner ? runner(checkSum) : false; };
        l.makeSerialPort = [this]() -> std::unique_ptr<SerialPortInterface> {
            ++portsMade;
            return std::make_unique<IdlePort>();
        };
        l.secondsSinceMidnight = [this] { return clockSeconds; };
        return l;
    }

    frmQARN_UI &open() {
        window = std::make_unique<frmQARN_UI>(links());
        return *window;
    }

    template <typename T> T *child(const char *name) const {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QLabel *label(const char *name) const { return child<QLabel>(name); }
    QLabel *step(int i) const { return label(QStringLiteral("lblStep_%1").arg(i).toLatin1()); }
    QProgressBar *bar(const char *name) const { return child<QProgressBar>(name); }
    QTreeWidget *tree() const { return child<QTreeWidget>("treFirmList"); }

    QTreeWidgetItem *node(const QString &key) const {
        for (QTreeWidgetItemIterator it(tree()); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole).toString() == key)
                return *it;
        }
        return nullptr;
    }

    // The colour the widget really paints a little inside its top-left corner, as 0x00BBGGRR.
    static uint32_t painted(QWidget *w) {
        const QColor c = w->grab().toImage().pixelColor(4, 4);
        return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
    }

    // QARN.ini as the description reader reads it again at every selection.
    void writeIni(int language, int prototype) {
        app.write("QARN.ini", QStringLiteral("LANGUAGE %1\r\nPORT 1\r\nPROTOTYPE %2\r\n")
                                  .arg(language)
                                  .arg(prototype)
                                  .toLatin1());
    }

    static QString storeFolder(const QString &board, const QString &version) {
        return QStringLiteral("torvane/FieldKit/M100/") + board + u'/' + version + u'/';
    }

    // A firmware folder with a description, its kernel (5 bytes, sum 018A) and a program image
    // of one data block, one blank block and 8 bytes (16-byte blocks, 256 bytes of flash).
    void writeFirmware(const QString &version, int cput, const QString &file = "FIRM.IFT",
                       const QByteArray &extra = {}, const QString &board = "MAIN") {
        const QString folder = storeFolder(board, version);
        const QByteArray description = "CPUT " + QByteArray::number(cput) +
                                       "\r\nDF KERNEL.BIN\r\nPFN PROG.BIN\r\nUCS 018A\r\n"
                                       "FSA 00000000\r\nFEA 000000FF\r\nFCS " +
                                       flashSum() + "\r\nPDSIZE 16\r\nUT 1\r\n" + extra;
        app.write(folder + file, description);
        app.write(folder + "KERNEL.BIN", QByteArray::fromHex("01223344f0"));
        app.write(folder + "PROG.BIN", image());
    }

    static QByteArray image() {
        QByteArray bytes;
        for (int i = 0; i < 16; ++i)
            bytes.append(char(0x10 + i));
        bytes.append(QByteArray(16, char(0xFF)));
        bytes.append(QByteArray::fromHex("a0a1a2a3a4a5a6a7"));
        return bytes;
    }

    // The sum of the flash after a good download: the image, then FF up to 256 bytes.
    static QByteArray flashSum() {
        QByteArray flash = image();
        flash.append(QByteArray(256 - flash.size(), char(0xFF)));
        uint32_t sum = 0;
        for (const char b : flash)
            sum += uint8_t(b);
        return QByteArray::number(sum & 0xFFFF, 16).toUpper().rightJustified(4, '0');
    }

    void clickNode(const QString &key) {
        QTreeWidgetItem *item = node(key);
        ASSERT_NE(item, nullptr) << key.toStdString();
        if (child<QGroupBox>("fraSetup")->isVisible())
            QTest::mouseClick(button("cmdSetupOK"), Qt::LeftButton);
        tree()->scrollToItem(item);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                          tree()->visualItemRect(item).center());
    }

    // Every message box is closed with OK as soon as it is up; what it showed is kept.
    struct SeenBox {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::Warning;
        QMessageBox::StandardButtons buttons;
    };
    void watchForMessageBoxes() {
        boxWatch.setInterval(10);
        QObject::connect(&boxWatch, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            box->button(QMessageBox::Ok)->click();
        });
        boxWatch.start();
    }

    TempAppDir app;
    QTimer boxWatch;
    QList<SeenBox> boxes;
    RecordingHostReturn host;
    QList<int16_t> errorWindows; // gErrNo each time the error window was opened
    std::function<bool(QString &)> runner;
    double clockSeconds = 0.0;
    int portsMade = 0;
    std::unique_ptr<frmQARN_UI> window;
};

// Both the colour the widget keeps and the colour it paints.
#define EXPECT_BACK(widget, bgr)                                                                   \
    do {                                                                                           \
        EXPECT_EQ(BackColour(widget), uint32_t(bgr)) << (widget)->objectName().toStdString();      \
        EXPECT_EQ(WindowTest::painted(widget), uint32_t(bgr))                                      \
            << (widget)->objectName().toStdString();                                               \
    } while (0)
