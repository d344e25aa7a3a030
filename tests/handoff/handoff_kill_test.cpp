// The write-back of the result is killed with SIGKILL at hundreds of random moments. After each
// kill the host must find its own torvane.cha complete or the whole new one, never a part of
// either and never none; a backup next to the new file must be the host's file in full.

#include "temp_app_dir.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int kKills = 200;

// The host's hand-off, padded so that the backup copy takes a while.
QByteArray hostHandOff(int iteration) {
    QByteArray text = "MAIN SET\r\nFdir C:\\Torvane\\Firm\r\nSelectedModel QX10\r\n"
                      "SelectedPCB MAIN\r\n";
    text += "; hand-off " + QByteArray::number(iteration) + "\r\n";
    const QByteArray filler = "; " + QByteArray(76, char('a' + iteration % 26)) + "\r\n";
    while (text.size() < 256 * 1024)
        text += filler;
    return text;
}

struct Child {
    pid_t pid = -1;
    int out = -1; // its standard output
};

Child startChild(const QString &appDir, const char *result) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    const QByteArray dir = QFile::encodeName(appDir);
    char *argv[] = {const_cast<char *>(QARN_HANDOFF_CHILD), const_cast<char *>(dir.constData()),
                    const_cast<char *>(result), nullptr};
    Child child;
    if (posix_spawn(&child.pid, QARN_HANDOFF_CHILD, &actions, nullptr, argv, environ) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    child.out = pipeFds[0];
    return child;
}

// Blocks until the child is about to write back its result; false when it ended before.
bool waitReady(const Child &child) {
    char byte = 0;
    ssize_t n;
    do {
        n = ::read(child.out, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 && byte == 'R';
}

// The exit status, or -signal when a signal ended it.
int reap(Child &child) {
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(child.out);
    child.pid = -1;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

class HandOffKill : public ::testing::Test {
protected:
    void SetUp() override {
        // A host program beside the tool: the child reports it started without starting it.
        app.write("torvane.exe", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(app.filePath("torvane.exe"),
                              QFile::permissions(app.filePath("torvane.exe")) | QFile::ExeOwner);
    }
    QByteArray read(const char *name) const { return app.read(name); }
    bool exists(const char *name) const { return app.exists(name); }

    TempAppDir app;
};

TEST_F(HandOffKill, UndisturbedWriteBackLeavesResultAndBackup) {
    const QByteArray host = hostHandOff(0);
    app.write("torvane.cha", host);
    app.write("torvane.cha.bak", "older backup\r\n");
    app.write("torvane.cha.buk", "left over from a killed run");
    Child child = startChild(app.path(), "NormalNG");
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(waitReady(child));
    EXPECT_EQ(reap(child), 0);
    EXPECT_EQ(read("torvane.cha"), QByteArray("SUB ERROR\r\n"));
    EXPECT_EQ(read("torvane.cha.bak"), host);
    EXPECT_FALSE(exists("torvane.cha.buk"));
}

TEST_F(HandOffKill, HostFindsOldOrNewFileWhereverTheKillLands) {
    // How long an undisturbed write-back takes from the ready byte to the end of the process.
    std::vector<qint64> durations;
    for (int i = 0; i < 5; ++i) {
        app.write("torvane.cha", hostHandOff(i));
        Child child = startChild(app.path(), "Normal");
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitReady(child));
        QElapsedTimer timer;
        timer.start();
        ASSERT_EQ(reap(child), 0);
        durations.push_back(timer.nsecsElapsed() / 1000);
    }
    std::sort(durations.begin(), durations.end());
    const qint64 window = std::max<qint64>(durations.back() * 13 / 10, 200);

    std::mt19937 rng(20261206);
    const QByteArray newFile = "SUB END\r\n";
    int keptOld = 0, foundNew = 0, ended = 0, betweenWriteAndRename = 0;
    for (int i = 0; i < kKills; ++i) {
        SCOPED_TRACE(i);
        const QByteArray host = hostHandOff(i + 10);
        const QByteArray olderBackup = "older backup " + QByteArray::number(i) + "\r\n";
        app.write("torvane.cha", host);
        if (i % 3 == 0)
            app.write("torvane.cha.bak", olderBackup);
        if (i % 5 == 0)
            app.write("torvane.cha.buk", "stale");

        Child child = startChild(app.path(), "Normal");
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitReady(child));
        // Choosing the moment of the kill is the point of this wait.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % window));
        ::kill(child.pid, SIGKILL);
        const int status = reap(child);
        ASSERT_TRUE(status == -SIGKILL || status == 0) << "child status " << status;
        ended += status == 0;

        ASSERT_TRUE(exists("torvane.cha")) << "the host's hand-off file is gone";
        const QByteArray cha = read("torvane.cha");
        if (cha == host) {
            ++keptOld;
            // The new file was begun but not yet in place.
            if (exists("torvane.cha.buk") && read("torvane.cha.buk") != "stale")
                ++betweenWriteAndRename;
        } else {
            ASSERT_EQ(cha.size() <= 64 ? cha : cha.left(64) + "...", newFile)
                << "torvane.cha is neither the host's file nor the result";
            ++foundNew;
            // Once the result is in place, the host's file is kept whole beside it.
            EXPECT_EQ(read("torvane.cha.bak"), host);
        }

        // The next write-back, undisturbed, puts everything right whatever was left behind.
        if (i % 20 == 19) {
            Child again = startChild(app.path(), "NormalNG");
            ASSERT_TRUE(waitReady(again));
            ASSERT_EQ(reap(again), 0);
            EXPECT_EQ(read("torvane.cha"), QByteArray("SUB ERROR\r\n"));
            EXPECT_EQ(read("torvane.cha.bak"), cha);
            EXPECT_FALSE(exists("torvane.cha.buk"));
        }
    }
    std::printf("kills: %d, host file kept: %d (new file begun: %d), result in place: %d "
                "(process had ended: %d), window %lld us\n",
                kKills, keptOld, betweenWriteAndRename, foundNew, ended,
                static_cast<long long>(window));
    // Kills landed on both sides of the rename, or the test proves nothing.
    EXPECT_GT(betweenWriteAndRename, 0);
    EXPECT_GT(foundNew - ended, 0);
}

} // namespace
