// Whole downloads as the Start button runs them, against the simulated target on the port in
// memory, the simulated run without a port, and the serial trace a field engineer reads after a
// download, written as qarnctl and the window write it.

#include "bench.h"
#include "link_observer.h"
#include "platform_files.h"
#include "trace.h"

#include <functional>

using namespace targetsim;

namespace {

TEST(Run, EveryVariantWritesTheImageAfterTheSettlingPauseAndAFailureEndsItInItsPhase) {
    using Fault = std::function<void(Faults &)>;
    // phase:number for variants 0, 1, 2 (and 3); a success (5:0) writes the image at the second
    // bit rate after a settling pause of UT 3 in 100 ms sleeps
    const std::tuple<const char *, Fault, const char *> cases[] = {
        {"no fault", [](Faults &) {}, "5:0 5:0 5:0 5:0"},
        {"no such port", [](Faults &) { gPort = "0"; }, "1:301 1:301 1:301"},
        {"no port bound", [](Faults &) { gComm = nullptr; }, "1:301 1:301 1:301"},
        {"no answer to 00", [](Faults &f) { f.noAdjustAnswer = true; }, "1:302 1:302 1:302"},
        {"silence after 55", [](Faults &f) { f.silentAt = Step::AdjustEnd; }, "1:310 2:340 1:310"},
        {"a wrong echo", [](Faults &f) { f.corruptEcho = 2; }, "1:314 3:314 1:314"},
        {"no erase byte", [](Faults &f) { f.silentAt = Step::BootErase; }, "2:340 2:340 5:0"},
        {"no acknowledge", [](Faults &f) { f.silentAt = Step::KernelAck; }, "5:0 3:310 5:0"},
        {"erase fails, a stray byte behind",
         [](Faults &f) { f.eraseFails = true, f.extraByteAt = Step::BootErase; },
         "2:350 2:350 3:350"},
        {"bad data bit rate", [](Faults &) { gBitRate2 = "fast"; }, "3:330 3:330 2:330"},
        {"kernel sum differs", [](Faults &) { gIrdCheckSum = "018B"; }, "3:371 3:371 2:371"},
        {"erase by command fails, a stray byte behind",
         [](Faults &f) { f.eraseFails = true, f.extraByteAt = Step::Erase; }, "2:350 2:350 3:350"},
        {"write fails", [](Faults &f) { f.writeFailBlock = 0; }, "4:360 4:360 4:360"},
        {"line dropped in a block", [](Faults &f) { f.dropAt = Step::Data; }, "4:342 4:342 4:342"},
        {"flash sum differs, a stray byte behind",
         [](Faults &f) { f.badFlashSum = true, f.extraByteAt = Step::FlashSum; },
         "4:370 4:370 4:370"}};
    for (const auto &[name, fault, outcomes] : cases) {
        for (int variant = 0; variant <= QString(outcomes).count(' '); ++variant) {
            SCOPED_TRACE(testing::Message() << name << ", variant " << variant);
            const QString outcome = QString(outcomes).section(' ', variant, variant);
            RunBench r;
            fault(r.config.faults);
            QString checksum;
            EXPECT_EQ(r.run(variant, checksum), outcome.endsWith(":0"));
            if (QString(name) == "no fault") {
                EXPECT_EQ(r.flash.toHex(), RunBench::flashAfter().left(0x100).toHex());
                EXPECT_EQ(checksum, gFlashCheckSum);
                EXPECT_EQ(gByteTotal, 0);
                EXPECT_NEAR(r.clock.now() - 1000, 3.1, 0.15); // the fake clock starts at 1000
            }
            EXPECT_EQ(gDownloadState, outcome.section(':', 0, 0).toInt());
            EXPECT_EQ(gErrNo, outcome.section(':', 1).toInt());
            EXPECT_FALSE(r.port.isOpen());
            if (gErrNo == 370) { // the value the target reported, for the error text
                EXPECT_EQ(gObtainedCheckSum, (gFlashCheckSum.toUInt(nullptr, 16) + 1) & 0xFFFF);
            }
        }
    }
}

TEST(Run, AStopDuringTheSettlingPauseWaitsItOutAndEndsTheRunAtTheNextWait) {
    RunBench r;
    r.config.faults.silentAt = Step::KernelSum; // the kernel would take its time
    gStatusTimeout = 100;
    r.clock.onProcessEvents([] { gStopRequested = gStopRequested || gDownloadState == 3; });
    QString checksum;
    EXPECT_FALSE(r.run(0, checksum));
    EXPECT_EQ(gErrNo, 340);
    EXPECT_EQ(gFuncName, "CheckIrd");
    EXPECT_TRUE(gStopRequested);
    EXPECT_NEAR(r.clock.sleptSeconds(), 3.2, 0.15); // the whole pause, and no time-out
    // An early failure gives the checksum text of the sum reported before; an unknown variant
    // runs nothing.
    gPort = "0";
    gObtainedCheckSum = 0x1002F;
    EXPECT_FALSE(r.run(0, checksum));
    EXPECT_EQ(checksum, "002F");
    r.port.clearRecord();
    EXPECT_FALSE(r.run(7, checksum));
    EXPECT_TRUE(r.port.openings().isEmpty());
}

TEST_F(Bench, TheSimulatedRunWalksThePhasesOnItsTimetableUntilAStop) {
    // Per variant, the passes of 100 ms in each phase/byte total in turn.
    const char *timetables[] = {"1/0:10 1/3000:31 2/0:31 3/0:31 4/7000:71",
                                "1/0:10 2/0:31 3/3000:31 3/0:31 4/7000:71"};
    gFlashCheckSum = "1A2B";
    QString checksum;
    for (const int variant : {0, 1, 2, 3}) {
        SCOPED_TRACE(variant);
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        QStringList seen; // "phase/total:passes" per stretch
        QString last;
        int passes = 0;
        own.onProcessEvents([&] {
            const QString phase = QString("%1/%2").arg(gDownloadState).arg(gByteTotal);
            passes = phase == last ? passes + 1 : (seen << (last = phase), 1);
            seen.last() = phase + ":" + QString::number(passes);
            if (gByteTotal != 0) { // the count climbs by 100 a pass
                EXPECT_EQ(gByteCount, 100 * (passes - 1));
            }
        });
        gSeqType = static_cast<int16_t>(variant);
        EXPECT_TRUE(SimulateDownload(checksum));
        EXPECT_EQ(checksum, "1A2B");
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(seen.join(' '), timetables[variant == 1]);
    }
    ScopedLinkClock again(&clock);
    clock.onProcessEvents([] { gStopRequested = gDownloadState == 4 && gByteCount == 2000; });
    gErrNo = 123;
    EXPECT_FALSE(SimulateDownload(checksum));
    EXPECT_EQ(checksum + QString(" %1 %2").arg(gDownloadState).arg(gErrNo), "0000 4 123");
    EXPECT_EQ(clock.sleepCount(), 10 + 31 * 3 + 22);
}

TEST(Trace, ASuccessfulRunReadsAsTheExchangesOfTheDownloadAndANewTraceKeepsThePreviousOne) {
    RunBench r;
    r.app.write("t.log", "first\n");
    QByteArray early; // what a run killed at its first wait leaves: every event row before it
    r.clock.onProcessEvents([&] { early = early.isEmpty() ? r.app.read("t.log") : early; });
    QString checksum;
    ASSERT_TRUE(RunTraced(
        r.app.filePath("t.log"), [&](QString &sum) { return r.run(2, sum); }, checksum));
    EXPECT_EQ(r.app.read("t.log.1"), "first\n");
    EXPECT_TRUE(r.app.read("t.log").startsWith("QARN serial trace, started 20"));
    EXPECT_TRUE(early.endsWith("echoed back\n       time  dir    step                bytes\n"
                               "   0.000000  --  OpenPort            open COM1 9600,N,8,1 ok\n"));
    EXPECT_EQ(Rows(r.app.read("t.log")).join('\n'),
              "-- OpenPort open COM1 9600,N,8,1 ok\n-> AdjBitRate 00\n<- AdjBitRate 00\n-> - 55\n"
              "<- - AA\n<> DownloadIrd 7 bytes, sum 018F, echo sum 018F, 0.000 s\n-- - close\n"
              "-- OpenPort open COM1 38400,N,8,1 ok\n-> CheckIrd 10 00 05\n<- CheckIrd 10 01 8A\n"
              "-> EraseFROM 15\n<- EraseFROM 15 00 00\n"
              "-> DownloadPrg 11 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A\n"
              "<- DownloadPrg 11 05 A0\n-> DownloadPrg 12\n<- DownloadPrg 12 00 00\n"
              "-> DownloadPrg 14\n<- DownloadPrg 14 00 00\n"
              "-> DownloadPrg 11 A0 A1 A2 A3 A4 A5 A6 A7 FF FF FF FF FF FF FF FF\n"
              "<- DownloadPrg 11 0D 14\n-> DownloadPrg 12\n<- DownloadPrg 12 00 00\n"
              "-> CheckFROMCheckSum 13 00 00 00 00 00 00 01 FF\n<- CheckFROMCheckSum 13 " +
                  checksum.left(2) + " " + checksum.right(2) +
                  "\n-- - close\n-- - outcome ok, checksum " + checksum);
    // A simulated run has only its outcome; an unwritable trace leaves the run to run.
    const auto simulated = [](QString &sum) { return SimulateDownload(sum); };
    gFlashCheckSum = "BEEF";
    EXPECT_TRUE(RunTraced(r.app.filePath("t.log"), simulated, checksum));
    EXPECT_TRUE(r.app.read("t.log.1").contains("CheckFROMCheckSum"));
    EXPECT_EQ(Rows(r.app.read("t.log")), QStringList({"-- - outcome ok, checksum BEEF"}));
    EXPECT_TRUE(RunTraced(r.app.filePath("no-such-folder/t.log"), simulated, checksum));
    if (kHasSymlinks) { // a link that leads nowhere moves aside and is never written through
        ASSERT_TRUE(QFile::link(r.app.filePath("victim"), r.app.filePath("l.log")));
        EXPECT_TRUE(RunTraced(r.app.filePath("l.log"), simulated, checksum));
        EXPECT_TRUE(QFileInfo(r.app.filePath("l.log.1")).isSymLink() && !r.app.exists("victim"));
    }
    EXPECT_EQ(gLinkObserver, nullptr);
}

TEST(Trace, AFailedRunShowsWhatWentWrongAndEndsWithItsNumberAndStep) {
    using Fault = std::function<void(Faults &)>;
    const std::tuple<const char *, Fault, const char *, const char *> cases[] = {
        {"a wrong echo", [](Faults &f) { f.corruptEcho = 2; },
         "<> DownloadIrd 5 bytes, sum 005B, echo sum 00F4, 0.000 s; 1 echoes differ, the first at "
         "byte 4: sent 33, echoed CC",
         "-- DownloadIrd outcome failed, error number 314, run-time code 0, step \"DownloadIrd\", "
         "phase 1"},
        {"no answer to 00: the zeros summed up", [](Faults &f) { f.noAdjustAnswer = true; },
         "-> AdjBitRate [20 bytes, sum 0000]",
         "-- AdjBitRate outcome failed, error number 302, run-time code 0, step \"AdjBitRate\", "
         "phase 1"},
        {"Stop", [](Faults &f) { f.noAdjustAnswer = true, gStopRequested = true; },
         "-> AdjBitRate 00", "-- AdjBitRate outcome stopped, error number 302"}};
    for (const auto &[name, fault, row, outcome] : cases) {
        SCOPED_TRACE(name);
        RunBench r;
        gAdjustTimeout = 2;
        fault(r.config.faults);
        QString checksum;
        EXPECT_FALSE(RunTraced(
            r.app.filePath("t.log"), [&](QString &sum) { return r.run(0, sum); }, checksum));
        const QStringList rows = Rows(r.app.read("t.log"));
        EXPECT_TRUE(rows.contains(row)) << rows.join('\n').toStdString();
        EXPECT_TRUE(rows.last().startsWith(outcome)) << rows.last().toStdString();
    }
}

// Echoes that went wrong twice in one run, the first time on its first byte: the summary names
// that byte, not the later one.
TEST(Trace, AnEchoRunNamesItsFirstWrongEchoEvenWhenItIsTheFirstByte) {
    TempAppDir app;
    SerialTrace trace;
    ASSERT_EQ(trace.open(app.filePath("t.log")), 0);
    gFuncName = "DownloadIrd";
    const char pairs[][2] = {{0x11, 0x22}, {0x33, 0x33}, {0x44, 0x45}, {0x55, 0x55}, {0x66, 0x66}};
    for (const auto &[sent, back] : pairs)
        trace.onSend(QByteArray(1, sent)), trace.onReceive(QByteArray(1, back));
    trace.close();
    const QStringList rows = Rows(app.read("t.log"));
    EXPECT_TRUE(rows.filter("2 echoes differ, the first at byte 0: sent 11, echoed 22").size() == 1)
        << rows.join('\n').toStdString();
}

} // namespace

namespace {

TEST(Verify, OnlyVariantsWhoseKernelErasesAreCheckedAndTheTargetIsNeitherErasedNorWritten) {
    // The unerased flash (00) and the FF read beyond it sum to FF00 over FSA..FEA.
    const QList<Step> read = {Step::Adjust, Step::AdjustEnd, Step::Kernel, Step::KernelSum,
                              Step::FlashSum};
    const std::tuple<int, const char *, VerifyResult, const char *> cases[] = {
        {0, "FF00", VerifyResult::Failed, "0000"},
        {1, "FF00", VerifyResult::Failed, "0000"},
        {2, "FF00", VerifyResult::Matches, "FF00"},
        {3, "FF01", VerifyResult::Differs, "FF00"}};
    for (const auto &[variant, fcs, result, sum] : cases) {
        SCOPED_TRACE(variant);
        RunBench r;
        gSeqType = int16_t(r.config.variant = variant);
        gFlashCheckSum = fcs;
        MemoryTarget target(r.port, r.config);
        QString checksum;
        EXPECT_EQ(RunVerify(checksum), result);
        EXPECT_EQ(checksum, sum);
        EXPECT_EQ(target.target().steps(), variant < 2 ? QList<Step>() : read);
        EXPECT_EQ(target.target().flash(), QByteArray(0x100, 0));
        EXPECT_FALSE(r.port.isOpen());
    }
}

} // namespace
