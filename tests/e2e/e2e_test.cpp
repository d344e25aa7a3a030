// The built tool as an installation runs it: copied into a temporary application folder beside
// the stand-in host, shown on a private X server, and driven with xdotool like a user would.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace {

constexpr int kWaitMs = 20000;

QCoreApplication &application() {
    static int argc = 1;
    static char name[] = "e2e_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Waits, at most timeoutMs, until a file in a folder satisfies the condition; the folder is
// watched, so the wait wakes when the file changes.
bool waitForFile(const QString &folder, const QString &name,
                 const std::function<bool(const QByteArray &)> &done, int timeoutMs) {
    const QString path = QDir(folder).filePath(name);
    if (done(readFile(path)))
        return true;
    QFileSystemWatcher watcher({folder});
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (!watcher.files().contains(path) && QFile::exists(path))
            watcher.addPath(path);
        if (done(readFile(path)))
            loop.quit();
    };
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, check);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, check);
    timeout.start(timeoutMs);
    check();
    if (!done(readFile(path)))
        loop.exec();
    return done(readFile(path));
}

// A private X server on a display number it picks itself.
class XServer {
public:
    XServer() {
        m_process.start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        while (m_process.waitForReadyRead(kWaitMs)) {
            m_output += m_process.readAllStandardOutput();
            if (m_output.contains('\n'))
                break;
        }
        const QByteArray number = m_output.trimmed();
        if (!number.isEmpty())
            m_display = ':' + QString::fromLatin1(number);
    }
    ~XServer() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QByteArray m_output;
    QString m_display;
};

struct ToolRun {
    const char *name;
    QByteArray qarnIni;    // empty: no QARN.ini
    QByteArray torvaneIni; // empty: no torvane.ini
    bool startedByHost;    // through "torvane.exe start" instead of directly
    const char *title;
    const char *code;
    const char *message; // "%1" stands for the application folder
    const char *button;
};

void PrintTo(const ToolRun &run, std::ostream *out) {
    *out << run.name;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        for (const char *tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
        ASSERT_TRUE(m_app.isValid());
        ASSERT_TRUE(QFile::copy(QStringLiteral(QARN_EXE), appFile("qarn")));
        ASSERT_TRUE(QFile::copy(QStringLiteral(TORVANE_EXE), appFile("torvane.exe")));
        ASSERT_FALSE(m_x.display().isEmpty()) << "Xvfb did not start";
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("DISPLAY", m_x.display());
        m_env.insert("QT_QPA_PLATFORM", "xcb");
        m_env.insert("QARN_DUMP_WINDOWS", appFile("windows.txt"));
    }
    void TearDown() override {
        if (m_tool.state() != QProcess::NotRunning) {
            m_tool.kill();
            m_tool.waitForFinished(5000);
        }
    }

    QString appFile(const QString &name) const { return QDir(m_app.path()).filePath(name); }

    // Runs xdotool on the private display; its output, or an empty text after a failure.
    QString xdotool(const QStringList &arguments) {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), arguments);
        if (!process.waitForFinished(kWaitMs)) {
            process.kill();
            process.waitForFinished(5000);
            return QString();
        }
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    QTemporaryDir m_app;
    XServer m_x;
    QProcessEnvironment m_env;
    QProcess m_tool;
};

class EndToEndTest : public EndToEnd, public ::testing::WithParamInterface<ToolRun> {};

const QByteArray kHostHandOff = "MAIN SET\r\nFdir /store\r\nSelectedModel QX10\r\n"
                                "SelectedPCB MAIN\r\n";

TEST_P(EndToEndTest, ErrorWindowOkHandsSubErrorBackAndStartsTheHost) {
    const ToolRun &run = GetParam();
    ASSERT_TRUE(writeFile(appFile("torvane.cha"), kHostHandOff));
    if (!run.qarnIni.isEmpty()) {
        ASSERT_TRUE(writeFile(appFile("QARN.ini"), run.qarnIni));
    }
    if (!run.torvaneIni.isEmpty()) {
        ASSERT_TRUE(writeFile(appFile("torvane.ini"), run.torvaneIni));
    }

    m_tool.setProcessEnvironment(m_env);
    m_tool.setWorkingDirectory(m_app.path());
    // Files rather than pipes: a program started detached inherits them and outlives this one.
    m_tool.setStandardOutputFile(appFile("stdout.txt"));
    m_tool.setStandardErrorFile(appFile("stderr.txt"));
    if (run.startedByHost) {
        m_tool.start(appFile("torvane.exe"), {"start"});
        ASSERT_TRUE(m_tool.waitForFinished(kWaitMs));
        ASSERT_EQ(m_tool.exitCode(), 0);
    } else {
        m_tool.start(appFile("qarn"), {});
        ASSERT_TRUE(m_tool.waitForStarted(kWaitMs));
    }

    const QString window = xdotool({"search", "--sync", "--name", " Error$"}).section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty()) << "the error window did not appear";
    EXPECT_EQ(xdotool({"getwindowname", window}), QString::fromUtf8(run.title));

    const QString seen = QString::fromUtf8(readFile(appFile("windows.txt")));
    const QString expected =
        QStringLiteral("window: %1\n  lblErrorCode: %2\n  lblError: %3\n  cmdErrorOK: %4\n")
            .arg(QString::fromUtf8(run.title), QString::fromUtf8(run.code),
                 QString::fromUtf8(run.message).arg(m_app.path()), QString::fromUtf8(run.button));
    EXPECT_EQ(seen, expected);

    // The OK button has the focus: the space bar presses it.
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", "space"});

    if (!run.startedByHost) {
        ASSERT_TRUE(m_tool.waitForFinished(kWaitMs)) << "the tool did not end";
        EXPECT_EQ(m_tool.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_tool.exitCode(), 0);
    }
    ASSERT_TRUE(waitForFile(
        m_app.path(), "torvane-host.log",
        [](const QByteArray &log) { return log.contains("== end\n"); }, kWaitMs))
        << "the host was not started";

    EXPECT_EQ(readFile(appFile("torvane.cha")), QByteArray::fromHex("535542204552524f520d0a"));
    EXPECT_EQ(readFile(appFile("torvane.cha.bak")), kHostHandOff);
    EXPECT_FALSE(QFile::exists(appFile("torvane.cha.buk")));
    const QByteArray log = readFile(appFile("torvane-host.log"));
    EXPECT_TRUE(log.contains("arguments: goToMain\n")) << log.constData();
    EXPECT_TRUE(log.contains("working folder: " + m_app.path().toUtf8() + "\n")) << log.constData();
    EXPECT_TRUE(log.contains("torvane.cha: \"SUB ERROR\\r\\n\"\n")) << log.constData();
    EXPECT_EQ(log.count("== end\n"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    FailedStartUp, EndToEndTest,
    ::testing::Values(
        ToolRun{"MissingSettingsFileInJapanese",
                {},
                {},
                false,
                "Velmora QARN (Ver.3.31J)  Error",
                "E130",
                "指定されたファイルがオープンできませんでした。\\n  ファイル名: %1/QARN.ini",
                "メインメニューへ戻る"},
        ToolRun{"MissingHostListsInEnglishStartedByTheHost",
                "LANGUAGE 1\r\n",
                {},
                true,
                "Velmora QARN (Ver.3.31E) Error",
                "E100",
                "Could not open the selected file.\\n  File name: %1/torvane.ini",
                "Return to Main Menu"}),
    [](const ::testing::TestParamInfo<ToolRun> &info) { return std::string(info.param.name); });

// Start-up succeeds but the main window's load step finds no torvane.conf: both windows are
// shown, the error window in front, and its OK ends the tool with both windows.
TEST_F(EndToEnd, LoadFailureShowsBothWindowsAndOkEndsTheTool) {
    ASSERT_TRUE(writeFile(appFile("QARN.ini"), "LANGUAGE 1\r\nPORT 1\r\nPROTOTYPE 1\r\n"));
    ASSERT_TRUE(writeFile(appFile("torvane.ini"), "lang EN\r\nlang English\r\n"));
    ASSERT_TRUE(writeFile(appFile("torvane.cha"), kHostHandOff));
    ASSERT_TRUE(writeFile(appFile("FirmDesc.txt"), "TGBN MAIN\r\nTGBNDESC Main board\r\n"));
    m_tool.setProcessEnvironment(m_env);
    m_tool.setWorkingDirectory(m_app.path());
    m_tool.setStandardOutputFile(appFile("stdout.txt"));
    m_tool.setStandardErrorFile(appFile("stderr.txt"));
    m_tool.start(appFile("qarn"), {});
    ASSERT_TRUE(m_tool.waitForStarted(kWaitMs));

    const QString mainWindow =
        xdotool({"search", "--sync", "--onlyvisible", "--name", " Download$"}).section('\n', 0, 0);
    ASSERT_FALSE(mainWindow.isEmpty()) << "the main window did not appear";
    const QString errorWindow =
        xdotool({"search", "--sync", "--onlyvisible", "--name", " Error$"}).section('\n', 0, 0);
    ASSERT_FALSE(errorWindow.isEmpty()) << "the error window did not appear";
    EXPECT_EQ(xdotool({"getwindowname", mainWindow}),
              QStringLiteral("Velmora QARN (Ver.3.31E) Download"));
    const QString seen = QString::fromUtf8(readFile(appFile("windows.txt")));
    EXPECT_TRUE(seen.contains("  lblErrorCode: E160\n")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("File name: " + appFile("torvane.conf") + "\n"))
        << seen.toStdString();
    EXPECT_TRUE(seen.contains("window: Velmora QARN (Ver.3.31E) Download\n")) << seen.toStdString();

    xdotool({"windowfocus", "--sync", errorWindow});
    xdotool({"key", "--clearmodifiers", "space"});
    ASSERT_TRUE(m_tool.waitForFinished(kWaitMs)) << "the tool did not end";
    EXPECT_EQ(m_tool.exitCode(), 0);
    ASSERT_TRUE(waitForFile(
        m_app.path(), "torvane-host.log",
        [](const QByteArray &log) { return log.contains("== end\n"); }, kWaitMs));
    EXPECT_EQ(readFile(appFile("torvane.cha")), QByteArray::fromHex("535542204552524f520d0a"));
}

// Without torvane.exe the tool still writes its result, says so in a message box and ends.
TEST_F(EndToEnd, WithoutTheHostTheResultIsWrittenMessage190ShownAndTheToolEnds) {
    ASSERT_TRUE(QFile::remove(appFile("torvane.exe")));
    ASSERT_TRUE(writeFile(appFile("torvane.cha"), kHostHandOff));
    m_env.insert("PATH", m_app.path()); // nothing named torvane.exe on the search path either
    m_tool.setProcessEnvironment(m_env);
    m_tool.setWorkingDirectory(m_app.path());
    m_tool.setStandardOutputFile(appFile("stdout.txt"));
    m_tool.setStandardErrorFile(appFile("stderr.txt"));
    m_tool.start(appFile("qarn"), {});
    ASSERT_TRUE(m_tool.waitForStarted(kWaitMs));

    const QString errorWindow =
        xdotool({"search", "--sync", "--name", " Error$"}).section('\n', 0, 0);
    ASSERT_FALSE(errorWindow.isEmpty()) << "the error window did not appear";
    xdotool({"windowfocus", "--sync", errorWindow});
    xdotool({"key", "--clearmodifiers", "space"});

    // The message box carries the application's title alone.
    const QString box =
        xdotool({"search", "--sync", "--name", "^Velmora QARN \\(Ver\\.3\\.31J\\) $"})
            .section('\n', 0, 0);
    ASSERT_FALSE(box.isEmpty()) << "the message box did not appear";
    EXPECT_EQ(readFile(appFile("torvane.cha")), QByteArray::fromHex("535542204552524f520d0a"));
    const QString seen = QString::fromUtf8(readFile(appFile("windows.txt")));
    EXPECT_EQ(seen.count(
                  QString::fromUtf8("torvane.exeが組み込まれていないため、処理を続行できません。")),
              1)
        << seen.toStdString();

    xdotool({"windowfocus", "--sync", box});
    xdotool({"key", "--clearmodifiers", "Return"});
    ASSERT_TRUE(m_tool.waitForFinished(kWaitMs)) << "the tool did not end";
    EXPECT_EQ(m_tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_tool.exitCode(), 0);
    EXPECT_EQ(readFile(appFile("torvane.cha.bak")), kHostHandOff);
    EXPECT_FALSE(QFile::exists(appFile("torvane-host.log")));
}

} // namespace
