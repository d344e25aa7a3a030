// The write-back of the result is killed at hundreds of random moments. After each kill the host
// must find its own torvane.cha whole or the whole new one, never a part of either and never
// none; once the new one is in place, the backup beside it is the host's file in full.

#include "temp_app_dir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// The host's hand-off, padded so that copying it to the backup takes a while.
QByteArray hostHandOff(int i) {
    return "MAIN SET\r\n; hand-off " + QByteArray::number(i) + "\r\n" +
           QByteArray(256 * 1024, char('a' + i % 26));
}

TEST(HandOffKill, HostFindsOldOrNewFileWhereverTheKillLands) {
    TempAppDir app;
    QProcess child;
    const auto startWriteBack = [&] { // true once the child is about to begin
        child.start(QARN_HANDOFF_CHILD, {app.path(), "Normal"});
        return child.waitForReadyRead(10000) && child.read(1) == "R";
    };
    qint64 window = 200; // microseconds from the ready byte to the end of an undisturbed run
    for (int i = 0; i < 5; ++i) {
        app.write("torvane.cha", hostHandOff(i));
        ASSERT_TRUE(startWriteBack());
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(child.waitForFinished(10000));
        window = std::max(window, timer.nsecsElapsed() / 1000 * 13 / 10);
    }
    std::mt19937 rng(20261206);
    int keptOld = 0, begun = 0, foundNew = 0, ended = 0;
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const QByteArray host = hostHandOff(i + 10);
        app.write("torvane.cha", host);
        if (i % 3 == 0)
            app.write("torvane.cha.bak", "older backup");
        if (i % 5 == 0)
            app.write("torvane.cha.buk", "stale");
        ASSERT_TRUE(startWriteBack());
        // Choosing the moment of the kill is the point of this wait.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % window));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        ended += child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        ASSERT_TRUE(app.exists("torvane.cha")) << "the host's hand-off file is gone";
        const QByteArray cha = app.read("torvane.cha");
        if (cha == host) {
            ++keptOld;
            begun += app.exists("torvane.cha.buk") && app.read("torvane.cha.buk") != "stale";
        } else {
            ASSERT_EQ(cha.left(64), "SUB END\r\n") << "neither the host's file nor the result";
            ++foundNew;
            EXPECT_TRUE(app.read("torvane.cha.bak") == host) << "the backup is not the host's file";
        }
    }
    std::printf("kills: 200, host file kept: %d (new file begun: %d), result in place: %d (process "
                "had ended: %d), window %lld us\n",
                keptOld, begun, foundNew, ended, static_cast<long long>(window));
    EXPECT_GT(begun, 0); // kills landed on both sides of the rename, or the test proves nothing
    EXPECT_GT(foundNew - ended, 0);
}

} // namespace
