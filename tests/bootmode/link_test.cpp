#include "bench.h"
#include "line_settings.h"
#include "link.h"

#include <functional>

namespace {

using Link = Bench;

TEST_F(Link, OpeningGivesThePortItsLineSettingsOrTheOpeningsNumber) {
    struct Case {
        const char *name;
        bool dataPhase;
        const char *portText;
        int openError;
        const char *bitRate2;
        int errNo;
        int runErrNo;
    };
    const Case cases[] = {
        {"boot, opens", false, "3", 0, "9600", 0, 0},
        {"data, opens at the second rate", true, "3", 0, "115200", 0, 0},
        {"boot, no such port", false, "1", 8002, "9600", 301, 0},
        {"boot, port number zero", false, "0", 0, "9600", 301, 0},
        {"boot, port in use", false, "1", 8005, "9600", 300, 8005},
        {"boot, port name with letters", false, "COM1", 0, "9600", 300, 13},
        {"boot, port number beyond 16 bits", false, "70000", 0, "9600", 300, 6},
        {"data, no such port", true, "1", 8002, "9600", 331, 0},
        {"data, permission denied", true, "1", 70, "9600", 330, 70},
        {"data, bit rate that is no number", true, "1", 0, "fast", 330, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MemoryPort fresh;
        gComm = &fresh;
        fresh.setOpenError(c.openError);
        gPort = c.portText;
        gBitRate = "19200";
        gParity = "E";
        gBitRate2 = c.bitRate2;
        gRunErrNo = 77;
        EXPECT_EQ(c.dataPhase ? OpenDataPort() : OpenBootPort(), c.errNo == 0);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gRunErrNo, c.runErrNo);
        EXPECT_EQ(gFuncName, c.errNo == 0 ? "" : "OpenPort");
        EXPECT_EQ(fresh.isOpen(), c.errNo == 0);
        if (c.errNo == 0) {
            EXPECT_EQ(fresh.openings()[0].port, 3);
            EXPECT_EQ(fresh.openings()[0].settings,
                      QString(c.dataPhase ? c.bitRate2 : "19200") + ",E,8,1");
            ClosePort();
            ClosePort();
            EXPECT_EQ(fresh.closeCount(), 1);
        }
    }
    gComm = nullptr;
    EXPECT_FALSE(OpenBootPort());
    EXPECT_EQ(gErrNo, 301);
}

TEST(ParseLineSettings, TakesTheFourFieldsAndRefusesAnythingElse) {
    for (const char *bad : {"9600,N,8", "9600,X,8,1", "0,N,8,1", "-9600,N,8,1", "9600,N,9,1",
                            "9600,N,8,3", "", "9600,N,8,1,1", "abc,N,8,1", "9600,NN,8,1"}) {
        LineSettings settings;
        EXPECT_EQ(ParseLineSettings(bad, settings), 5) << bad;
    }
    LineSettings settings;
    ASSERT_EQ(ParseLineSettings("115200,e,7,1.5", settings), 0);
    EXPECT_EQ(settings.bitRate, 115200);
    EXPECT_EQ(settings.parity, 'E');
    EXPECT_EQ(settings.dataBits, 7);
    EXPECT_EQ(settings.stopBits, 15);
    ASSERT_EQ(ParseLineSettings("9600,O,8,2", settings), 0);
    EXPECT_EQ(settings.stopBits, 2);
}

TEST_F(Link, ReceiveTakesWhatIsWaitingUntilTheBufferIsFullOrItGivesUp) {
    struct Case {
        const char *name;
        std::function<void(Link &)> line; // what happens on the line once the deadline is armed
        int size;
        ReplyEnd end;
        int16_t result;
        const char *stored;
        double waited; // seconds until it returned
    };
    const Case cases[] = {
        {"a byte waiting after the deadline",
         [](Link &t) {
             t.port.deliver(Hex("5A"));
             t.clock.advance(5);
         },
         1, ReplyEnd::Whole, LinkOk, "5A", 5},
        {"one byte at a time",
         [](Link &t) {
             for (int i = 1; i <= 3; ++i)
                 t.clock.after(i * 0.5, [&t, i] { t.port.deliver(QByteArray(1, char(0x10 + i))); });
         },
         3, ReplyEnd::Whole, LinkOk, "111213", 1.5},
        {"nothing more by the deadline", [](Link &t) { t.port.deliver(Hex("13")); }, 3,
         ReplyEnd::Timeout, LinkTimeout, "130000", 2},
        {"a stray byte behind the reply", [](Link &t) { t.port.deliver(Hex("1112345A")); }, 3,
         ReplyEnd::Stray, LinkFault, "111234", 0},
        {"the port fails", [](Link &t) { t.clock.after(0.5, [&t] { t.port.fail(); }); }, 3,
         ReplyEnd::Short, LinkFault, "000000", 0.5},
        {"Stop", [](Link &) { gStopRequested = true; }, 1, ReplyEnd::Timeout, LinkTimeout, "00", 0},
        {"no deadline: only Stop ends the wait",
         [](Link &t) {
             gTimeoutActive = false;
             t.clock.after(3600, [] { gStopRequested = true; });
         },
         1, ReplyEnd::Timeout, LinkTimeout, "00", 3600},
    };
    openPort();
    for (const bool whole : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            port.close();
            openPort();
            gStopRequested = false;
            const double start = clock.now();
            ArmDeadline(2);
            c.line(*this);
            QByteArray buffer(c.size, '\0');
            if (whole)
                EXPECT_EQ(ReceiveReply(buffer), c.end);
            else
                EXPECT_EQ(ReceiveBytes(buffer), c.result);
            EXPECT_EQ(buffer.toHex(), Hex(c.stored).toHex());
            EXPECT_NEAR(clock.now() - start, c.waited, 0.05);
            EXPECT_EQ(port.inBufferCount(), 0);
            if (c.end == ReplyEnd::Short) {
                EXPECT_EQ(gRunErrNo, 8018);
            }
        }
    }
    EXPECT_GT(clock.processEventsCount(), 100); // waits serve window events
}

TEST_F(Link, EchoesAndBlocksGoOutAndComeBackAsSent) {
    openPort();
    port.setWriteHook([this](const QByteArray &bytes) {
        port.deliver(bytes == Hex("42") ? bytes : bytes == Hex("43") ? Hex("0077") : QByteArray());
    });
    ArmDeadline(1);
    EXPECT_EQ(SendByteEcho(0x42), LinkOk);
    EXPECT_EQ(SendByteEcho(0x43), LinkMismatch);
    EXPECT_EQ(port.pendingInput(), Hex("77")); // the rest stays waiting
    port.discardInput();
    EXPECT_EQ(SendByteEcho(0x44), LinkTimeout);
    port.deliver(Hex("80FE"));
    EXPECT_EQ(ReadByte(), 0x80);
    EXPECT_EQ(ReadByte(), 0xFE);

    // A block leaves in one write and waits for the output to drain, Stop or not.
    port.holdOutput(true);
    clock.after(0.4, [this] { port.releaseOutput(); });
    gStopRequested = true;
    const double start = clock.now();
    EXPECT_EQ(SendBlock(Hex("0102030405")), LinkOk);
    EXPECT_GE(clock.now() - start, 0.4);
    EXPECT_EQ(port.writes().last(), Hex("0102030405"));
    EXPECT_EQ(port.written(), Hex("424344") + Hex("0102030405"));
    clock.after(2, [this] { port.fail(); });
    EXPECT_EQ(SendBlock(Hex("0102")), LinkFault);
    EXPECT_EQ(gRunErrNo, 8018);

    port.close();
    openPort();
    port.setWriteError(57);
    EXPECT_EQ(SendByte(0x11), LinkFault);
    EXPECT_EQ(gRunErrNo, 57);
    EXPECT_EQ(SendByteEcho(0x11), LinkFault);
    EXPECT_EQ(SendBlock(Hex("11")), LinkFault);
}

TEST_F(Link, SettlePauseWaitsTheUtSecondsWholeIn100msSleeps) {
    struct Case {
        const char *waitTime;
        bool stop; // Stop pressed during the pause
        double atLeast;
        double below;
    };
    const Case cases[] = {{"3", false, 3.0, 3.11},   {"0.5", false, 0.5, 0.61},
                          {"0", false, 0.1, 0.11},   {"", false, 0.1, 0.11},
                          {"abc", false, 0.1, 0.11}, {"-2", false, 0, 0.01},
                          {"3", true, 3.0, 3.11}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.waitTime << (c.stop ? " with Stop" : ""));
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        gStopRequested = false;
        if (c.stop)
            own.after(1, [] { gStopRequested = true; });
        ArmDeadline(0.05f); // the deadline does not end the pause either
        gWaitTime = c.waitTime;
        SettlePause();
        EXPECT_GE(own.sleptSeconds() + 1e-9, c.atLeast);
        EXPECT_LT(own.sleptSeconds(), c.below);
        EXPECT_NEAR(own.sleptSeconds(), own.sleepCount() * 0.1, 1e-9);
        EXPECT_EQ(own.processEventsCount(), own.sleepCount());
        EXPECT_EQ(gStopRequested, c.stop); // left for the next wait
    }
}

} // namespace
