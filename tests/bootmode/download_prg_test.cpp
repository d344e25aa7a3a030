#include "download_steps.h"
#include "link.h"
#include "scripted_device.h"

#include <gtest/gtest.h>

namespace {

// The program image against the scripted kernel, in the data phase.
class ProgramImage : public LinkBench {
protected:
    ProgramImage() : device(port) {
        openPort();
        port.close();
        openPort(); // second opening: the device is the kernel now
    }

    QString image(const QByteArray &bytes) {
        app.write("image.bin", bytes);
        return app.filePath("image.bin");
    }

    ScriptedDevice device;
};

QByteArray Counting(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>(i % 251));
    return bytes;
}

TEST_F(ProgramImage, ThousandBytesGoAsTwoBlocksTheSecondPaddedWithFF) {
    const QByteArray bytes = Counting(1000);
    ASSERT_TRUE(DownloadPrg(image(bytes)));
    ASSERT_EQ(device.blocks.size(), 2);
    EXPECT_EQ(device.blocks[0], bytes.left(512));
    EXPECT_EQ(device.blocks[1], bytes.mid(512) + Repeat('\xFF', 24));
    EXPECT_EQ(device.commands, Hex("11121112"));
    // Wire: 11, the block in one write, then 12, for each block.
    ASSERT_EQ(port.writes().size(), 6);
    EXPECT_EQ(port.writes()[0], Hex("11"));
    EXPECT_EQ(port.writes()[1].size(), 512);
    EXPECT_EQ(port.writes()[2], Hex("12"));
    EXPECT_EQ(port.writes()[4], bytes.mid(512) + Repeat('\xFF', 24));
    EXPECT_EQ(gByteCount, 1024);
    EXPECT_EQ(gByteTotal, 0);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gFuncName, QString());
}

TEST_F(ProgramImage, ASumWithoutThePaddingIsRefusedForTheLastBlock) {
    // The device answers every block with the sum of the first block. The 488 bytes of the
    // second block sum to the same value, so only the 24 FF of padding tell them apart.
    const QByteArray first = Counting(512);
    const uint16_t firstSum = Sum16(first);
    QByteArray second = Repeat('\xFF', firstSum / 255);
    second.append(static_cast<char>(firstSum % 255));
    second.append(Repeat('\0', 488 - int(second.size())));
    ASSERT_EQ(second.size(), 488);
    ASSERT_EQ(Sum16(second), firstSum);
    device.kernelReply[0x11] = Hex("11") + Be16(firstSum);
    EXPECT_FALSE(DownloadPrg(image(first + second)));
    EXPECT_EQ(gErrNo, 341);
    EXPECT_EQ(device.commands, Hex("111211"));
    EXPECT_EQ(gByteCount, 512);
}

TEST_F(ProgramImage, AnEmptyImageSendsNothingAndSucceeds) {
    ASSERT_TRUE(DownloadPrg(image(QByteArray())));
    EXPECT_TRUE(port.written().isEmpty());
    EXPECT_EQ(gByteCount, 0);
    EXPECT_EQ(gByteTotal, 0);
}

TEST_F(ProgramImage, ABlankBlockIsSkippedWith14Only) {
    ASSERT_TRUE(DownloadPrg(image(Repeat('\xFF', 512))));
    EXPECT_EQ(port.written(), Hex("14"));
    EXPECT_TRUE(device.blocks.isEmpty());
    EXPECT_EQ(gByteCount, 512);
}

TEST_F(ProgramImage, ALastBlockThatIsBlankOncePaddedIsSkipped) {
    const QByteArray bytes = Counting(512) + Repeat('\xFF', 100);
    ASSERT_TRUE(DownloadPrg(image(bytes)));
    EXPECT_EQ(device.commands, Hex("111214"));
    EXPECT_EQ(gByteCount, 1024);
}

TEST_F(ProgramImage, WithBlankBlocksSentAnAllFFBlockSumsToFE00) {
    gSendBlankBlocks = true;
    ASSERT_TRUE(DownloadPrg(image(Repeat('\xFF', 512))));
    EXPECT_EQ(device.commands, Hex("1112"));
    EXPECT_EQ(device.blocks[0], Repeat('\xFF', 512));
    // Only the true sum is accepted.
    device.kernelReply[0x11] = Hex("11FE00");
    EXPECT_TRUE(DownloadPrg(image(Repeat('\xFF', 512))));
    device.kernelReply[0x11] = Hex("11FE01");
    EXPECT_FALSE(DownloadPrg(image(Repeat('\xFF', 512))));
    EXPECT_EQ(gErrNo, 341);
}

TEST_F(ProgramImage, BlockRepliesGiveTheirNumbers) {
    struct Case {
        const char *name;
        uint8_t command;
        QByteArray reply; // empty: silence
        int errNo;
        double waited; // seconds until the step gave up
    };
    const Case cases[] = {
        {"data reply late", 0x11, QByteArray(), 340, 10},
        {"data reply wrong code", 0x11, Hex("12FE00"), 342, 0},
        {"data reply wrong sum", 0x11, Hex("110000"), 341, 0},
        {"write reply late", 0x12, QByteArray(), 344, 30},
        {"write reply wrong code", 0x12, Hex("110000"), 345, 0},
        {"write failed", 0x12, Hex("12FFFF"), 360, 0},
        {"write status other", 0x12, Hex("120001"), 361, 0},
        {"write status FF00", 0x12, Hex("12FF00"), 361, 0},
        {"write status cut short", 0x12, Hex("12"), 344, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        port.discardInput();
        device.kernelReply.clear();
        device.kernelReply[c.command] = c.reply;
        gSendBlankBlocks = true;
        const double start = own.now();
        EXPECT_FALSE(DownloadPrg(image(Repeat('\xFF', 512) + Counting(512))));
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, QStringLiteral("DownloadPrg"));
        EXPECT_EQ(gByteCount, 0); // the first block failed
        EXPECT_EQ(gByteTotal, 1024);
        EXPECT_NEAR(own.now() - start, c.waited, 0.05);
    }
}

TEST_F(ProgramImage, BlankBlockRepliesGiveTheirNumbers) {
    struct Case {
        const char *name;
        QByteArray reply;
        int errNo;
    };
    const Case cases[] = {
        {"late", QByteArray(), 346},
        {"wrong code", Hex("150000"), 347},
        {"status not zero", Hex("140001"), 347},
        {"extra byte", Hex("14000000"), 347},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        device.kernelReply[0x14] = c.reply;
        EXPECT_FALSE(DownloadPrg(image(Counting(512) + Repeat('\xFF', 512))));
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gByteCount, 512);
    }
}

TEST_F(ProgramImage, TheFirstFailedBlockEndsTheTransfer) {
    device.kernelReply[0x12] = Hex("12FFFF");
    EXPECT_FALSE(DownloadPrg(image(Counting(3000))));
    EXPECT_EQ(device.commands, Hex("1112"));
}

TEST_F(ProgramImage, StopDuringABlockWaitIsATimeout) {
    device.kernelReply[0x12] = QByteArray();
    clock.after(2, [] { gStopRequested = true; });
    EXPECT_FALSE(DownloadPrg(image(Counting(600))));
    EXPECT_EQ(gErrNo, 344);
    EXPECT_TRUE(gStopRequested);
}

TEST_F(ProgramImage, AStopNotYetSeenIsNotForgottenAtABlankBlock) {
    // Stop arrives while events are served before the block; the kernel answers 14 00 00 only
    // half a second after the command.
    int events = 0;
    clock.onProcessEvents([&] {
        if (++events == 1)
            gStopRequested = true;
    });
    device.kernelReply[0x14] = QByteArray();
    clock.after(0.5, [this] { port.deliver(Hex("140000")); });
    EXPECT_FALSE(DownloadPrg(image(Repeat('\xFF', 512))));
    EXPECT_EQ(gErrNo, 346);
    EXPECT_TRUE(gStopRequested);
    EXPECT_EQ(port.written(), Hex("14"));
    EXPECT_LT(clock.now(), 1000.5);
}

TEST_F(ProgramImage, APortFailureEndsTheBlockAtOnce) {
    device.failOnCommand = 0x12;
    EXPECT_FALSE(DownloadPrg(image(Counting(600))));
    EXPECT_EQ(gErrNo, 345);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_LT(clock.now(), 1001);
}

TEST_F(ProgramImage, AnImageThatCannotBeOpenedGives171) {
    QDir(app.path()).mkdir("folder");
    for (const QString &path : {app.filePath("missing.bin"), QString(), app.filePath("folder")}) {
        SCOPED_TRACE(path.toStdString());
        gErrNo = 0;
        EXPECT_FALSE(DownloadPrg(path));
        EXPECT_EQ(gErrNo, 171);
        EXPECT_TRUE(port.written().isEmpty());
    }
}

TEST_F(ProgramImage, ABlockSizeOutsideTheRangeIsRefusedBeforeAnyByte) {
    for (const int size : {0, -1, 32768, 100000}) {
        SCOPED_TRACE(size);
        gPacketSize = size;
        gErrKey.clear();
        EXPECT_FALSE(DownloadPrg(image(Counting(100))));
        EXPECT_EQ(gErrNo, 123);
        EXPECT_EQ(gErrKey, QStringLiteral("PDSIZE"));
        EXPECT_TRUE(port.written().isEmpty());
    }
}

TEST_F(ProgramImage, SmallAndLargestBlockSizesWork) {
    gPacketSize = 1;
    device.packetSize = 1;
    ASSERT_TRUE(DownloadPrg(image(Hex("01FF02"))));
    EXPECT_EQ(device.commands, Hex("1112141112"));
    gPacketSize = 32767;
    device.packetSize = 32767;
    device.commands.clear();
    ASSERT_TRUE(DownloadPrg(image(Counting(40000))));
    EXPECT_EQ(device.commands, Hex("11121112"));
    EXPECT_EQ(gByteCount, 65534);
}

} // namespace

namespace {

TEST_F(ProgramImage, AnImageBeyondTheProgressCountersIsRefused) {
    QFile file(app.filePath("huge.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    if (!file.resize(qint64(1) << 31))
        GTEST_SKIP() << "no room for a sparse 2 GB file here";
    file.close();
    EXPECT_FALSE(DownloadPrg(app.filePath("huge.bin")));
    EXPECT_EQ(gErrNo, 171);
    EXPECT_EQ(gRunErrNo, 6);
    EXPECT_TRUE(port.written().isEmpty());
}

} // namespace
