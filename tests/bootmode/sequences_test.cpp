// Whole downloads as the Start button runs them, against the simulated target on the port in
// memory, and the simulated run without a port.

#include "bench.h"
#include "download.h"
#include "memory_target.h"

#include <functional>

using namespace targetsim;

namespace {

constexpr int kBlock = 16;
constexpr int kFlashSize = 0x100;

// One data block, one blank block (skipped) and 8 bytes that the host pads to a block.
const QByteArray kImage =
    QByteArray(kBlock, 0x5A) + QByteArray(kBlock, char(0xFF)) + Hex("a0a1a2a3a4a5a6a7");

// The flash after a good download: the image, then erased flash.
QByteArray FlashAfter() {
    return kImage + QByteArray(kFlashSize - kImage.size(), char(0xFF));
}

class RunBench : public LinkBench {
public:
    RunBench() {
        gIrdFile = file("k.bin", Hex("01223344f0"));
        gPrgFile = file("p.bin", kImage);
        gIrdCheckSum = "018A";
        gFlashStart = "00000000";
        gFlashEnd = "000000FF";
        gFlashCheckSum = QString::number(Sum16(FlashAfter()), 16).toUpper();
        gPacketSize = kBlock;
        gWaitTime = "3";
        gBitRate2 = "38400";
        config.blockSize = kBlock;
        config.flashSize = kFlashSize;
        config.flashFill = 0x00; // unerased: a missing erase shows in the flash
        config.dataBitRate = 38400;
    }

    bool run(int variant, QString &checksum) {
        gSeqType = static_cast<int16_t>(variant);
        config.variant = variant;
        MemoryTarget target(port, config);
        const bool ok = RunDownload(checksum);
        flash = target.target().flash();
        return ok;
    }

    SimConfig config;
    QByteArray flash;
};

TEST(Run, EveryVariantWritesTheImageAtTheSecondBitRateAfterTheSettlingPause) {
    for (const int variant : {0, 1, 2, 3}) {
        SCOPED_TRACE(variant);
        RunBench fresh;
        QString checksum;
        const double start = fresh.clock.now();
        EXPECT_TRUE(fresh.run(variant, checksum)) << gErrNo;
        EXPECT_EQ(fresh.flash.toHex(), FlashAfter().toHex());
        EXPECT_EQ(checksum, gFlashCheckSum);
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(gErrNo, 0);
        EXPECT_EQ(gByteTotal, 0);
        EXPECT_FALSE(fresh.port.isOpen());
        EXPECT_EQ(fresh.port.closeCount(), 2);
        ASSERT_EQ(fresh.port.openings().size(), 2);
        EXPECT_EQ(fresh.port.openings()[0].settings, "9600,N,8,1");
        EXPECT_NEAR(fresh.clock.now() - start, 3.1, 0.15); // UT 3 in 100 ms sleeps
    }
}

TEST(Run, AFailureEndsTheRunInItsPhaseWithTheStepsNumber) {
    using Fault = std::function<void(RunBench &)>;
    struct Case {
        const char *name;
        Fault fault;
        int state[3], errNo[3]; // by variant 0, 1, 2
    };
    const Case cases[] = {
        {"no such port",
         [](RunBench &r) { r.port.setOpenError(8002); },
         {1, 1, 1},
         {301, 301, 301}},
        {"no answer to 00",
         [](RunBench &r) { r.config.faults.noAdjustAnswer = true; },
         {1, 1, 1},
         {302, 302, 302}},
        {"80 to 00",
         [](RunBench &r) { r.config.faults.adjustAnswer = 0x80; },
         {1, 1, 1},
         {303, 303, 303}},
        {"a stray byte after 00",
         [](RunBench &r) { r.config.faults.extraByteAt = Step::Adjust; },
         {1, 1, 1},
         {304, 304, 304}},
        {"11 to 55",
         [](RunBench &r) { r.config.faults.ackAnswer = 0x11; },
         {1, 2, 1},
         {312, 343, 312}},
        {"silence after 55",
         [](RunBench &r) { r.config.faults.silentAt = Step::AdjustEnd; },
         {1, 2, 1},
         {310, 340, 310}},
        {"a wrong echo",
         [](RunBench &r) { r.config.faults.corruptEcho = 2; },
         {1, 3, 1},
         {314, 314, 314}},
        {"kernel missing", [](RunBench &) { gIrdFile += ".gone"; }, {1, 3, 1}, {170, 170, 170}},
        {"line dropped in the kernel",
         [](RunBench &r) { r.config.faults.dropAt = Step::Kernel; },
         {1, 3, 1},
         {313, 313, 313}},
        {"silence after the kernel",
         [](RunBench &r) {
             r.config.faults.silentAt = r.config.variant == 1 ? Step::KernelAck : Step::BootErase;
         },
         {2, 3, 5},
         {340, 310, 0}},
        {"erase fails",
         [](RunBench &r) { r.config.faults.eraseFails = true; },
         {2, 2, 3},
         {350, 350, 350}},
        {"erase fails, a stray byte behind",
         [](RunBench &r) {
             r.config.faults.eraseFails = true;
             r.config.faults.extraByteAt = r.config.variant == 2 ? Step::Erase : Step::BootErase;
         },
         {2, 2, 3},
         {350, 350, 350}},
        {"data phase at another bit rate",
         [](RunBench &r) { r.config.dataBitRate = 19200; },
         {3, 3, 2},
         {340, 340, 340}},
        {"bad data bit rate", [](RunBench &) { gBitRate2 = "fast"; }, {3, 3, 2}, {330, 330, 330}},
        {"kernel sum differs",
         [](RunBench &) { gIrdCheckSum = "018B"; },
         {3, 3, 2},
         {371, 371, 371}},
        {"write fails",
         [](RunBench &r) { r.config.faults.writeFailBlock = 0; },
         {4, 4, 4},
         {360, 360, 360}},
        {"block sum differs",
         [](RunBench &r) { r.config.faults.badBlockSum = 2; },
         {4, 4, 4},
         {341, 341, 341}},
        {"silence at a blank block",
         [](RunBench &r) { r.config.faults.silentAt = Step::Blank; },
         {4, 4, 4},
         {346, 346, 346}},
        {"image missing", [](RunBench &) { gPrgFile += ".gone"; }, {4, 4, 4}, {171, 171, 171}},
        {"line dropped in a block",
         [](RunBench &r) { r.config.faults.dropAt = Step::Data; },
         {4, 4, 4},
         {342, 342, 342}},
        {"flash sum differs, a stray byte behind",
         [](RunBench &r) {
             r.config.faults.badFlashSum = true;
             r.config.faults.extraByteAt = Step::FlashSum;
         },
         {4, 4, 4},
         {370, 370, 370}},
    };
    for (const Case &c : cases) {
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(testing::Message() << c.name << ", variant " << variant);
            RunBench r;
            r.config.variant = variant;
            c.fault(r);
            QString checksum;
            EXPECT_EQ(r.run(variant, checksum), c.errNo[variant] == 0);
            EXPECT_EQ(gDownloadState, c.state[variant]);
            EXPECT_EQ(gErrNo, c.errNo[variant]);
            EXPECT_FALSE(r.port.isOpen());
            if (c.errNo[variant] == 370) { // the value the target reported, for the error text
                EXPECT_EQ(gObtainedCheckSum, (gFlashCheckSum.toUInt(nullptr, 16) + 1) & 0xFFFF);
            }
        }
    }
}

TEST(Run, AStopDuringTheSettlingPauseWaitsItOutAndEndsTheRunAtTheNextWait) {
    RunBench r;
    r.config.faults.silentAt = Step::KernelSum; // the kernel would take its time
    gStatusTimeout = 100;
    r.clock.onProcessEvents([] {
        if (gDownloadState == 3)
            gStopRequested = true;
    });
    const double start = r.clock.now();
    QString checksum;
    EXPECT_FALSE(r.run(0, checksum));
    EXPECT_EQ(gErrNo, 340);
    EXPECT_EQ(gFuncName, "CheckIrd");
    EXPECT_TRUE(gStopRequested);
    EXPECT_NEAR(r.clock.now() - start, 3.1, 0.15); // the pause, and no time-out
    EXPECT_EQ(r.port.openings().size(), 2);
}

TEST(Run, TheChecksumTextIsThatOfTheLastReportedSumAndAnUnknownVariantRunsNothing) {
    RunBench r;
    r.port.setOpenError(8002);
    gObtainedCheckSum = 0x1002F;
    QString checksum = "junk";
    EXPECT_FALSE(r.run(0, checksum));
    EXPECT_EQ(checksum, "002F");
    r.port.setOpenError(0);
    EXPECT_FALSE(r.run(7, checksum));
    EXPECT_TRUE(r.port.openings().isEmpty());
    EXPECT_EQ(checksum, "002F");
}

TEST_F(Bench, TheSimulatedRunWalksThePhasesOnItsTimetableUntilAStop) {
    clock.onProcessEvents([] {
        if (gDownloadState == 4 && gByteCount == 2000)
            gStopRequested = true;
    });
    gErrNo = 123;
    QString checksum;
    EXPECT_FALSE(SimulateDownload(checksum));
    EXPECT_EQ(checksum, "0000");
    EXPECT_EQ(gDownloadState, 4);
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(clock.sleepCount(), 10 + 31 * 3 + 22);

    struct Sample {
        int state, total;
        bool operator==(const Sample &o) const { return state == o.state && total == o.total; }
    };
    // Passes of 100 ms in each (phase, byte total) in turn.
    const QList<QList<std::pair<Sample, int>>> timetable = {
        {{{1, 0}, 10}, {{1, 3000}, 31}, {{2, 0}, 31}, {{3, 0}, 31}, {{4, 7000}, 71}},
        {{{1, 0}, 10}, {{2, 0}, 31}, {{3, 3000}, 31}, {{3, 0}, 31}, {{4, 7000}, 71}},
    };
    for (const int variant : {0, 1, 2, 3}) {
        SCOPED_TRACE(variant);
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        QList<std::pair<Sample, int>> seen;
        own.onProcessEvents([&] {
            const Sample s{gDownloadState, gByteTotal};
            if (seen.isEmpty() || !(seen.last().first == s))
                seen.append({s, 0});
            if (gByteTotal > 0) { // the count climbs by 100 a pass
                EXPECT_EQ(gByteCount, 100 * seen.last().second);
            }
            ++seen.last().second;
        });
        gStopRequested = false;
        gSeqType = static_cast<int16_t>(variant);
        gFlashCheckSum = "1A2B";
        EXPECT_TRUE(SimulateDownload(checksum));
        EXPECT_EQ(checksum, "1A2B");
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(seen, timetable[variant == 1]);
        EXPECT_EQ(gByteCount, 7000);
        EXPECT_EQ(own.sleepCount(), 174);
    }
}

} // namespace
