#include "download.h"
#include "link.h"
#include "link_observer.h"
#include "scripted_device.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray KernelBytes() {
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(static_cast<char>(0x40 + i % 64));
    return bytes;
}

// Two data blocks around one blank block.
QByteArray ImageBytes() {
    QByteArray bytes;
    for (int i = 0; i < 512; ++i)
        bytes.append(static_cast<char>(i & 0x7F));
    bytes.append(Repeat('\xFF', 512));
    bytes.append(Hex("0102030405"));
    return bytes;
}

// A target and a description ready for a whole run of variant `seqType`.
class RunBench {
public:
    explicit RunBench(int seqType) : device(port) {
        SetDefaultSettings();
        gPort = QStringLiteral("2");
        gBitRate2 = QStringLiteral("115200");
        gComm = &port;
        gSeqType = static_cast<int16_t>(seqType);
        app.write("kernel.df", KernelBytes());
        app.write("image.pfn", ImageBytes());
        gIrdFile = app.filePath("kernel.df");
        gPrgFile = app.filePath("image.pfn");
        gIrdCheckSum = QString::number(Sum16(KernelBytes()), 16);
        gFlashStart = QStringLiteral("00000000");
        gFlashEnd = QStringLiteral("0003FFFF");
        gFlashCheckSum = QStringLiteral("ABCD");
        // The kernel-erase target does not answer after the kernel.
        if (seqType >= 2)
            device.afterKernelReply.clear();
    }
    ~RunBench() { gComm = nullptr; }

    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort port;
    ScriptedDevice device;
};

// What the host sends in the data phase for ImageBytes().
QByteArray DataPhaseWire(bool erase) {
    const QByteArray image = ImageBytes();
    QByteArray wire = Hex("10012C");
    if (erase)
        wire += Hex("15");
    wire += Hex("11") + image.left(512) + Hex("12");
    wire += Hex("14");
    wire += Hex("11") + image.mid(1024) + Repeat('\xFF', 507) + Hex("12");
    wire += Hex("13000000000003FFFF");
    return wire;
}

TEST(RunDownload, EachVariantRunsToTheEndAgainstTheTarget) {
    for (const int seqType : {0, 1, 2, 3}) {
        SCOPED_TRACE(seqType);
        RunBench run(seqType);
        QString checksum;
        ASSERT_TRUE(RunDownload(checksum));
        EXPECT_EQ(checksum, QStringLiteral("ABCD"));
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(gErrNo, 0);
        EXPECT_EQ(gByteTotal, 0);
        EXPECT_FALSE(run.port.isOpen());
        EXPECT_EQ(run.port.closeCount(), 2);
        ASSERT_EQ(run.port.openings().size(), 2);
        EXPECT_EQ(run.port.openings()[0].port, 2);
        EXPECT_EQ(run.port.openings()[0].settings, QStringLiteral("9600,N,8,1"));
        EXPECT_EQ(run.port.openings()[1].settings, QStringLiteral("115200,N,8,1"));
        EXPECT_EQ(run.device.kernel, KernelBytes());
        const QByteArray bootWire = Hex("00") + Hex("55") + Hex("012C") + KernelBytes();
        EXPECT_EQ(run.port.written(), bootWire + DataPhaseWire(seqType >= 2));
        // The settling pause of UT (3 s) lies between the two phases.
        EXPECT_GE(run.clock.sleptSeconds(), 3.0);
        EXPECT_LT(run.clock.sleptSeconds(), 3.3);
    }
}

TEST(RunDownload, PhaseAndNumberOfAFailureInEachVariant) {
    using Fault = std::function<void(RunBench &)>;
    struct Outcome {
        int state;
        int errNo; // 0: the run succeeds
    };
    struct Case {
        const char *name;
        Fault fault;
        Outcome byVariant[3];
    };
    const Case cases[] = {
        {"no such port",
         [](RunBench &r) { r.port.setOpenError(8002); },
         {{1, 301}, {1, 301}, {1, 301}}},
        {"no answer to the 00 pattern",
         [](RunBench &r) {
             r.device.adjustReply.clear();
             gAdjustTimeout = 2;
         },
         {{1, 302}, {1, 302}, {1, 302}}},
        {"answer 80 to the pattern",
         [](RunBench &r) { r.device.adjustReply = Hex("80"); },
         {{1, 303}, {1, 303}, {1, 303}}},
        {"FF after 55",
         [](RunBench &r) { r.device.adjustEndReply = Hex("FF"); },
         {{1, 312}, {2, 350}, {1, 312}}},
        {"silence after 55",
         [](RunBench &r) { r.device.adjustEndReply.clear(); },
         {{1, 310}, {2, 340}, {1, 310}}},
        {"wrong kernel echo",
         [](RunBench &r) { r.device.corruptEchoAt = 7; },
         {{1, 314}, {3, 314}, {1, 314}}},
        {"kernel missing",
         [](RunBench &) { gIrdFile += QStringLiteral(".gone"); },
         {{1, 170}, {3, 170}, {1, 170}}},
        {"FF after the kernel",
         [](RunBench &r) { r.device.afterKernelReply = Hex("FF"); },
         {{2, 350}, {3, 312}, {5, 0}}},
        {"bad data bit rate",
         [](RunBench &) { gBitRate2 = QStringLiteral("fast"); },
         {{3, 330}, {3, 330}, {2, 330}}},
        {"kernel checksum differs",
         [](RunBench &r) { r.device.kernelReply[0x10] = Hex("100000"); },
         {{3, 371}, {3, 371}, {2, 371}}},
        {"erase by the kernel fails",
         [](RunBench &r) { r.device.kernelReply[0x15] = Hex("15FFFF"); },
         {{5, 0}, {5, 0}, {3, 350}}},
        {"write fails",
         [](RunBench &r) { r.device.kernelReply[0x12] = Hex("12FFFF"); },
         {{4, 360}, {4, 360}, {4, 360}}},
        {"program image missing",
         [](RunBench &) { gPrgFile += QStringLiteral(".gone"); },
         {{4, 171}, {4, 171}, {4, 171}}},
        {"flash checksum differs",
         [](RunBench &r) { r.device.flashSum = Hex("ABCE"); },
         {{4, 370}, {4, 370}, {4, 370}}},
    };
    for (const Case &c : cases) {
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(std::string(c.name) + ", variant " + std::to_string(variant));
            RunBench run(variant);
            c.fault(run);
            QString checksum;
            const Outcome expected = c.byVariant[variant];
            EXPECT_EQ(RunDownload(checksum), expected.errNo == 0);
            EXPECT_EQ(gDownloadState, expected.state);
            EXPECT_EQ(gErrNo, expected.errNo);
            EXPECT_FALSE(run.port.isOpen());
        }
    }
}

TEST(RunDownload, ChecksumTextIsTheLastFourUpperCaseHexDigits) {
    struct Case {
        QByteArray reply;
        const char *text;
    };
    const Case cases[] = {{Hex("002F"), "002F"}, {Hex("ABCD"), "ABCD"}, {Hex("0000"), "0000"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        RunBench run(2);
        run.device.flashSum = c.reply;
        gFlashCheckSum = QString::fromLatin1(c.text);
        QString checksum;
        EXPECT_TRUE(RunDownload(checksum));
        EXPECT_EQ(checksum, QString::fromLatin1(c.text));
    }
}

TEST(RunDownload, AnEarlyFailureReportsTheChecksumOfTheRunBefore) {
    RunBench run(0);
    run.port.setOpenError(8002);
    gObtainedCheckSum = 0x12345;
    QString checksum = QStringLiteral("junk");
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_EQ(checksum, QStringLiteral("2345"));
    gObtainedCheckSum = 0;
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_EQ(checksum, QStringLiteral("0000"));
}

TEST(RunDownload, AnUnknownVariantRunsNothing) {
    RunBench run(7);
    QString checksum;
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_TRUE(run.port.openings().isEmpty());
    EXPECT_TRUE(run.port.written().isEmpty());
    EXPECT_EQ(checksum, QStringLiteral("0000"));
}

TEST(RunDownload, APortThatGoesAwayEndsTheRunAtOnceWithThePortClosed) {
    RunBench run(0);
    run.device.failOnCommand = 0x11;
    QString checksum;
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_EQ(gDownloadState, 4);
    EXPECT_EQ(gErrNo, 342);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_EQ(gFuncName, QStringLiteral("DownloadPrg"));
    EXPECT_FALSE(run.port.isOpen());
    EXPECT_LT(run.clock.sleptSeconds(), 4); // no time-out was waited out
}

TEST(RunDownload, StopDuringTheSettlingPauseEndsTheRunAtTheNextWait) {
    RunBench run(0);
    run.device.kernelReply[0x10] = QByteArray(); // the kernel would take its time
    run.clock.onProcessEvents([] {
        if (gDownloadState == 3)
            gStopRequested = true;
    });
    QString checksum;
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_EQ(gDownloadState, 3);
    EXPECT_EQ(gErrNo, 340);
    EXPECT_TRUE(gStopRequested);
    EXPECT_EQ(gFuncName, QStringLiteral("CheckIrd"));
    EXPECT_FALSE(run.port.isOpen());
    EXPECT_LT(run.clock.sleptSeconds(), 1);
}

TEST(RunDownload, VariantOneTakesTheBootAcknowledgeOnlyAfterTheKernel) {
    // The target answers 55 with the erase-complete AA and then stays silent after the kernel:
    // variant 1 takes that AA as the end of the erase and then waits for the acknowledge.
    RunBench run(1);
    run.device.afterKernelReply.clear();
    gStatusTimeout = 1;
    QString checksum;
    EXPECT_FALSE(RunDownload(checksum));
    EXPECT_EQ(gDownloadState, 3);
    EXPECT_EQ(gErrNo, 310);
    EXPECT_EQ(run.device.kernel, KernelBytes());
}

class Recorder : public LinkObserver {
public:
    void onRunEnd(bool ok) override { ends << ok; }
    QList<bool> ends;
};

TEST(RunDownload, TheObserverHearsTheEndOfARun) {
    RunBench run(2);
    Recorder recorder;
    gLinkObserver = &recorder;
    QString checksum;
    RunDownload(checksum);
    run.port.setOpenError(8002);
    RunDownload(checksum);
    gLinkObserver = nullptr;
    EXPECT_EQ(recorder.ends, QList<bool>({true, false}));
}

// One sample per pass of the simulated run.
struct Sample {
    int state;
    int total;
    int count;
};

QList<Sample> Simulate(int seqType, bool &ok, QString &checksum, FakeLinkClock &clock) {
    QList<Sample> samples;
    gSeqType = static_cast<int16_t>(seqType);
    clock.onProcessEvents([&] { samples.append({gDownloadState, gByteTotal, gByteCount}); });
    ok = SimulateDownload(checksum);
    return samples;
}

int CountState(const QList<Sample> &samples, int state, int total) {
    int n = 0;
    for (const Sample &s : samples)
        n += s.state == state && s.total == total ? 1 : 0;
    return n;
}

TEST(SimulateDownload, WalksThePhasesOnTheTimetable) {
    struct Case {
        int seqType;
        // passes in (state, byte total) pairs
        int s1t0, s1t3000, s2t0, s2t3000, s3t0, s3t3000, s4t7000;
    };
    const Case cases[] = {
        {0, 10, 31, 31, 0, 31, 0, 71},
        {1, 10, 0, 31, 0, 31, 31, 71},
        {2, 10, 31, 31, 0, 31, 0, 71},
        {3, 10, 31, 31, 0, 31, 0, 71},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seqType);
        TempAppDir app;
        FakeLinkClock clock;
        ScopedLinkClock use(&clock);
        gFlashCheckSum = QStringLiteral("1A2B");
        bool ok = false;
        QString checksum;
        const QList<Sample> samples = Simulate(c.seqType, ok, checksum, clock);
        EXPECT_TRUE(ok);
        EXPECT_EQ(checksum, QStringLiteral("1A2B"));
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(samples.size(), 174);
        EXPECT_EQ(clock.sleepCount(), 174);
        EXPECT_NEAR(clock.sleptSeconds(), 17.4, 1e-6);
        EXPECT_EQ(CountState(samples, 1, 0), c.s1t0);
        EXPECT_EQ(CountState(samples, 1, 3000), c.s1t3000);
        EXPECT_EQ(CountState(samples, 2, 0), c.s2t0);
        EXPECT_EQ(CountState(samples, 2, 3000), c.s2t3000);
        EXPECT_EQ(CountState(samples, 3, 0), c.s3t0);
        EXPECT_EQ(CountState(samples, 3, 3000), c.s3t3000);
        EXPECT_EQ(CountState(samples, 4, 7000), c.s4t7000);
        // The byte count climbs by 100 per pass within a transfer.
        EXPECT_EQ(samples[10 + 30].count, 3000);
        EXPECT_EQ(samples.last().count, 7000);
        EXPECT_EQ(gErrNo, 0);
    }
}

TEST(SimulateDownload, StopInPhaseFourEndsTheRunWithFalse) {
    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock use(&clock);
    gFlashCheckSum = QStringLiteral("1A2B");
    gErrNo = 123;
    gSeqType = 0;
    clock.onProcessEvents([] {
        if (gDownloadState == 4 && gByteCount == 2000)
            gStopRequested = true;
    });
    QString checksum;
    EXPECT_FALSE(SimulateDownload(checksum));
    EXPECT_EQ(checksum, QStringLiteral("0000"));
    EXPECT_EQ(gDownloadState, 4);
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(clock.sleepCount(), 10 + 31 * 3 + 22);
}

} // namespace
