#include "frmError.h"
#include "return_to_host.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

QApplication &application() {
    static int argc = 1;
    static char name[] = "error_window_tests";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    bool startHost(const QString &, const QStringList &arguments, const QString &) override {
        events << "start " + arguments.join(u' ');
        return true;
    }
    QStringList events;
};

class ErrorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        gColorYellow = 0x0080FFFF;
    }
    QString labelText(const frmError &window, const char *name) const {
        const auto *label = window.findChild<QLabel *>(name);
        return label ? label->text() : QStringLiteral("(no %1)").arg(name);
    }

    TempAppDir dir;
    RecordingHostReturn host;
};

struct WindowCase {
    int32_t langBase;
    int16_t errNo;
    const char *fileName;
    const char *funcName;
    const char *code;
    const char *title;
    const char *message;
    const char *button;
};

TEST_F(ErrorWindowTest, ShowsCodeMessageAndButtonInTheCurrentLanguage) {
    const WindowCase cases[] = {
        {0, 130, "/app/QARN.ini", "", "E130", "Velmora QARN (Ver.3.31J)  Error",
         "指定されたファイルがオープンできませんでした。\n  ファイル名: /app/QARN.ini",
         "メインメニューへ戻る"},
        {100, 0, "", "", "E0", "Velmora QARN (Ver.3.31E) Error", "Error Detection Error",
         "Return to Main Menu"},
        {100, 302, "", "AdjBitRate", "E302", "Velmora QARN (Ver.3.31E) Error",
         "Could not complete serial communication adjustment within the time limit.\n"
         "Check the following items:\n  Cable connection\n  Power of the connected device\n"
         "  If the Start LED of the control box is lit\n\n  Function: AdjBitRate",
         "Return to Main Menu"},
        {0, 331, "", "OpenPort", "E331", "Velmora QARN (Ver.3.31J)  Error", nullptr,
         "メインメニューへ戻る"},
    };
    for (const WindowCase &c : cases) {
        SCOPED_TRACE(c.code);
        gLangBase = c.langBase;
        gErrNo = c.errNo;
        gErrFileName = QString::fromUtf8(c.fileName);
        gFuncName = QString::fromUtf8(c.funcName);
        frmError window(host);
        EXPECT_EQ(window.windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(labelText(window, "lblErrorCode"), QString::fromUtf8(c.code));
        if (c.message) {
            EXPECT_EQ(labelText(window, "lblError"), QString::fromUtf8(c.message));
        }
        const auto *button = window.findChild<QPushButton *>("cmdErrorOK");
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf8(c.button));
        EXPECT_TRUE(button->isEnabled());
        EXPECT_NE(window.findChild<QWidget *>("Shape1"), nullptr);
    }
}

TEST_F(ErrorWindowTest, ButtonIsPaintedInTheYellowOfTheSharedColour) {
    frmError window(host);
    window.show();
    auto *button = window.findChild<QPushButton *>("cmdErrorOK");
    ASSERT_NE(button, nullptr);
    const QImage image = button->grab().toImage();
    qsizetype yellow = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            yellow += (c.red() == 0xFF && c.green() == 0xFF && c.blue() == 0x80) ? 1 : 0;
        }
    }
    EXPECT_GT(yellow, qsizetype(image.width()) * image.height() / 2);
}

// The longest texts: a run-time line, a long file name, and 192's long line in Japanese.
TEST_F(ErrorWindowTest, LongestMessagesFitTheLabelWithoutCutting) {
    const int16_t numbers[] = {331, 302, 149};
    for (const int16_t n : numbers) {
        SCOPED_TRACE(n);
        gLangBase = 0;
        gErrNo = n;
        gRunErrNo = n == 149 ? 6 : 0;
        gFuncName = QStringLiteral("CheckFROMCheckSum");
        gErrFileName = QStringLiteral("/opt/velmora/qarn/application/folder/FirmDesc.txt");
        frmError window(host);
        window.show();
        auto *label = window.findChild<QLabel *>("lblError");
        ASSERT_NE(label, nullptr);
        EXPECT_LE(label->heightForWidth(label->width()), label->height());
        EXPECT_LE(label->minimumSizeHint().width(), label->width());
    }
}

TEST_F(ErrorWindowTest, OkHandsTheFailureBackToTheHost) {
    dir.write("torvane.cha", "MAIN SET\r\n");
    dir.write("torvane.exe", "#!/bin/sh\n");
    QFile::setPermissions(dir.filePath("torvane.exe"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    gErrNo = 130;
    frmError window(host);
    window.findChild<QPushButton *>("cmdErrorOK")->click();
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray::fromHex("535542204552524f520d0a"));
    EXPECT_EQ(dir.read("torvane.cha.bak"), QByteArray("MAIN SET\r\n"));
    EXPECT_EQ(host.events, QStringList({"start goToMain", "close", "end"}));
}

} // namespace
