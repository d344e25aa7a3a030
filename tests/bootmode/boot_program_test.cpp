#include "download_steps.h"
#include "link.h"
#include "scripted_device.h"

#include <gtest/gtest.h>

namespace {

class BootProgram : public LinkBench {
protected:
    BootProgram() { openPort(); }
};

TEST_F(BootProgram, AdjBitRateSendsZerosUntilTheTargetAnswersZero) {
    int zeros = 0;
    port.setWriteHook([&](const QByteArray &bytes) {
        EXPECT_EQ(bytes, Hex("00"));
        if (++zeros == 4)
            port.deliver(Hex("00"));
    });
    port.deliver(Hex("EE")); // stale input is discarded first
    gAdjustTimeout = 15;
    EXPECT_TRUE(AdjBitRate());
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gFuncName, QString());
    EXPECT_EQ(zeros, 4);
    EXPECT_EQ(port.discardInputCount(), 1);
    EXPECT_EQ(port.discardOutputCount(), 1);
    EXPECT_NEAR(clock.sleptSeconds(), 0.4, 1e-9);
    EXPECT_FALSE(gTimeoutActive);
}

TEST_F(BootProgram, AdjBitRateGivesUp302AfterTheTimeoutAtTenZerosASecond) {
    gAdjustTimeout = 2;
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 302);
    EXPECT_EQ(gFuncName, QStringLiteral("AdjBitRate"));
    EXPECT_GE(port.written().size(), 20);
    EXPECT_LE(port.written().size(), 21);
    EXPECT_EQ(port.written(), Repeat('\0', int(port.written().size())));
}

TEST_F(BootProgram, AdjBitRateAnswersByReplyAndStop) {
    struct Case {
        const char *name;
        QByteArray reply;
        bool stop;
        int errNo;
    };
    const Case cases[] = {
        {"answer 80", Hex("80"), false, 303},
        {"two bytes waiting", Hex("0000"), false, 304},
        {"Stop while adjusting", QByteArray(), true, 302},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gStopRequested = false;
        port.setWriteHook([&](const QByteArray &) {
            if (!c.reply.isEmpty() && port.inBufferCount() == 0)
                port.deliver(c.reply);
        });
        if (c.stop)
            clock.after(0.35, [] { gStopRequested = true; });
        EXPECT_FALSE(AdjBitRate());
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, QStringLiteral("AdjBitRate"));
    }
}

TEST_F(BootProgram, AdjBitRateIgnoresAByteThatArrivesInThePassThatPassesTheDeadline) {
    gAdjustTimeout = 1;
    // After ten 100 ms sleeps the clock is past the deadline (1000 + 1) only at the eleventh.
    clock.at(1001.05, [this] { port.deliver(Hex("00")); });
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 302);
}

TEST_F(BootProgram, AdjBitRateEndsAtOnceWhenThePortFails) {
    gAdjustTimeout = 15;
    clock.after(0.25, [this] { port.fail(); });
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 304);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_LT(clock.now(), 1001);
}

TEST_F(BootProgram, SendAdjustEndSends55AndDoesNotWait) {
    SendAdjustEnd();
    EXPECT_EQ(port.written(), Hex("55"));
    EXPECT_EQ(clock.sleepCount(), 0);
}

TEST_F(BootProgram, WaitBootAckJudgesTheOneByte) {
    struct Case {
        const char *name;
        QByteArray reply;
        bool ok;
        int errNo;
    };
    const Case cases[] = {
        {"AA", Hex("AA"), true, 0},
        {"other byte", Hex("55"), false, 312},
        {"no byte", QByteArray(), false, 310},
        {"two bytes", Hex("AA00"), false, 313},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        port.deliver(c.reply);
        gFuncName = QStringLiteral("AdjBitRate");
        EXPECT_EQ(WaitBootAck(), c.ok);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, QStringLiteral("AdjBitRate")); // not its own name
    }
}

TEST_F(BootProgram, WaitBootAckTimesOutAfterTheStatusTimeout) {
    gStatusTimeout = 4;
    EXPECT_FALSE(WaitBootAck());
    EXPECT_EQ(gErrNo, 310);
    EXPECT_NEAR(clock.now(), 1004, 0.05);
}

class KernelTransfer : public BootProgram {
protected:
    KernelTransfer() : device(port) { device.adjustReply.clear(); }

    // Puts the device past the adjustment so that it echoes what follows.
    void startEchoing() {
        device.adjustReply = Hex("00");
        port.write(Hex("00"));
        port.write(Hex("55"));
        port.discardInput();
        port.clearRecord();
    }

    QString kernelFile(const QByteArray &bytes) {
        app.write("kernel.bin", bytes);
        return app.filePath("kernel.bin");
    }

    ScriptedDevice device;
};

TEST_F(KernelTransfer, SendsTheLengthThenEveryByteEachEchoed) {
    QByteArray kernel;
    for (int i = 0; i < 4464; ++i)
        kernel.append(static_cast<char>(i * 7));
    startEchoing();
    device.afterKernelReply.clear();
    ASSERT_TRUE(DownloadIrd(kernelFile(kernel)));
    EXPECT_EQ(port.written().left(2), Hex("1170"));
    EXPECT_EQ(port.written().size(), 4466);
    EXPECT_EQ(port.written().mid(2), kernel);
    EXPECT_EQ(port.writes().size(), 4466); // one byte per write
    EXPECT_EQ(device.kernel, kernel);
    EXPECT_EQ(gIrdSize, 4464);
    EXPECT_EQ(gByteCount, 4466);
    EXPECT_EQ(gByteTotal, 0);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gFuncName, QString());
}

TEST_F(KernelTransfer, AWrongEchoEndsTheTransferAtOnceWith314) {
    startEchoing();
    device.corruptEchoAt = 5;
    EXPECT_FALSE(DownloadIrd(kernelFile(Repeat('\x3C', 100))));
    EXPECT_EQ(gErrNo, 314);
    EXPECT_EQ(gByteCount, 5);
    EXPECT_EQ(gByteTotal, 100);
    EXPECT_EQ(port.written().size(), 6);
    EXPECT_EQ(gFuncName, QStringLiteral("DownloadIrd"));
}

TEST_F(KernelTransfer, OneDeadlineCoversTheWholeTransfer) {
    startEchoing();
    device.silentEchoFrom = 10;
    gTransferTimeout = 20;
    EXPECT_FALSE(DownloadIrd(kernelFile(Repeat('\x01', 50))));
    EXPECT_EQ(gErrNo, 310);
    EXPECT_EQ(gByteCount, 10);
    EXPECT_NEAR(clock.now(), 1020, 0.05);
}

TEST_F(KernelTransfer, StopDuringTheTransferEndsItWith310) {
    startEchoing();
    device.silentEchoFrom = 3;
    clock.after(1, [] { gStopRequested = true; });
    EXPECT_FALSE(DownloadIrd(kernelFile(Repeat('\x01', 50))));
    EXPECT_EQ(gErrNo, 310);
    EXPECT_LT(clock.now(), 1002);
}

TEST_F(KernelTransfer, APortFailureEndsTheTransferAtOnceWith313) {
    startEchoing();
    device.silentEchoFrom = 3;
    clock.after(1, [this] { port.fail(); });
    EXPECT_FALSE(DownloadIrd(kernelFile(Repeat('\x01', 50))));
    EXPECT_EQ(gErrNo, 313);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_LT(clock.now(), 1002);
}

TEST_F(KernelTransfer, AKernelFileThatCannotBeSentGives170BeforeAnyByte) {
    struct Case {
        const char *name;
        QString path;
    };
    app.write("empty.bin", QByteArray());
    app.write("big.bin", Repeat('\x01', 32766));
    QDir(app.path()).mkdir("folder.bin");
    const Case cases[] = {
        {"missing", app.filePath("missing.bin")},
        {"no path", QString()},
        {"empty", app.filePath("empty.bin")},
        {"longer than 32765 bytes", app.filePath("big.bin")},
        {"a folder", app.filePath("folder.bin")},
    };
    startEchoing();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gErrNo = 0;
        EXPECT_FALSE(DownloadIrd(c.path));
        EXPECT_EQ(gErrNo, 170);
        EXPECT_EQ(gFuncName, QStringLiteral("DownloadIrd"));
        EXPECT_TRUE(port.written().isEmpty());
    }
}

TEST_F(KernelTransfer, TheLongestKernelIsSent) {
    startEchoing();
    device.afterKernelReply.clear();
    gTransferTimeout = 1;
    EXPECT_TRUE(DownloadIrd(kernelFile(Repeat('\x5A', 32765))));
    EXPECT_EQ(port.written().left(2), Hex("7FFD"));
    EXPECT_EQ(gByteCount, 32767);
}

TEST_F(BootProgram, WaitEraseJudgesTheEraseByte) {
    struct Case {
        const char *name;
        QByteArray reply;
        bool ok;
        int errNo;
    };
    const Case cases[] = {
        {"AA", Hex("AA"), true, 0},
        {"FF", Hex("FF"), false, 350},
        {"55", Hex("55"), false, 343},
        {"nothing", QByteArray(), false, 340},
        {"AA and more", Hex("AA01"), false, 343},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        port.deliver(c.reply);
        EXPECT_EQ(WaitErase(), c.ok);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, QStringLiteral("WaitErase")); // stays after success too
    }
}

TEST_F(BootProgram, WaitEraseWaitsTheEraseTimeout) {
    gEraseTimeout = 90;
    clock.after(60, [this] { port.deliver(Hex("AA")); });
    EXPECT_TRUE(WaitErase());
    EXPECT_NEAR(clock.now(), 1060, 0.05);
}

TEST_F(BootProgram, AStopNotYetSeenIsNotForgottenByWaitErase) {
    gStopRequested = true;
    clock.after(60, [this] { port.deliver(Hex("AA")); });
    EXPECT_FALSE(WaitErase());
    EXPECT_EQ(gErrNo, 340);
    EXPECT_TRUE(gStopRequested);
}

} // namespace
