#include "app_windows.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QApplication &application() {
    static int argc = 1;
    static char name[] = "app_windows_tests";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// A window that notes in a shared list when it is closed.
class NotingWindow : public QWidget {
public:
    NotingWindow(const QString &name, QStringList &closed) : m_closed(closed) {
        setObjectName(name);
        setWindowTitle(name);
    }

protected:
    void closeEvent(QCloseEvent *event) override {
        m_closed << objectName();
        event->accept();
    }

private:
    QStringList &m_closed;
};

class AppWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        qunsetenv("QARN_DUMP_WINDOWS");
    }
    void TearDown() override { qunsetenv("QARN_DUMP_WINDOWS"); }
    TempAppDir dir;
};

TEST_F(AppWindowsTest, ClosesEveryWindowMostRecentlyOpenedFirst) {
    QStringList closed;
    OpenToolWindow(new NotingWindow("first", closed));
    OpenToolWindow(new NotingWindow("second", closed));
    OpenToolWindow(new NotingWindow("third", closed));
    AppHostReturnUi().closeAllWindows();
    EXPECT_EQ(closed, QStringList({"third", "second", "first"}));
    for (QWidget *widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible()) << widget->objectName().toStdString();
}

TEST_F(AppWindowsTest, ErrorWindowOpensNotModalWithTheCurrentError) {
    gErrNo = 140;
    gErrFileName = "/app/FirmDesc.txt";
    ShowErrorWindow();
    QWidget *shown = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->objectName() == "frmError")
            shown = widget;
    }
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(shown->isModal());
    EXPECT_EQ(shown->findChild<QLabel *>("lblErrorCode")->text(), QStringLiteral("E140"));
    AppHostReturnUi().closeAllWindows();
    EXPECT_FALSE(shown->isVisible());
}

TEST_F(AppWindowsTest, DumpHookWritesTitleAndTextsOfAnOpenedWindow) {
    const QString dump = dir.filePath("windows.txt");
    qputenv("QARN_DUMP_WINDOWS", dump.toUtf8());
    QStringList closed;
    auto *window = new NotingWindow("frmSample", closed);
    auto *label = new QLabel("line one\r\nline two", window);
    label->setObjectName("lblSample");
    auto *button = new QPushButton(QString::fromUtf8("戻る"), window);
    button->setObjectName("cmdSample");
    new QLabel("unnamed labels are left out", window);
    OpenToolWindow(window);
    EXPECT_EQ(QString::fromUtf8(dir.read("windows.txt")),
              QString::fromUtf8("window: frmSample\n  lblSample: line one\\nline two\n"
                                "  cmdSample: 戻る\n"));
    AppHostReturnUi().closeAllWindows();
}

} // namespace
