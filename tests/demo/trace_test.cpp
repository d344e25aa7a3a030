// The serial trace: what a field engineer reads after a failed download. Short exchanges byte
// by byte with the step under way, long writes and echoed kernel bytes summarised, the port's
// open and close with its line settings, and the outcome with the error number.

#include "download.h"
#include "frmQARN_UI.h"
#include "link_clock.h"
#include "link_observer.h"
#include "memory_port.h"
#include "memory_target.h"
#include "settings.h"
#include "shared_state.h"
#include "temp_app_dir.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace targetsim;

inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QStringList traceLines(const TempAppDir &app, const QString &name = "qarn-trace.log") {
    return QString::fromUtf8(app.read(name)).split('\n', Qt::SkipEmptyParts);
}

// The rows of a trace (heading left out), each as "dir step bytes" with the time cut off and
// runs of blanks made single.
QStringList rows(const QStringList &lines) {
    QStringList out;
    for (const QString &line : lines) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() < 3 || !fields[0].contains('.') || !fields[0][0].isDigit())
            continue;
        out << fields.mid(1).join(' ');
    }
    return out;
}

class TraceTest : public ::testing::Test {
protected:
    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    SerialTrace trace;

    void openTrace() { ASSERT_EQ(trace.open(app.filePath("t.log")), 0); }
    QStringList closeAndRead() {
        trace.close();
        return rows(traceLines(app, "t.log"));
    }
    static QByteArray bytes(const char *hex) { return QByteArray::fromHex(hex); }
};

} // namespace

TEST_F(TraceTest, ShortExchangesShowEveryByteWithItsStep) {
    openTrace();
    gFuncName = "AdjBitRate";
    trace.onSend(bytes("00"));
    trace.onSend(bytes("00"));
    trace.onSend(bytes("00"));
    trace.onReceive(bytes("00"));
    gFuncName = "";
    trace.onSend(bytes("55"));
    trace.onReceive(bytes("aa"));
    gFuncName = "CheckIrd";
    trace.onSend(bytes("100040"));
    trace.onReceive(bytes("10"));
    trace.onReceive(bytes("12"));
    trace.onReceive(bytes("34"));
    EXPECT_EQ(closeAndRead(), QStringList({
                                  "-> AdjBitRate 00 00",
                                  "-> AdjBitRate 00",
                                  "<- AdjBitRate 00",
                                  "-> - 55",
                                  "<- - AA",
                                  "-> CheckIrd 10 00 40",
                                  "<- CheckIrd 10 12 34",
                              }));
}

TEST_F(TraceTest, PortOpenAndCloseShowTheLineSettingsAndResult) {
    openTrace();
    trace.onOpen(1, "115200,N,8,1", 0);
    trace.onClose();
    gFuncName = "OpenPort";
    trace.onOpen(3, "38400,E,8,1", 8002);
    EXPECT_EQ(closeAndRead(), QStringList({
                                  "-- - open COM1 115200,N,8,1 ok",
                                  "-- - close",
                                  "-- OpenPort open COM3 38400,E,8,1 failed, code 8002",
                              }));
}

TEST_F(TraceTest, ALongWriteShowsItsLengthAndSumNotItsBytes) {
    openTrace();
    gFuncName = "DownloadPrg";
    trace.onSend(bytes("11"));
    trace.onSend(QByteArray(512, char(0xFF)));
    trace.onReceive(bytes("11"));
    trace.onReceive(bytes("fe"));
    trace.onReceive(bytes("00"));
    trace.onSend(bytes("12"));
    trace.onReceive(bytes("12"));
    trace.onReceive(bytes("00"));
    trace.onReceive(bytes("00"));
    EXPECT_EQ(closeAndRead(), QStringList({
                                  "-> DownloadPrg 11 [512 bytes, sum FE00]",
                                  "<- DownloadPrg 11 FE 00",
                                  "-> DownloadPrg 12",
                                  "<- DownloadPrg 12 00 00",
                              }));
}

TEST_F(TraceTest, ManyShortWritesInARowBecomeOneSummary) {
    openTrace();
    gFuncName = "AdjBitRate";
    for (int i = 0; i < 150; ++i)
        trace.onSend(bytes("00"));
    EXPECT_EQ(closeAndRead(), QStringList({"-> AdjBitRate [150 bytes, sum 0000]"}));
}

TEST_F(TraceTest, AnEchoedTransferBecomesOneLineWithBothSums) {
    openTrace();
    gFuncName = "DownloadIrd";
    QByteArray kernel = bytes("1170");
    for (int i = 0; i < 4464; ++i)
        kernel.append(char(i & 0xFF));
    for (const char byte : kernel) {
        trace.onSend(QByteArray(1, byte));
        trace.onReceive(QByteArray(1, byte));
    }
    // 11 + 70, 17 cycles of 00..FF (7F80 each) and 00..6F (1848): 89049, modulo 10000.
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0].startsWith("<> DownloadIrd 4466 bytes, sum 9049, echo sum 9049"))
        << got[0].toStdString();
    EXPECT_FALSE(got[0].contains("differ"));
}

TEST_F(TraceTest, TheBootProgramsAnswerAfterTheKernelLeavesTheEchoesWhole) {
    openTrace();
    gFuncName = "DownloadIrd";
    for (int i = 0; i < 8; ++i) {
        trace.onSend(bytes("d6"));
        trace.onReceive(bytes("d6"));
    }
    gFuncName = "WaitErase";
    trace.onReceive(bytes("aa"));
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 2);
    EXPECT_TRUE(got[0].startsWith("<> DownloadIrd 8 bytes, sum 06B0, echo sum 06B0"))
        << got[0].toStdString();
    EXPECT_EQ(got[1], "<- WaitErase AA");
}

TEST_F(TraceTest, AWrongEchoIsNamedWithItsPositionAndBothBytes) {
    openTrace();
    gFuncName = "DownloadIrd";
    for (int i = 0; i < 10; ++i) {
        trace.onSend(bytes("4f"));
        trace.onReceive(i == 7 ? bytes("b0") : bytes("4f"));
    }
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0].contains("10 bytes, sum 0316, echo sum 0377")) << got[0].toStdString();
    EXPECT_TRUE(got[0].endsWith("1 echoes differ, the first at byte 7: sent 4F, echoed B0"))
        << got[0].toStdString();
}

TEST_F(TraceTest, AByteWhoseEchoNeverCameIsShownAsSent) {
    openTrace();
    gFuncName = "DownloadIrd";
    for (int i = 0; i < 6; ++i) {
        trace.onSend(bytes("01"));
        trace.onReceive(bytes("01"));
    }
    trace.onSend(bytes("02"));
    gErrNo = 310;
    gDownloadState = 1;
    trace.noteOutcome(false, "0000");
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 3);
    EXPECT_TRUE(got[0].startsWith("<> DownloadIrd 6 bytes, sum 0006, echo sum 0006"));
    EXPECT_EQ(got[1], "-> DownloadIrd 02");
    EXPECT_EQ(got[2], "-- DownloadIrd outcome failed, error number 310, run-time code 0, step "
                      "\"DownloadIrd\", phase 1");
}

TEST_F(TraceTest, OutcomeTellsAStopFromAFailureAndIsWrittenOnce) {
    openTrace();
    gStopRequested = true;
    gErrNo = 346;
    gFuncName = "DownloadPrg";
    gDownloadState = 4;
    trace.onRunEnd(false);
    trace.noteOutcome(true, "ABCD"); // the run already wrote its outcome
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0].contains("outcome stopped, error number 346")) << got[0].toStdString();
}

TEST_F(TraceTest, EveryRunInOneTraceGetsItsOwnOutcome) {
    openTrace();
    trace.onOpen(1, "9600,N,8,1", 0);
    trace.onRunEnd(true);
    gErrNo = 302;
    gDownloadState = 1;
    trace.onOpen(1, "9600,N,8,1", 0);
    trace.onRunEnd(false);
    trace.noteOutcome(false, "0000"); // the caller's own note after the last run
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got[1], "-- - outcome ok, checksum 0000");
    EXPECT_TRUE(got[3].startsWith("-- - outcome failed, error number 302")) << got[3].toStdString();
}

TEST_F(TraceTest, TimesCountFromTheStartOfTheTrace) {
    openTrace();
    clock.advance(1.25);
    trace.onClose();
    trace.close();
    const QStringList lines = traceLines(app, "t.log");
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("QARN serial trace, started 20"));
    EXPECT_TRUE(lines.last().startsWith("   1.250000  --")) << lines.last().toStdString();
}

TEST_F(TraceTest, NothingIsLostWhenTheTraceOutgrowsItsBuffer) {
    openTrace();
    gFuncName = "DownloadPrg";
    // Alternating directions: every exchange is a row of its own.
    for (int i = 0; i < 3000; ++i) {
        trace.onSend(bytes("14"));
        trace.onReceive(bytes("14"));
        trace.onReceive(bytes("00"));
        trace.onReceive(bytes("00"));
    }
    const QStringList got = closeAndRead();
    ASSERT_EQ(got.size(), 6000);
    EXPECT_EQ(got.count("<- DownloadPrg 14 00 00"), 3000);
}

TEST_F(TraceTest, StartingANewTraceKeepsThePreviousOneAsDotOne) {
    app.write("qarn-trace.log", "second\n");
    app.write("qarn-trace.log.1", "first\n");
    SerialTrace next;
    ASSERT_EQ(StartTraceFile(next, app.filePath("qarn-trace.log")), 0);
    next.close();
    EXPECT_EQ(app.read("qarn-trace.log.1"), "second\n");
    EXPECT_TRUE(app.read("qarn-trace.log").startsWith("QARN serial trace"));
}

TEST_F(TraceTest, ATraceThatCannotBeWrittenLeavesTheRunToRun) {
    const QString path = app.filePath("no-such-folder/qarn-trace.log");
    SerialTrace broken;
    EXPECT_EQ(StartTraceFile(broken, path), 76);
    int runs = 0;
    QString checksum;
    EXPECT_TRUE(RunTraced(
        path,
        [&](QString &sum) {
            ++runs;
            sum = "1234";
            return true;
        },
        checksum));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(checksum, "1234");
    EXPECT_EQ(gLinkObserver, nullptr);
}

// A whole download against the simulated target in memory, traced.
class TracedMemoryRun : public ::testing::Test {
protected:
    TracedMemoryRun() {
        SetDefaultSettings();
        // A 40-byte kernel; an image of one data block, one blank block and a short last block.
        QByteArray kernel;
        for (int i = 0; i < 40; ++i)
            kernel.append(char(0x30 + i));
        QByteArray image = QByteArray(16, char(0x5A)) + QByteArray(16, char(0xFF)) +
                           QByteArray::fromHex("0102030405060708");
        app.write("k.bin", kernel);
        app.write("p.bin", image);
        gPort = "1";
        gComm = &port;
        gIrdFile = app.filePath("k.bin");
        gPrgFile = app.filePath("p.bin");
        gIrdCheckSum = "0A8C"; // 40 * 30 + (0 + .. + 39) = 780 + 30C
        gFlashStart = "00000000";
        gFlashEnd = "0000003F";
        // 16 * 5A + 16 * FF + 01..08 + 8 * FF (padding) + 16 * FF (unwritten up to 3F)
        gFlashCheckSum = "2D9C";
        gPacketSize = 16;
        gWaitTime = "0";
        gBitRate = gBitRate2 = "115200";
        config.blockSize = 16;
        config.flashSize = 0x40;
        config.bootBitRate = config.dataBitRate = 115200;
    }
    ~TracedMemoryRun() override { gComm = nullptr; }

    bool run(QString &checksum) {
        MemoryTarget target(port, config);
        return RunTraced(app.filePath("qarn-trace.log"), RunDownload, checksum);
    }

    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort port;
    SimConfig config;
};

TEST_F(TracedMemoryRun, ASuccessfulRunReadsAsTheExchangesOfTheDownload) {
    gSeqType = 2;
    config.variant = 2;
    QString checksum;
    ASSERT_TRUE(run(checksum)) << gErrNo;
    const QStringList got = rows(traceLines(app));
    const QStringList want = {
        "-- OpenPort open COM1 115200,N,8,1 ok",
        "-> AdjBitRate 00",
        "<- AdjBitRate 00",
        "-> - 55",
        "<- - AA",
        // 00 28 and the 40 kernel bytes: 28 + A8C
        "<> DownloadIrd 42 bytes, sum 0AB4, echo sum 0AB4, 0.000 s",
        "-- - close",
        "-- OpenPort open COM1 115200,N,8,1 ok",
        "-> CheckIrd 10 00 28",
        "<- CheckIrd 10 0A 8C",
        "-> EraseFROM 15",
        "<- EraseFROM 15 00 00",
        "-> DownloadPrg 11 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A",
        "<- DownloadPrg 11 05 A0",
        "-> DownloadPrg 12",
        "<- DownloadPrg 12 00 00",
        "-> DownloadPrg 14",
        "<- DownloadPrg 14 00 00",
        "-> DownloadPrg 11 01 02 03 04 05 06 07 08 FF FF FF FF FF FF FF FF",
        "<- DownloadPrg 11 08 1C",
        "-> DownloadPrg 12",
        "<- DownloadPrg 12 00 00",
        "-> CheckFROMCheckSum 13 00 00 00 00 00 00 00 3F",
        "<- CheckFROMCheckSum 13 2D 9C",
        "-- - close",
        "-- - outcome ok, checksum 2D9C",
    };
    EXPECT_EQ(got, want);
}

TEST_F(TracedMemoryRun, AFailedRunEndsWithItsErrorNumberAndStep) {
    gSeqType = 0;
    config.variant = 0;
    config.faults.corruptEcho = 5;
    QString checksum;
    EXPECT_FALSE(run(checksum));
    const QStringList got = rows(traceLines(app));
    ASSERT_GE(got.size(), 3);
    EXPECT_TRUE(got.filter("<> DownloadIrd 8 bytes").size() == 1) << got.join('\n').toStdString();
    EXPECT_TRUE(got.filter("the first at byte 7: sent 35, echoed CA").size() == 1)
        << got.join('\n').toStdString();
    EXPECT_EQ(got.last(), "-- DownloadIrd outcome failed, error number 314, run-time code 0, step "
                          "\"DownloadIrd\", phase 1");
}

TEST_F(TracedMemoryRun, TheWindowWritesATraceOnlyWhenTraceIsOn) {
    gPrototype = 1; // the simulated run: no port, the outcome alone
    gFlashCheckSum = "BEEF";
    const auto runDownload = frmQARN_UI::DefaultLinks().runDownload;
    QString checksum;
    gTrace = false;
    ASSERT_TRUE(runDownload(checksum));
    EXPECT_FALSE(app.exists("qarn-trace.log"));

    gTrace = true;
    ASSERT_TRUE(runDownload(checksum));
    ASSERT_TRUE(runDownload(checksum));
    EXPECT_EQ(rows(traceLines(app)), QStringList({"-- - outcome ok, checksum BEEF"}));
    EXPECT_EQ(rows(traceLines(app, "qarn-trace.log.1")),
              QStringList({"-- - outcome ok, checksum BEEF"}));
}
