// The built tool as an installation runs it: copied into a temporary application folder beside
// the stand-in host, shown on a private X server and driven with xdotool like a user would.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 20000;

// The host starts the tool; without torvane.conf its error window follows the main window.
TEST(EndToEnd, ErrorWindowOkHandsSubErrorBackAndRestartsTheHost) {
    static int argc = 1;
    static char name[] = "e2e_tests", *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "Xvfb and xdotool are needed";
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForReadyRead(kWaitMs));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readAllStandardOutput().trimmed()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    const auto xdotool = [&](const QStringList &arguments) { // its first line of output
        QProcess x;
        x.setProcessEnvironment(env);
        x.start("xdotool", arguments);
        x.waitForFinished(kWaitMs);
        return QString::fromUtf8(x.readAllStandardOutput()).section('\n', 0, 0);
    };
    TempAppDir app;
    ASSERT_TRUE(QFile::copy(QARN_EXE, app.filePath("qarn")));
    ASSERT_TRUE(QFile::copy(TORVANE_EXE, app.filePath("torvane.exe")));
    app.write("torvane.cha", "MAIN SET\r\nFdir /s\r\nSelectedModel Q\r\nSelectedPCB M\r\n");
    app.write("QARN.ini", "LANGUAGE 1\r\nPROTOTYPE 1\r\n");
    app.write("torvane.ini", "lang EN\r\nlang English\r\n");
    app.write("FirmDesc.txt", "TGBN M\r\nTGBNDESC Main board\r\n");
    // What the windows show comes from the test's own library, preloaded into the tool (and the
    // host it starts), not into xdotool: built with the sanitizers, it would end xdotool.
    QProcessEnvironment toolEnv = env;
    toolEnv.insert("LD_PRELOAD", WINDOW_DUMP_LIB);
    toolEnv.insert("ASAN_OPTIONS", "verify_asan_link_order=0");
    toolEnv.insert("QARN_DUMP_WINDOWS", app.filePath("windows.txt"));
    QProcess tool; // files, not pipes: the host started detached inherits them
    tool.setProcessEnvironment(toolEnv);
    tool.setStandardOutputFile(app.filePath("out.txt"));
    tool.setStandardErrorFile(app.filePath("err.txt"));
    tool.start(app.filePath("torvane.exe"), {"start"});
    const QString window = xdotool({"search", "--sync", "--onlyvisible", "--name", " Error$"});
    ASSERT_FALSE(window.isEmpty()) << "the error window did not appear";
    EXPECT_TRUE(QString::fromUtf8(app.read("windows.txt"))
                    .contains("  lblErrorCode: E160\n  lblError: Could not open the selected "
                              "file.\\n  File name: " +
                              app.filePath("torvane.conf")))
        << app.read("windows.txt").toStdString();
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", "space"}); // OK has the focus
    // The stand-in host appends its record once it has been started.
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.read("torvane-host.log").contains("== end\n"); },
                                kWaitMs));
    const QByteArray log = app.read("torvane-host.log");
    EXPECT_EQ(log.mid(log.indexOf("arguments")),
              "arguments: goToMain\nworking folder: " + app.path().toUtf8() +
                  "\ntorvane.cha: \"SUB ERROR\\r\\n\"\ntorvane.cha hex: 53 55 42 20 45 52 52 4F 52 "
                  "0D 0A\n== end\n");
    tool.waitForFinished(kWaitMs); // the tool, or the host that started it, ended well
    EXPECT_EQ(tool.state() + tool.exitCode(), QProcess::NotRunning);
}

} // namespace
