// The serial trace a field engineer reads after a download, written as qarnctl and the window
// write it: whole runs against the simulated target in memory.

#include "bench.h"
#include "link_observer.h"
#include "trace.h"

namespace {

using namespace targetsim;

// The rows of a trace, each as "direction step bytes": the heading and the times left out.
QStringList Rows(const QByteArray &trace) {
    QStringList rows;
    for (const QString &line : QString::fromUtf8(trace).split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() >= 3 && fields[0].contains('.') && fields[0][0].isDigit())
            rows << fields.mid(1).join(' ');
    }
    return rows;
}

TEST(Trace, ASuccessfulRunReadsAsTheExchangesOfTheDownload) {
    RunBench r;
    QString checksum;
    ASSERT_TRUE(RunTraced(
        r.app.filePath("t.log"), [&](QString &sum) { return r.run(2, sum); }, checksum));
    EXPECT_TRUE(r.app.read("t.log").startsWith("QARN serial trace, started 20"));
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

TEST(Trace, ANewTraceKeepsThePreviousOneAndAnUnwritableTraceLeavesTheRunToRun) {
    RunBench r;
    r.app.write("t.log", "second\n");
    r.app.write("t.log.1", "first\n");
    QString checksum;
    const auto simulated = [](QString &sum) { return SimulateDownload(sum); };
    gFlashCheckSum = "BEEF";
    EXPECT_TRUE(RunTraced(r.app.filePath("t.log"), simulated, checksum));
    EXPECT_EQ(r.app.read("t.log.1"), "second\n");
    EXPECT_EQ(Rows(r.app.read("t.log")), QStringList({"-- - outcome ok, checksum BEEF"}));
    EXPECT_TRUE(RunTraced(r.app.filePath("no-such-folder/t.log"), simulated, checksum));
    EXPECT_EQ(gLinkObserver, nullptr);
}

} // namespace
