#include "return_to_host.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kHostHandOff = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX10\r\n"
                                "SelectedPCB MAIN\r\n";

// Records what the return to the host asked of the window system, in order. When the host is
// started it also notes what torvane.cha held at that moment.
class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    bool startHost(const QString &program, const QStringList &arguments,
                   const QString &workingFolder) override {
        events << "start: " + program + " | " + arguments.join(u' ') + " | " + workingFolder;
        QFile cha(QDir(workingFolder).filePath("torvane.cha"));
        chaAtStart = cha.open(QIODevice::ReadOnly) ? cha.readAll() : QByteArray("(none)");
        return startSucceeds;
    }

    QStringList events;
    QByteArray chaAtStart;
    bool startSucceeds = true;
};

// The search path emptied for one test, so that only the application folder can hold the host.
class EmptySearchPath {
public:
    EmptySearchPath() : m_saved(qgetenv("PATH")) { qputenv("PATH", m_empty.path().toLocal8Bit()); }
    ~EmptySearchPath() { qputenv("PATH", m_saved); }
    QString path() const { return m_empty.path(); }

private:
    QByteArray m_saved;
    QTemporaryDir m_empty;
};

void writeHostProgram(const QString &path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nexit 0\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

class ReturnToHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeHostProgram(dir.filePath("torvane.exe"));
        dir.write("torvane.cha", kHostHandOff);
    }
    QStringList expectedEndEvents() const {
        return {"start: " + dir.filePath("torvane.exe") + " | goToMain | " + dir.path(), "close",
                "end"};
    }

    EmptySearchPath searchPath;
    TempAppDir dir;
    RecordingHostReturn ui;
};

struct ResultCase {
    const char *result;
    QByteArray line;
};

TEST_F(ReturnToHostTest, WritesTheResultLineKeepsTheHostFileAndStartsTheHost) {
    const ResultCase cases[] = {
        {"Normal", QByteArray::fromHex("53554220454e440d0a")},       // SUB END CR LF
        {"NormalNG", QByteArray::fromHex("535542204552524f520d0a")}, // SUB ERROR CR LF
        {"normal", QByteArray()},                                    // any other text
        {"", QByteArray()},
    };
    for (const ResultCase &c : cases) {
        SCOPED_TRACE(c.result);
        dir.write("torvane.cha", kHostHandOff);
        QFile::remove(dir.filePath("torvane.cha.bak"));
        ui.events.clear();

        ReturnToHost(c.result, ui);

        EXPECT_TRUE(dir.exists("torvane.cha"));
        EXPECT_EQ(dir.read("torvane.cha"), c.line);
        EXPECT_EQ(dir.read("torvane.cha.bak"), kHostHandOff);
        EXPECT_FALSE(dir.exists("torvane.cha.buk"));
        EXPECT_EQ(ui.events, expectedEndEvents());
        EXPECT_EQ(ui.chaAtStart, c.line); // the host starts only after the new file is in place
    }
}

TEST_F(ReturnToHostTest, OlderBackupIsReplacedByTheCurrentFile) {
    dir.write("torvane.cha.bak", "MAIN SET\r\nFdir OLD\r\n");
    ReturnToHost("Normal", ui);
    EXPECT_EQ(dir.read("torvane.cha.bak"), kHostHandOff);
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
}

TEST_F(ReturnToHostTest, ReadOnlyHandOffFileIsStillReplacedAndBackedUp) {
    QFile::setPermissions(dir.filePath("torvane.cha"), QFileDevice::ReadOwner);
    ReturnToHost("Normal", ui);
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
    EXPECT_EQ(dir.read("torvane.cha.bak"), kHostHandOff);
    EXPECT_EQ(ui.events, expectedEndEvents());
}

TEST_F(ReturnToHostTest, WithoutAHandOffFileTheResultIsCreatedAndAnOlderBackupDeleted) {
    QFile::remove(dir.filePath("torvane.cha"));
    dir.write("torvane.cha.bak", "older run\r\n");
    ReturnToHost("NormalNG", ui);
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB ERROR\r\n"));
    EXPECT_FALSE(dir.exists("torvane.cha.bak"));
    EXPECT_FALSE(dir.exists("torvane.cha.buk"));
    EXPECT_EQ(ui.events, expectedEndEvents());
}

TEST_F(ReturnToHostTest, LeftoverNewFileOfAnEarlierRunIsReplaced) {
    dir.write("torvane.cha.buk", "half written by a crash");
    ReturnToHost("Normal", ui);
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
    EXPECT_FALSE(dir.exists("torvane.cha.buk"));
}

TEST_F(ReturnToHostTest, MakesTheApplicationFolderCurrent) {
    QDir::setCurrent(QDir::rootPath());
    ReturnToHost("Normal", ui);
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(dir.path()).canonicalPath());
}

TEST_F(ReturnToHostTest, NewFileNamedByALinkIsNotWrittenThroughTheLink) {
    QTemporaryDir elsewhere;
    const QString victim = QDir(elsewhere.path()).filePath("victim.txt");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    ASSERT_TRUE(QFile::link(victim, dir.filePath("torvane.cha.buk")));

    ReturnToHost("Normal", ui);

    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
}

struct BlockedCase {
    const char *name;
    const char *blockingFolder; // a folder where a file must be created or removed
    const char *namedFile;      // the file the message names
};

// A folder in the way cannot be written or removed as a file, even by root.
TEST_F(ReturnToHostTest, FailedHandOffKeepsTheHostFileTellsTheUserAndDoesNotStartTheHost) {
    const BlockedCase cases[] = {
        {"new file cannot be created", "torvane.cha.buk", "torvane.cha.buk"},
        {"backup cannot be replaced", "torvane.cha.bak", "torvane.cha.bak"},
    };
    for (const BlockedCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempAppDir local;
        writeHostProgram(local.filePath("torvane.exe"));
        local.write("torvane.cha", kHostHandOff);
        local.write(QString(c.blockingFolder) + "/inside.txt", "x");
        RecordingHostReturn recorder;

        ReturnToHost("NormalNG", recorder);

        EXPECT_EQ(local.read("torvane.cha"), kHostHandOff); // byte for byte as the host left it
        EXPECT_FALSE(QFileInfo(local.filePath("torvane.cha.buk")).isFile());
        ASSERT_EQ(recorder.events.size(), 3) << recorder.events.join('\n').toStdString();
        EXPECT_TRUE(recorder.events.at(0).startsWith("message: "));
        EXPECT_TRUE(recorder.events.at(0).contains("ErrNo 75:"));
        EXPECT_TRUE(recorder.events.at(0).endsWith(local.filePath(c.namedFile)));
        EXPECT_EQ(recorder.events.mid(1), QStringList({"close", "end"}));
        EXPECT_EQ(gErrNo, 119);
    }
}

TEST_F(ReturnToHostTest, HandOffFileThatIsAFolderIsLeftAndTheHostNotStarted) {
    QFile::remove(dir.filePath("torvane.cha"));
    dir.write("torvane.cha/inside.txt", "x");
    ReturnToHost("Normal", ui);
    EXPECT_TRUE(QFileInfo(dir.filePath("torvane.cha")).isDir());
    EXPECT_FALSE(dir.exists("torvane.cha.buk"));
    ASSERT_FALSE(ui.events.isEmpty());
    EXPECT_TRUE(ui.events.at(0).startsWith("message: "));
    EXPECT_EQ(ui.events.mid(1), QStringList({"close", "end"}));
}

// The write-back into a folder it may not write. Root writes through any permission, so as root
// an unprivileged child process makes the attempt and reports through its exit status.
TEST_F(ReturnToHostTest, ReadOnlyFolderKeepsTheHostFileAndDoesNotStartTheHost) {
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(dir.path(), readOnly);
    // The host program must not be what stops it: anyone may run it.
    QFile::setPermissions(dir.filePath("torvane.exe"), readOnly);
    // The message names the file that could not be written; the host is not started.
    const auto endsWithMessageOnly = [this] {
        return ui.events.size() == 3 && ui.events.at(0).startsWith("message: ") &&
               ui.events.at(0).contains(dir.filePath("torvane.cha.buk")) &&
               ui.events.mid(1) == QStringList({"close", "end"});
    };
    if (::geteuid() == 0) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            constexpr uid_t kNobody = 65534;
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(2);
            ReturnToHost("Normal", ui);
            ::_exit(endsWithMessageOnly() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the user was not told and the tool went on; "
                                             "2: could not drop privileges";
    } else {
        ReturnToHost("Normal", ui);
        EXPECT_TRUE(endsWithMessageOnly()) << ui.events.join(" / ").toStdString();
    }
    QFile::setPermissions(dir.path(), readOnly | QFileDevice::WriteOwner);
    EXPECT_EQ(dir.read("torvane.cha"), kHostHandOff);
    EXPECT_FALSE(dir.exists("torvane.cha.buk"));
    EXPECT_FALSE(dir.exists("torvane.cha.bak"));
}

struct MissingHostCase {
    int32_t langBase;
    const char *message;
};

TEST_F(ReturnToHostTest, MissingHostShowsMessage190OnceAndStillEnds) {
    const MissingHostCase cases[] = {
        {0, "torvane.exeが組み込まれていないため、処理を続行できません。"},
        {100, "Can not continue (Torvane.exe does not exist)"},
    };
    QFile::remove(dir.filePath("torvane.exe"));
    for (const MissingHostCase &c : cases) {
        SCOPED_TRACE(c.langBase);
        gLangBase = c.langBase;
        ui.events.clear();
        ReturnToHost("Normal", ui);
        EXPECT_EQ(ui.events, QStringList({QString("message: ") + QString::fromUtf8(c.message),
                                          "close", "end"}));
        EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
    }
}

TEST_F(ReturnToHostTest, HostThatIsNotExecutableCountsAsMissing) {
    QFile::setPermissions(dir.filePath("torvane.exe"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ReturnToHost("Normal", ui);
    ASSERT_EQ(ui.events.size(), 3);
    EXPECT_TRUE(ui.events.at(0).startsWith("message: torvane.exe"));
}

TEST_F(ReturnToHostTest, HostOnTheSearchPathIsStartedWhenNotBesideTheTool) {
    QFile::remove(dir.filePath("torvane.exe"));
    const QString onPath = QDir(searchPath.path()).filePath("torvane.exe");
    writeHostProgram(onPath);
    ReturnToHost("Normal", ui);
    EXPECT_EQ(ui.events,
              QStringList({"start: " + onPath + " | goToMain | " + dir.path(), "close", "end"}));
}

TEST_F(ReturnToHostTest, HostThatCannotBeStartedLeavesTheWindowsOpen) {
    ui.startSucceeds = false;
    ReturnToHost("Normal", ui);
    ASSERT_EQ(ui.events.size(), 1);
    EXPECT_TRUE(ui.events.at(0).startsWith("start: "));
    EXPECT_EQ(dir.read("torvane.cha"), QByteArray("SUB END\r\n"));
}

TEST(HostReturnUi, DefaultStartRunsTheProgramDetachedInTheGivenFolder) {
    TempAppDir dir;
    const QString script = dir.filePath("host.sh");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nprintf '%s|%s' \"$1\" \"$(pwd)\" > started.tmp\n"
               "mv started.tmp started.txt\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);

    struct PlainUi : HostReturnUi {
        void showMessage(const QString &) override {}
        void closeAllWindows() override {}
        void endProcess() override {}
    } ui;
    // The detached program is no child to wait for; the folder is watched for its one file,
    // which appears atomically.
    static int argc = 1;
    static char name[] = "startup_flow_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    QFileSystemWatcher watcher({dir.path()});
    QEventLoop loop;
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
        if (dir.exists("started.txt"))
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    ASSERT_TRUE(ui.startHost(script, {"goToMain"}, dir.path()));
    if (!dir.exists("started.txt"))
        loop.exec();
    EXPECT_EQ(QString::fromUtf8(dir.read("started.txt")),
              "goToMain|" + QDir(dir.path()).canonicalPath());
    EXPECT_FALSE(ui.startHost(dir.filePath("no-such-program"), {}, dir.path()));
}

} // namespace
