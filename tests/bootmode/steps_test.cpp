// The exchanges with the boot program and the write kernel, step by step, on the port in memory.

#include "bench.h"
#include "download_steps.h"
#include "error_notes.h"
#include "link.h"

#include <functional>

namespace {

class Steps : public Bench {
protected:
    Steps() {
        openPort();
        kernel();
        // A time-out of its own per value, so that a wait shows which one it used.
        gAdjustTimeout = 1, gStatusTimeout = 2, gEraseTimeout = 3, gDataTimeout = 4;
        gWriteTimeout = 5, gTransferTimeout = 6, gPacketSize = 4, gIrdSize = 0x1170;
        gIrdCheckSum = "1234", gFlashStart = "00000000", gFlashEnd = "0003FFFF";
        gFlashCheckSum = "ABCD";
    }
    // A fresh line with nothing recorded; at > 0: Stop is pressed after `at` seconds, at < 0:
    // the port fails after -at seconds.
    void reopen(double at = 0) {
        port.close();
        openPort();
        port.clearRecord();
        gStopRequested = false;
        if (at != 0)
            clock.after(std::abs(at),
                        [this, at] { at > 0 ? void(gStopRequested = true) : port.fail(); });
    }
};

TEST_F(Steps, EachStepJudgesTheBytesItExpectsAndAStrayByteBehindThem) {
    const auto data = [this] { return DownloadPrg(file("p.bin", Hex("01020304"))); };
    const auto blank = [this] { return DownloadPrg(file("p.bin", Hex("FFFFFFFF"))); };
    // Replies "bytes=number": "-" silence; "!" the port fails half a second after the bytes; "~"
    // the line stops taking bytes, so a block or a command of several bytes never leaves.
    const std::tuple<const char *, uint8_t, double, std::function<bool()>, const char *> steps[] = {
        {"WaitBootAck", 0, 2, WaitBootAck, "AA=0 55=312 -=310 AA00=313 5500=312 !=313"},
        {"WaitErase", 0, 3, WaitErase, "AA=0 FF=350 55=343 -=340 AA01=343 FF01=350 !=343"},
        {"CheckIrd", 0x10, 2, CheckIrd,
         "101234=0 101235=371 111234=342 -=340 1012=340 10123400=342 10123500=371 1012!=342 ~=340"},
        {"EraseFROM", 0x15, 3, EraseFROM,
         "150000=0 15FFFF=350 151234=343 15FF00=343 140000=342 -=340 15000000=342 15FFFF00=350 "
         "15123400=343 1500!=342"},
        {"DownloadPrg", 0x11, 4, data,
         "11000A=0 -=340 12000A=342 110000=341 11000A00=342 11000000=341 11!=342 ~=340"},
        {"DownloadPrg", 0x12, 5, data,
         "120000=0 -=344 110000=345 12FFFF=360 120001=361 12FF00=361 12=344 12000000=345 "
         "12FFFF00=360 12000100=361 1200!=345"},
        {"DownloadPrg", 0x14, 2, blank,
         "140000=0 -=346 150000=347 140001=347 14000000=347 14!=347"},
        {"CheckFROMCheckSum", 0x13, 2, [] { return CheckFROMCheckSum(); },
         "13ABCD=0 13ABCE=370 12ABCD=342 -=340 13ABCD00=342 13ABCE00=370 13AB!=342 ~=340"},
        // A check gives its verdict only on a well-formed reply.
        {"verify", 0x13, 2, [] { return CheckFROMCheckSum(true); },
         "13ABCD=0 13ABCE=370 13ABCD00=342 13ABCE00=342"}};
    for (const auto &[step, command, timeout, run, cases] : steps) {
        for (const QString &c : QString(cases).split(' ')) {
            SCOPED_TRACE(step + (" " + c).toStdString());
            const bool fails = c.contains('!');
            const QByteArray bytes = QByteArray::fromHex(c.section('=', 0, 0).toLatin1());
            const int errNo = c.section('=', 1).toInt();
            const bool whole = bytes.size() >= (command == 0 ? 1 : 3);
            reopen(fails ? -0.5 : 0);
            port.holdOutput(c.startsWith('~'));
            if (c.startsWith('~')) // the line takes the bytes, but only after the deadline
                clock.after(timeout + 1, [this] { port.releaseOutput(); });
            reply.clear();
            (command == 0 ? port.deliver(bytes) : void(reply[command] = bytes));
            gFuncName = "before", gObtainedCheckSum = 7;
            const double start = clock.now();
            EXPECT_EQ(run(), errNo == 0);
            EXPECT_EQ(gErrNo, errNo);
            EXPECT_NEAR(clock.now() - start, fails ? 0.5 : whole ? 0 : timeout, 0.05);
            EXPECT_FALSE(gTimeoutActive);
            const bool named = errNo != 0 || QString(step) == "WaitErase";
            const QString name = QString(step) == "verify" ? "CheckFROMCheckSum" : step;
            EXPECT_EQ(gFuncName, QString(step) == "WaitBootAck" ? "before" : named ? name : "");
            // The kernel's flash checksum stays for the error text, also beside a stray byte.
            if (command == 0x13) {
                const bool read = QString(step) != "verify" || bytes.size() == 3;
                EXPECT_EQ(gObtainedCheckSum, whole && !fails && bytes[0] == 0x13 && read
                                                 ? 0xAB00 | static_cast<uint8_t>(bytes[2])
                                                 : 7);
            }
        }
    }
}

TEST_F(Steps, AdjBitRateSendsZerosTenTimesASecondUntilTheTargetAnswers) {
    // A byte that arrives in the pass that passes the deadline does not count.
    port.setWriteHook([this](const QByteArray &) {
        if (clock.now() + 0.1 > gDeadline)
            port.deliver(Hex("00"));
    });
    EXPECT_FALSE(AdjBitRate());
    EXPECT_EQ(gErrNo, 302);
    // name, the zero answered (0: none), the answer, Stop or port failure (see reopen), number,
    // zeros sent: a failed port ends the adjustment at once
    const std::tuple<const char *, int, const char *, double, int, int> cases[] = {
        {"answered 00", 4, "00", 0, 0, 4},
        {"no answer", 0, "", 0, 302, 10},
        {"answered 80", 2, "80", 0, 303, 2},
        {"Stop", 0, "", 0.35, 302, 4},
        {"port fails", 0, "", -0.25, 304, 3}};
    for (const auto &[name, answerAt, answer, stopAt, errNo, zeroCount] : cases) {
        SCOPED_TRACE(name);
        reopen(stopAt);
        port.deliver(Hex("EE")); // stale input is discarded first
        int zeros = 0;
        port.setWriteHook([&, answerAt = answerAt, answer = answer](const QByteArray &bytes) {
            EXPECT_EQ(bytes, Hex("00"));
            if (++zeros == answerAt)
                port.deliver(Hex(answer));
        });
        EXPECT_EQ(AdjBitRate(), errNo == 0);
        EXPECT_EQ(gErrNo, errNo);
        EXPECT_EQ(gFuncName, errNo == 0 ? "" : "AdjBitRate");
        EXPECT_EQ(zeros, zeroCount);
        EXPECT_FALSE(gTimeoutActive);
        EXPECT_EQ(gRunErrNo, errNo == 304 ? 8018 : 0);
    }
}

TEST_F(Steps, TheKernelGoesOutAfterItsLengthEveryByteEchoedUnderOneDeadline) {
    // name, length, the byte echoed wrong, the first byte not echoed, Stop or port failure (see
    // reopen), number, gByteCount at the end, seconds until the step ended
    const std::tuple<const char *, int, int, int, double, int, int, double> cases[] = {
        {"the longest", 32765, -1, -1, 0, 0, 32767, 0},
        {"a wrong echo", 100, 5, -1, 0, 314, 5, 0},
        {"echoes stop", 50, -1, 10, 0, 310, 10, 6},
        {"Stop", 50, -1, 3, 0.3, 310, 3, 0.3},
        {"the port fails: the step's own number", 50, -1, 0, -0.3, 313, 0, 0.3}};
    // Lock-step, then streamed: the same outcomes; streamed, the line has two stop bits between
    // the length and the last byte, and the last byte goes alone once every echo has matched.
    // Streamed, a chip that stops echoing ends the transfer after half a second, not the TTO.
    for (const bool streamed : {false, true}) {
        for (const auto &[name, length, wrongAt, silentFrom, stopAt, errNo, count, waited] :
             cases) {
            SCOPED_TRACE(std::string(name) + (streamed ? ", streamed" : ""));
            gStreamKernel = streamed;
            QByteArray kernel(length, 0);
            for (int i = 0; i < length; ++i)
                kernel[i] = char(i * 7);
            reopen(stopAt);
            int index = 0;
            port.setWriteHook([&, wrongAt = wrongAt, silentFrom = silentFrom](const QByteArray &b) {
                for (const char byte : b) {
                    if (silentFrom < 0 || index < silentFrom)
                        port.deliver(QByteArray(1, index == wrongAt ? ~byte : byte));
                    ++index;
                }
            });
            const double start = clock.now();
            ClearFailureCauses();
            EXPECT_EQ(DownloadIrd(file("k.bin", kernel)), errNo == 0);
            EXPECT_EQ(gErrNo, errNo);
            EXPECT_EQ(gByteCount, count);
            EXPECT_EQ(gByteTotal, errNo == 0 ? 0 : length);
            const bool stalls = streamed && silentFrom > 0 && stopAt == 0;
            EXPECT_NEAR(clock.now() - start, stalls ? 0.5 : waited, 0.05);
            EXPECT_EQ(ErrorNotes().join('\n').contains("stopped echoing during a streamed "
                                                       "transfer (no echo for 0.50 s with 4 "
                                                       "bytes in flight)"),
                      stalls);
            const QStringList paced{"9600,N,8,2", "9600,N,8,1"}; // and back
            EXPECT_EQ(port.lineChanges(), streamed && count >= 2 ? paced : QStringList());
            if (errNo == 0) {
                EXPECT_EQ(gIrdSize, length);
                EXPECT_EQ(port.written(), QByteArray(1, char(length >> 8)) + char(length) + kernel);
                EXPECT_EQ(port.writes().size() == length + 2,
                          !streamed); // lock-step: a byte a write
                EXPECT_EQ(port.writes().last().size(), 1);
            } else {
                EXPECT_LE(port.written().size(), length + 1); // never the last byte
            }
        }
    }
    // A port that refuses two stop bits: lock-step after the length.
    reopen();
    port.setWriteHook([this](const QByteArray &b) { port.deliver(b); });
    port.setLineSettingsError(5);
    EXPECT_TRUE(DownloadIrd(file("k.bin", Hex("0102030405"))));
    EXPECT_EQ(port.writes().size(), 7);
    gStreamKernel = false;
    port.setWriteHook(nullptr);
    reopen(); // a kernel that cannot be sent: nothing goes out
    for (const QString &path : {app.filePath("none"), app.path(), file("empty.bin", ""),
                                file("big", QByteArray(32766, 1))}) {
        EXPECT_FALSE(DownloadIrd(path));
        EXPECT_EQ(gErrNo, 170) << path.toStdString();
    }
    EXPECT_TRUE(port.written().isEmpty());
}

TEST_F(Steps, ChecksumCommandsCarryTheKernelLengthAndTheAddressRange) {
    reply[0x10] = Hex("100ABC");
    gIrdCheckSum = "00abc"; // compared as a number
    EXPECT_TRUE(CheckIrd());
    EXPECT_EQ(port.written(), Hex("101170"));
    reply[0x13] = Hex("13ABCD");
    // FSA, FEA, FCS, the command sent or the key refused with 123
    const std::tuple<const char *, const char *, const char *, const char *> cases[] = {
        {"00000000", "0003FFFF", "ABCD", "13000000000003FFFF"},
        {"ffe00000", "FFFFFFFF", "ABCD", "13FFE00000FFFFFFFF"},
        {"0001000", "0001FFF", "ABCD", "13000100000001FF0F"}, // a seventh digit alone
        {"000100009", "0001FFFF", "ABCD", "13000100000001FFFF"},
        {"000000", "0003FFFF", "ABCD", "FSA"},
        {"0000XY00", "0003FFFF", "ABCD", "FSA"},
        {"00000000", "3FFFF", "ABCD", "FEA"},
        {"00000000", "0003FFFF", "AB-D", "FCS"},
        {"00000000", "0003FFFF", "", "FCS"}};
    for (const auto &[start, end, fcs, outcome] : cases) {
        SCOPED_TRACE(start);
        const bool refused = strlen(outcome) == 3;
        port.clearRecord(), gErrKey.clear();
        gFlashStart = start, gFlashEnd = end, gFlashCheckSum = fcs;
        EXPECT_EQ(CheckFROMCheckSum(), !refused);
        EXPECT_EQ(port.written(), refused ? QByteArray() : Hex(outcome));
        EXPECT_EQ(gErrNo, refused ? 123 : 0);
        EXPECT_EQ(gErrKey, refused ? outcome : "");
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
    QByteArray counting(40000, 0);
    for (int i = 0; i < counting.size(); ++i)
        counting[i] = char(i % 251);
    const QByteArray ff(512, char(0xFF));
    // name, block size, blank blocks sent as data, image, commands, gByteCount at the end
    const std::tuple<const char *, int, bool, QByteArray, const char *, int> cases[] = {
        {"1000 bytes", 512, false, counting.left(1000), "11121112", 1024},
        {"empty", 512, false, {}, "", 0},
        {"a blank block", 512, false, ff, "14", 512},
        {"blank once padded", 512, false, counting.left(512) + ff.left(100), "111214", 1024},
        {"blank sent as data", 512, true, ff, "1112", 512},
        {"one-byte blocks", 1, false, Hex("01FF02"), "1112141112", 3},
        {"the largest blocks", 32767, false, counting, "11121112", 65534}};
    for (const auto &[name, size, sendBlank, image, sent, count] : cases) {
        SCOPED_TRACE(name);
        commands.clear(), blocks.clear();
        gPacketSize = size, gSendBlankBlocks = sendBlank;
        ASSERT_TRUE(DownloadPrg(file("p.bin", image)));
        EXPECT_EQ(commands.toHex(), sent);
        EXPECT_EQ(gByteCount, count);
        EXPECT_EQ(gByteTotal, 0);
        EXPECT_EQ(gFuncName, "");
        // The kernel answered each block with its own sum: the host's sums counted the padding.
        const QByteArray padded = image + QByteArray(count - image.size(), char(0xFF));
        for (qsizetype at = 0, i = 0; at < padded.size(); at += size) {
            if (padded.mid(at, size) != QByteArray(size, char(0xFF)) || sendBlank) {
                EXPECT_EQ(blocks.value(i++), padded.mid(at, size)) << "block at " << at;
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
    EXPECT_FALSE(DownloadPrg(file("p.bin", ff)));
    EXPECT_EQ(gErrNo, 346);
    // An image that cannot be sent is refused before any byte.
    port.clearRecord();
    for (const QString &path : {app.filePath("missing.bin"), app.path()}) {
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
