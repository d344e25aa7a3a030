#include "bench.h"
#include "line_settings.h"
#include "link.h"
#include "link_observer.h"
#include "trace.h"

#include <QCoreApplication>

#include <functional>

namespace {

using Link = Bench;

TEST_F(Link, OpeningGivesThePortItsLineSettingsOrTheOpeningsNumber) {
    // name, data phase, gPort, the port's open failure, gBitRate2, number, run-time code
    const std::tuple<const char *, bool, const char *, int, const char *, int, int> cases[] = {
        {"boot, opens", false, "3", 0, "9600", 0, 0},
        {"data, opens at the second rate", true, "3", 0, "115200", 0, 0},
        {"boot, no such port", false, "1", 8002, "9600", 301, 0},
        {"boot, port in use", false, "1", 8005, "9600", 300, 8005},
        {"boot, port name with letters", false, "COM1", 0, "9600", 300, 13},
        {"boot, port number beyond 16 bits", false, "70000", 0, "9600", 300, 6},
        {"data, no such port", true, "1", 8002, "9600", 331, 0},
        {"data, permission denied", true, "1", 70, "9600", 330, 70},
        {"data, bit rate that is no number", true, "1", 0, "fast", 330, 5}};
    for (const auto &[name, dataPhase, portText, openError, bitRate2, errNo, runErrNo] : cases) {
        SCOPED_TRACE(name);
        MemoryPort fresh;
        gComm = &fresh;
        fresh.setOpenError(openError);
        gPort = portText, gBitRate = "19200", gParity = "E", gBitRate2 = bitRate2, gRunErrNo = 77;
        EXPECT_EQ(dataPhase ? OpenDataPort() : OpenBootPort(), errNo == 0);
        EXPECT_EQ(gErrNo, errNo);
        EXPECT_EQ(gRunErrNo, runErrNo);
        EXPECT_EQ(gFuncName, errNo == 0 ? "" : "OpenPort");
        EXPECT_EQ(fresh.isOpen(), errNo == 0);
        if (errNo == 0) {
            EXPECT_EQ(fresh.openings()[0].port, 3);
            EXPECT_EQ(fresh.openings()[0].settings,
                      QString(dataPhase ? bitRate2 : "19200") + ",E,8,1");
            ClosePort(), ClosePort();
            EXPECT_EQ(fresh.closeCount(), 1);
        }
    }
}

TEST(ParseLineSettings, TakesTheFourFieldsAndRefusesAnythingElse) {
    LineSettings settings;
    for (const char *bad : {"9600,N,8", "9600,X,8,1", "0,N,8,1", "9600,N,9,1", "9600,N,8,3", "",
                            "9600,N,8,1,1", "abc,N,8,1", "9600,NN,8,1"})
        EXPECT_EQ(ParseLineSettings(bad, settings), 5) << bad;
    ASSERT_EQ(ParseLineSettings("115200,e,7,1.5", settings), 0);
    EXPECT_EQ(std::tuple(settings.bitRate, settings.parity, settings.dataBits, settings.stopBits),
              std::tuple(115200, 'E', 7, 15));
}

TEST_F(Link, AWaitTakesAByteAlreadyWaitingAndOtherwiseEndsOnlyAtTheDeadlineOrStop) {
    // What the line does once a deadline of 2 s is armed; then the bytes expected, how the
    // receive ends, the bytes stored, and the seconds it took.
    const std::tuple<const char *, std::function<void(Link &)>, int, ReplyEnd, const char *, double>
        cases[] = {{"a byte waiting after the deadline",
                    [](Link &t) { t.port.deliver(Hex("5A")), t.clock.advance(5); }, 1,
                    ReplyEnd::Whole, "5A", 5},
                   {"one byte at a time",
                    [](Link &t) {
                        for (int i = 1; i <= 3; ++i)
                            t.clock.after(i * 0.5,
                                          [&t, i] { t.port.deliver(QByteArray(1, char(i))); });
                    },
                    3, ReplyEnd::Whole, "010203", 1.5},
                   {"Stop", [](Link &) { gStopRequested = true; }, 1, ReplyEnd::Timeout, "00", 0},
                   {"no deadline: only Stop ends it",
                    [](Link &t) {
                        gTimeoutActive = false;
                        t.clock.after(3600, [] { gStopRequested = true; });
                    },
                    1, ReplyEnd::Timeout, "00", 3600}};
    openPort();
    for (const auto &[name, line, size, end, stored, waited] : cases) {
        SCOPED_TRACE(name);
        gStopRequested = false;
        const double start = clock.now();
        ArmDeadline(2);
        line(*this);
        QByteArray buffer(size, '\0');
        EXPECT_EQ(ReceiveReply(buffer), end);
        EXPECT_EQ(buffer.toHex(), Hex(stored).toHex());
        EXPECT_NEAR(clock.now() - start, waited, 0.05);
    }
    EXPECT_GT(clock.processEventsCount(), 100); // waits serve window events
}

TEST_F(Link, AnEchoLeavesTheRestWaitingAndABlockWaitsForTheOutputToDrainUntilStopOrTheDeadline) {
    LinkObserver quiet; // watches without a hook of its own
    gLinkObserver = &quiet;
    openPort();
    port.setWriteHook([this](const QByteArray &) { port.deliver(Hex("4377")); });
    ArmDeadline(1);
    EXPECT_EQ(SendByteEcho(0x43), LinkOk);
    EXPECT_EQ(port.pendingInput(), Hex("77"));
    EXPECT_EQ(ReadByte(), 0x77);
    port.setWriteHook(nullptr);
    port.holdOutput(true);
    clock.after(0.4, [this] { port.releaseOutput(); });
    const double start = clock.now();
    EXPECT_EQ(SendBlock(Hex("0102030405")), LinkOk); // only once it has left, see below
    EXPECT_EQ(port.writes().last(), Hex("0102030405"));
    // Stop ends the wait (before the deadline; the deadline itself: see the steps), and the rest
    // is discarded: closing the port cannot wait for it.
    ArmDeadline(5), clock.after(0.3, [] { gStopRequested = true; });
    EXPECT_EQ(SendBlock(Hex("01")), LinkTimeout);
    EXPECT_NEAR(clock.now() - start, 0.7, 0.05);
    EXPECT_EQ(port.discardOutputCount(), 1);
    gStopRequested = false, gTimeoutActive = false; // only the port failing ends the next wait
    clock.after(6, [this] { port.fail(); });        // after the deadline that is not armed
    EXPECT_EQ(SendBlock(Hex("0102")), LinkFault);
    EXPECT_EQ(SendByteEcho(0x11), LinkFault);
    EXPECT_EQ(gRunErrNo, 8018);
    port.close(), openPort();
    port.setWriteError(57);
    EXPECT_EQ(QList({SendByte(0x11), SendByteEcho(0x11), SendBlock(Hex("11"))}),
              QList<int16_t>(3, LinkFault));
    EXPECT_EQ(gRunErrNo, 57);
    gLinkObserver = nullptr;
}

TEST_F(Link, SettlePauseWaitsTheUtSecondsWholeIn100msSleeps) {
    // UT, Stop pressed during the pause, seconds slept at least and below
    const std::tuple<const char *, bool, double, double> cases[] = {
        {"3", false, 3.0, 3.11}, {"0.5", false, 0.5, 0.61}, {"0", false, 0.1, 0.11},
        {"", false, 0.1, 0.11},  {"abc", false, 0.1, 0.11}, {"-2", false, 0, 0.01},
        {"3", true, 3.0, 3.11}};
    for (const auto &[waitTime, stop, atLeast, below] : cases) {
        SCOPED_TRACE(testing::Message() << waitTime << (stop ? " with Stop" : ""));
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        gStopRequested = false, gWaitTime = waitTime;
        if (stop)
            own.after(1, [] { gStopRequested = true; });
        ArmDeadline(0.05f); // the deadline does not end the pause either
        SettlePause();
        EXPECT_GE(own.sleptSeconds() + 1e-9, atLeast);
        EXPECT_LT(own.sleptSeconds(), below);
        EXPECT_NEAR(own.sleptSeconds(), own.sleepCount() * 0.1, 1e-9);
        EXPECT_EQ(own.processEventsCount(), own.sleepCount());
        EXPECT_EQ(gStopRequested, stop); // left for the next wait
    }
}

} // namespace
