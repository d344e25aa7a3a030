// The built tool as an installation runs it: copied into a temporary application folder beside
// the stand-in host, shown on a private X server and driven with xdotool like a user would.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 20000;

struct ToolRun {
    const char *name;
    QByteArray qarnIni; // empty: none
    bool startedByHost; // "torvane.exe start" instead of the tool itself
    const char *shown;  // what the window dump must hold; %1 is the application folder
};

class EndToEnd : public ::testing::TestWithParam<ToolRun> {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "e2e_tests", *argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "Xvfb and xdotool are needed";
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForReadyRead(kWaitMs));
        env.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readAllStandardOutput().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QARN_DUMP_WINDOWS", app.filePath("windows.txt"));
        ASSERT_TRUE(QFile::copy(QARN_EXE, app.filePath("qarn")));
        ASSERT_TRUE(QFile::copy(TORVANE_EXE, app.filePath("torvane.exe")));
    }
    void TearDown() override {
        for (QProcess *p : {&tool, &xvfb}) {
            p->kill();
            p->waitForFinished(kWaitMs);
        }
    }
    // Runs xdotool on the private display and gives its first line of output.
    QString xdotool(const QStringList &arguments) {
        QProcess x;
        x.setProcessEnvironment(env);
        x.start("xdotool", arguments);
        x.waitForFinished(kWaitMs);
        return QString::fromUtf8(x.readAllStandardOutput()).section('\n', 0, 0);
    }
    // Waits for the stand-in host's record of its start; its folder and the record are watched.
    QByteArray hostLog() {
        QFileSystemWatcher watcher({app.path()});
        QEventLoop loop;
        const auto check = [&] {
            watcher.addPath(app.filePath("torvane-host.log"));
            if (app.read("torvane-host.log").contains("== end\n"))
                loop.quit();
        };
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, check);
        QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, check);
        QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
        if (!app.read("torvane-host.log").contains("== end\n"))
            loop.exec();
        return app.read("torvane-host.log");
    }

    TempAppDir app;
    QProcess xvfb, tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_P(EndToEnd, ErrorWindowOkHandsSubErrorBackAndRestartsTheHost) {
    const ToolRun &run = GetParam();
    const QByteArray handOff = "MAIN SET\r\nFdir /store\r\nSelectedModel QX10\r\nSelectedPCB M\r\n";
    app.write("torvane.cha", handOff);
    if (!run.qarnIni.isEmpty()) {
        app.write("QARN.ini", run.qarnIni);
        app.write("torvane.ini", "lang EN\r\nlang English\r\n");
        app.write("FirmDesc.txt", "TGBN M\r\nTGBNDESC Main board\r\n");
    }
    tool.setProcessEnvironment(env);
    tool.setWorkingDirectory(app.path());
    // Files, not pipes: a program started detached inherits them and outlives this one.
    tool.setStandardOutputFile(app.filePath("out.txt"));
    tool.setStandardErrorFile(app.filePath("err.txt"));
    tool.start(app.filePath(run.startedByHost ? "torvane.exe" : "qarn"),
               run.startedByHost ? QStringList("start") : QStringList());
    const QString window = xdotool({"search", "--sync", "--onlyvisible", "--name", " Error$"});
    ASSERT_FALSE(window.isEmpty()) << "the error window did not appear";
    EXPECT_TRUE(
        QString::fromUtf8(app.read("windows.txt")).contains(QString(run.shown).arg(app.path())))
        << app.read("windows.txt").toStdString();
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", "space"}); // OK has the focus
    const QByteArray log = hostLog();
    tool.waitForFinished(kWaitMs); // the tool, or the host that started it, has ended well
    EXPECT_EQ(tool.state() + tool.exitCode(), QProcess::NotRunning);
    EXPECT_TRUE(log.contains("arguments: goToMain\nworking folder: " + app.path().toUtf8() +
                             "\ntorvane.cha: \"SUB ERROR\\r\\n\"\n"))
        << log.toStdString();
    EXPECT_EQ(log.count("== end\n"), 1);
    EXPECT_EQ(app.read("torvane.cha"), QByteArray::fromHex("535542204552524f520d0a"));
    EXPECT_EQ(app.read("torvane.cha.bak"), handOff);
    EXPECT_FALSE(app.exists("torvane.cha.buk"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(FailedStartUp, EndToEnd, ::testing::Values(
    ToolRun{"NoSettingsInJapanese", "", false,
        "window: Velmora QARN (Ver.3.31J)  Error\n  lblErrorCode: E130\n  lblError: 指定されたファイルがオープンできませんでした。"
        "\\n  ファイル名: %1/QARN.ini\n  cmdErrorOK: メインメニューへ戻る\n"},
    ToolRun{"NoCatalogueWhenStartedByTheHost", "LANGUAGE 1\r\nPROTOTYPE 1\r\n", true,
        "  lblErrorCode: E160\n  lblError: Could not open the selected file.\\n  File name: %1/torvane.conf\n"
        "  cmdErrorOK: Return to Main Menu\nwindow: Velmora QARN (Ver.3.31E) Download\n"}),
    [](const ::testing::TestParamInfo<ToolRun> &info) { return std::string(info.param.name); });
// clang-format on

} // namespace
