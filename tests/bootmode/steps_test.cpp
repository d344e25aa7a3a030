// The exchanges with the boot program and the write kernel, step by step, on the port in memory.

#include "bench.h"
#include "download_steps.h"
#include "link.h"

#include <functional>

namespace {

class Steps : public Bench {
protected:
    Steps() {
        openPort();
        kernel();
        // A time-out of its own per value, so that a wait shows which one it used.
        gAdjustTimeout = 1;
        gStatusTimeout = 2;
        gEraseTimeout = 3;
        gDataTimeout = 4;
        gWriteTimeout = 5;
        gTransferTimeout = 6;
        gPacketSize = 4;
        gIrdSize = 0x1170;
        gIrdCheckSum = "1234";
        gFlashStart = "00000000";
        gFlashEnd = "0003FFFF";
        gFlashCheckSum = "ABCD";
    }
};

TEST_F(Steps, EachStepJudgesTheReplyItExpectsAndAStrayByteBehindASuccess) {
    struct Case {
        const char *step;
        const char *reply; // "" silence; a trailing "!": then the port fails
        int errNo;
        double waited; // seconds until the step gave up
    };
    const Case cases[] = {
        {"WaitBootAck", "AA", 0, 0},
        {"WaitBootAck", "55", 312, 0},
        {"WaitBootAck", "", 310, 2},
        {"WaitBootAck", "AA00", 313, 0},
        {"WaitBootAck", "5500", 312, 0},
        {"WaitBootAck", "!", 313, 0.5},
        {"WaitErase", "AA", 0, 0},
        {"WaitErase", "FF", 350, 0},
        {"WaitErase", "55", 343, 0},
        {"WaitErase", "", 340, 3},
        {"WaitErase", "AA01", 343, 0},
        {"WaitErase", "FF01", 350, 0},
        {"WaitErase", "!", 343, 0.5},
        {"CheckIrd", "101234", 0, 0},
        {"CheckIrd", "101235", 371, 0},
        {"CheckIrd", "111234", 342, 0},
        {"CheckIrd", "", 340, 2},
        {"CheckIrd", "1012", 340, 2},
        {"CheckIrd", "10123400", 342, 0},
        {"CheckIrd", "10123500", 371, 0},
        {"CheckIrd", "1012!", 342, 0.5},
        {"EraseFROM", "150000", 0, 0},
        {"EraseFROM", "15FFFF", 350, 0},
        {"EraseFROM", "151234", 343, 0},
        {"EraseFROM", "15FF00", 343, 0},
        {"EraseFROM", "140000", 342, 0},
        {"EraseFROM", "", 340, 3},
        {"EraseFROM", "15000000", 342, 0},
        {"EraseFROM", "15FFFF00", 350, 0},
        {"EraseFROM", "15123400", 343, 0},
        {"EraseFROM", "1500!", 342, 0.5},
        {"data", "11000A", 0, 0},
        {"data", "", 340, 4},
        {"data", "12000A", 342, 0},
        {"data", "110000", 341, 0},
        {"data", "11000A00", 342, 0},
        {"data", "11000000", 341, 0},
        {"data", "11!", 342, 0.5},
        {"write", "120000", 0, 0},
        {"write", "", 344, 5},
        {"write", "110000", 345, 0},
        {"write", "12FFFF", 360, 0},
        {"write", "120001", 361, 0},
        {"write", "12FF00", 361, 0},
        {"write", "12", 344, 5},
        {"write", "12000000", 345, 0},
        {"write", "12FFFF00", 360, 0},
        {"write", "12000100", 361, 0},
        {"write", "1200!", 345, 0.5},
        {"blank", "140000", 0, 0},
        {"blank", "", 346, 2},
        {"blank", "150000", 347, 0},
        {"blank", "140001", 347, 0},
        {"blank", "14000000", 347, 0},
        {"blank", "14!", 347, 0.5},
        {"CheckFROMCheckSum", "13ABCD", 0, 0},
        {"CheckFROMCheckSum", "13ABCE", 370, 0},
        {"CheckFROMCheckSum", "12ABCD", 342, 0},
        {"CheckFROMCheckSum", "", 340, 2},
        {"CheckFROMCheckSum", "13ABCD00", 342, 0},
        {"CheckFROMCheckSum", "13ABCE00", 370, 0},
        {"CheckFROMCheckSum", "13AB!", 342, 0.5},
    };
    const std::map<QString, std::pair<uint8_t, std::function<bool()>>> steps = {
        {"WaitBootAck", {0, WaitBootAck}},
        {"WaitErase", {0, WaitErase}},
        {"CheckIrd", {0x10, CheckIrd}},
        {"EraseFROM", {0x15, EraseFROM}},
        {"data", {0x11, [this] { return DownloadPrg(file("p.bin", Hex("01020304"))); }}},
        {"write", {0x12, [this] { return DownloadPrg(file("p.bin", Hex("01020304"))); }}},
        {"blank", {0x14, [this] { return DownloadPrg(file("p.bin", Hex("FFFFFFFF"))); }}},
        {"CheckFROMCheckSum", {0x13, CheckFROMCheckSum}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.step << " " << c.reply);
        const auto &[command, run] = steps.at(c.step);
        QByteArray bytes(c.reply);
        const bool fails = bytes.endsWith('!');
        bytes = QByteArray::fromHex(bytes.chopped(fails));
        port.close();
        openPort();
        reply.clear();
        if (command == 0)
            port.deliver(bytes);
        else
            reply[command] = bytes;
        if (fails)
            clock.after(0.5, [this] { port.fail(); });
        gFuncName = "before";
        gObtainedCheckSum = 7;
        const double start = clock.now();
        EXPECT_EQ(run(), c.errNo == 0);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_NEAR(clock.now() - start, c.waited, 0.05);
        EXPECT_FALSE(gTimeoutActive);
        const QString name = command < 0x11 || command > 0x14 || command == 0x13
                                 ? QString(c.step)
                                 : QString("DownloadPrg");
        EXPECT_EQ(gFuncName, c.step == QString("WaitBootAck")                 ? "before"
                             : c.errNo == 0 && c.step != QString("WaitErase") ? ""
                                                                              : name);
        // The checksum the kernel reported stays for the error text, also beside a stray byte.
        if (command == 0x13) {
            EXPECT_EQ(gObtainedCheckSum, bytes.size() >= 3 && bytes[0] == 0x13
                                             ? (static_cast<uint8_t>(bytes[2]) | 0xAB00)
                                             : 7);
        }
    }
}

TEST_F(Steps, AdjBitRateSendsZerosTenTimesASecondUntilTheTargetAnswers) {
    struct Case {
        const char *name;
        int answerAt; // the zero that is answered (0: none)
        QByteArray answer;
        double stopAt; // seconds (0: no Stop)
        int errNo;
        int zeros;
    };
    const Case cases[] = {
        {"answered 00", 4, Hex("00"), 0, 0, 4},
        {"no answer", 0, {}, 0, 302, 10},
        {"answered 80", 2, Hex("80"), 0, 303, 2},
        {"two bytes", 2, Hex("0000"), 0, 304, 2},
        {"Stop", 0, {}, 0.35, 302, 4},
    };
    // A byte that arrives in the pass that passes the deadline does not count.
    port.setWriteHook([this](const QByteArray &) {
        if (clock.now() + 0.1 > gDeadline)
            port.deliver(Hex("00"));
    });
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 302);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.close();
        openPort();
        port.deliver(Hex("EE")); // stale input is discarded first
        int zeros = 0;
        port.setWriteHook([&](const QByteArray &bytes) {
            EXPECT_EQ(bytes, Hex("00"));
            if (++zeros == c.answerAt)
                port.deliver(c.answer);
        });
        gStopRequested = false;
        if (c.stopAt > 0)
            clock.after(c.stopAt, [] { gStopRequested = true; });
        EXPECT_EQ(AdjBitRate(), c.errNo == 0);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, c.errNo == 0 ? "" : "AdjBitRate");
        EXPECT_EQ(zeros, c.zeros);
        EXPECT_FALSE(gTimeoutActive);
    }
    // A port that fails ends the adjustment at once.
    port.setWriteHook(nullptr);
    gStopRequested = false;
    const double start = clock.now();
    clock.after(0.25, [this] { port.fail(); });
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 304);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_LT(clock.now() - start, 0.5);
    port.close();
    openPort();
    port.clearRecord();
    SendAdjustEnd();
    EXPECT_EQ(port.written(), Hex("55"));
}

TEST_F(Steps, TheKernelGoesOutAfterItsLengthEveryByteEchoedUnderOneDeadline) {
    struct Case {
        const char *name;
        int length;
        int wrongEchoAt; // index of the byte sent, length bytes included
        int silentFrom;
        double stopAt;
        int errNo;
        int count; // gByteCount at the end
        double waited;
    };
    const Case cases[] = {
        {"4464 bytes", 4464, -1, -1, 0, 0, 4466, 0}, {"the longest", 32765, -1, -1, 0, 0, 32767, 0},
        {"a wrong echo", 100, 5, -1, 0, 314, 5, 0},  {"echoes stop", 50, -1, 10, 0, 310, 10, 6},
        {"Stop", 50, -1, 3, 1, 310, 3, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray kernel;
        for (int i = 0; i < c.length; ++i)
            kernel += char(i * 7);
        port.close();
        openPort();
        port.clearRecord();
        int index = 0;
        port.setWriteHook([&](const QByteArray &bytes) {
            if (c.silentFrom < 0 || index < c.silentFrom)
                port.deliver(index == c.wrongEchoAt ? QByteArray(1, ~bytes[0]) : bytes);
            ++index;
        });
        gStopRequested = false;
        if (c.stopAt > 0)
            clock.after(c.stopAt, [] { gStopRequested = true; });
        const double start = clock.now();
        EXPECT_EQ(DownloadIrd(file("k.bin", kernel)), c.errNo == 0);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gByteCount, c.count);
        EXPECT_EQ(gByteTotal, c.errNo == 0 ? 0 : c.length);
        EXPECT_NEAR(clock.now() - start, c.waited, 0.05);
        if (c.errNo == 0) {
            EXPECT_EQ(gIrdSize, c.length);
            EXPECT_EQ(port.written(), QByteArray(1, char(c.length >> 8)) + char(c.length) + kernel);
            EXPECT_EQ(port.writes().size(), c.length + 2); // one byte per write
        }
    }
    // A port that fails keeps the step's own number.
    port.setWriteHook(nullptr);
    gStopRequested = false;
    clock.after(1, [this] { port.fail(); });
    EXPECT_FALSE(DownloadIrd(file("k.bin", Hex("0102"))));
    EXPECT_EQ(gErrNo, 313);
    // A kernel that cannot be sent: nothing goes out.
    port.close();
    openPort();
    port.clearRecord();
    QDir(app.path()).mkdir("folder.bin");
    for (const QString &path :
         {app.filePath("missing.bin"), QString(), file("empty.bin", ""),
          file("big.bin", QByteArray(32766, 1)), app.filePath("folder.bin")}) {
        gErrNo = 0;
        EXPECT_FALSE(DownloadIrd(path));
        EXPECT_EQ(gErrNo, 170) << path.toStdString();
        EXPECT_EQ(gFuncName, "DownloadIrd");
    }
    EXPECT_TRUE(port.written().isEmpty());
}

TEST_F(Steps, ChecksumCommandsCarryTheKernelLengthAndTheAddressRange) {
    reply[0x10] = Hex("100ABC");
    gIrdCheckSum = "00abc"; // compared as a number
    EXPECT_TRUE(CheckIrd());
    EXPECT_EQ(port.written(), Hex("101170"));
    struct Case {
        const char *start;
        const char *end;
        const char *fcs;
        const char *sent; // "" when refused with 123
        const char *key;
    };
    const Case cases[] = {
        {"00000000", "0003FFFF", "ABCD", "13000000000003FFFF", ""},
        {"ffe00000", "FFFFFFFF", "ABCD", "13FFE00000FFFFFFFF", ""},
        {"0001000", "0001FFF", "ABCD", "13000100000001FF0F", ""}, // a seventh digit alone
        {"000100009", "0001FFFF", "ABCD", "13000100000001FFFF", ""},
        {"000000", "0003FFFF", "ABCD", "", "FSA"},
        {"0000XY00", "0003FFFF", "ABCD", "", "FSA"},
        {"00000000", "3FFFF", "ABCD", "", "FEA"},
        {"00000000", "0003FFFF", "AB-D", "", "FCS"},
        {"00000000", "0003FFFF", "", "", "FCS"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.start);
        port.clearRecord();
        reply[0x13] = Hex("13ABCD");
        gErrKey.clear();
        gFlashStart = c.start;
        gFlashEnd = c.end;
        gFlashCheckSum = c.fcs;
        EXPECT_EQ(CheckFROMCheckSum(), *c.key == 0);
        EXPECT_EQ(port.written(), Hex(c.sent));
        EXPECT_EQ(gErrNo, *c.key ? 123 : 0);
        EXPECT_EQ(gErrKey, c.key);
    }
    port.clearRecord();
    for (const char *ucs : {"12G4", ""}) {
        gIrdCheckSum = ucs;
        EXPECT_FALSE(CheckIrd());
        EXPECT_EQ(gErrNo, 123);
        EXPECT_EQ(gErrKey, "UCS");
    }
    EXPECT_TRUE(port.written().isEmpty());
}

TEST_F(Steps, TheImageGoesInBlocksTheLastPaddedWithFFAndBlankBlocksSkipped) {
    struct Case {
        const char *name;
        int packetSize;
        bool sendBlank;
        QByteArray image;
        const char *commands;
        int count; // gByteCount at the end
    };
    QByteArray counting;
    for (int i = 0; i < 40000; ++i)
        counting += char(i % 251);
    const Case cases[] = {
        {"1000 bytes", 512, false, counting.left(1000), "11121112", 1024},
        {"empty", 512, false, {}, "", 0},
        {"a blank block", 512, false, QByteArray(512, char(0xFF)), "14", 512},
        {"blank once padded", 512, false, counting.left(512) + QByteArray(100, char(0xFF)),
         "111214", 1024},
        {"blank sent as data", 512, true, QByteArray(512, char(0xFF)), "1112", 512},
        {"one-byte blocks", 1, false, Hex("01FF02"), "1112141112", 3},
        {"the largest blocks", 32767, false, counting, "11121112", 65534},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.clearRecord();
        commands.clear();
        blocks.clear();
        gPacketSize = c.packetSize;
        gSendBlankBlocks = c.sendBlank;
        ASSERT_TRUE(DownloadPrg(file("p.bin", c.image)));
        EXPECT_EQ(commands.toHex(), QByteArray(c.commands));
        EXPECT_EQ(gByteCount, c.count);
        EXPECT_EQ(gByteTotal, 0);
        EXPECT_EQ(gFuncName, "");
        const QByteArray padded = c.image + QByteArray(c.count - c.image.size(), char(0xFF));
        for (qsizetype at = 0, i = 0; at < padded.size(); at += c.packetSize) {
            const QByteArray block = padded.mid(at, c.packetSize);
            if (block != QByteArray(c.packetSize, char(0xFF)) || c.sendBlank) {
                EXPECT_EQ(blocks.value(i++), block) << "block at " << at;
            }
        }
    }
    // The first failed block ends the transfer; a Stop not yet seen is kept for the next wait.
    gPacketSize = 512;
    commands.clear();
    reply[0x12] = Hex("12FFFF");
    EXPECT_FALSE(DownloadPrg(file("p.bin", counting.left(3000))));
    EXPECT_EQ(commands, Hex("1112"));
    gStopRequested = true;
    reply[0x14] = {};
    clock.after(0.5, [this] { port.deliver(Hex("140000")); });
    EXPECT_FALSE(DownloadPrg(file("p.bin", QByteArray(512, char(0xFF)))));
    EXPECT_EQ(gErrNo, 346);
    EXPECT_TRUE(gStopRequested);
}

TEST_F(Steps, AnImageThatCannotBeSentIsRefusedBeforeAnyByte) {
    QDir(app.path()).mkdir("folder");
    for (const QString &path : {app.filePath("missing.bin"), QString(), app.filePath("folder")}) {
        gErrNo = 0;
        EXPECT_FALSE(DownloadPrg(path));
        EXPECT_EQ(gErrNo, 171) << path.toStdString();
    }
    for (const int size : {0, -1, 32768}) {
        gPacketSize = size;
        EXPECT_FALSE(DownloadPrg(file("p.bin", Hex("01"))));
        EXPECT_EQ(gErrNo, 123) << size;
    }
    EXPECT_TRUE(port.written().isEmpty());
}

} // namespace
