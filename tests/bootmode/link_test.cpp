#include "line_settings.h"
#include "link.h"
#include "link_observer.h"
#include "scripted_device.h"

#include <gtest/gtest.h>

namespace {

using LinkOpen = LinkBench;

TEST_F(LinkOpen, OpensWithTheLineSettingsJoinedByCommas) {
    gBitRate = QStringLiteral("19200");
    gParity = QStringLiteral("E");
    gDataBits = QStringLiteral("7");
    gStopBits = QStringLiteral("2");
    gPort = QStringLiteral("3");
    gRunErrNo = 77;
    EXPECT_EQ(OpenPort(), 0);
    ASSERT_EQ(port.openings().size(), 1);
    EXPECT_EQ(port.openings()[0].port, 3);
    EXPECT_EQ(port.openings()[0].settings, QStringLiteral("19200,E,7,2"));
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(gFuncName, QString());
    EXPECT_EQ(gRunErrNo, 0);
}

TEST_F(LinkOpen, BootAndDataOpenFailuresGiveTheirNumbers) {
    struct Case {
        const char *name;
        bool dataPhase;
        QString portText;
        int openError;
        QString bitRate2;
        int errNo;
        int runErrNo;
    };
    const Case cases[] = {
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
        gBitRate2 = c.bitRate2;
        gRunErrNo = 0;
        const bool ok = c.dataPhase ? OpenDataPort() : OpenBootPort();
        EXPECT_FALSE(ok);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gRunErrNo, c.runErrNo);
        EXPECT_EQ(gFuncName, QStringLiteral("OpenPort"));
        EXPECT_FALSE(fresh.isOpen());
    }
}

TEST_F(LinkOpen, OpenPortReturns255ForAnInvalidPortAnd99Otherwise) {
    port.setOpenError(8002);
    EXPECT_EQ(OpenPort(), 255);
    port.setOpenError(57);
    EXPECT_EQ(OpenPort(), 99);
    EXPECT_EQ(gRunErrNo, 57);
}

TEST_F(LinkOpen, NoPortBoundFailsAsAnUnavailablePort) {
    gComm = nullptr;
    EXPECT_FALSE(OpenBootPort());
    EXPECT_EQ(gErrNo, 301);
}

TEST_F(LinkOpen, DataPortTakesTheSecondBitRateForGood) {
    gBitRate = QStringLiteral("9600");
    gBitRate2 = QStringLiteral("115200");
    ASSERT_TRUE(OpenDataPort());
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gBitRate, QStringLiteral("115200"));
    EXPECT_EQ(port.openings()[0].settings, QStringLiteral("115200,N,8,1"));
}

TEST_F(LinkOpen, ClosePortClosesOnlyAnOpenPort) {
    ClosePort();
    EXPECT_EQ(port.closeCount(), 0);
    openPort();
    ClosePort();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.closeCount(), 1);
}

TEST(ParseLineSettings, AcceptsTheFourFieldsAndRefusesAnythingElse) {
    struct Case {
        const char *text;
        int result;
    };
    const Case cases[] = {
        {"9600,N,8,1", 0},   {"115200,e,7,2", 0},
        {"9600,O,8,1.5", 0}, {"9600,N,8", 5},
        {"9600,X,8,1", 5},   {"0,N,8,1", 5},
        {"-9600,N,8,1", 5},  {"9600,N,9,1", 5},
        {"9600,N,8,3", 5},   {"", 5},
        {"9600,N,8,1,1", 5}, {"abc,N,8,1", 5},
        {"9600,NN,8,1", 5},  {",N,8,1", 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        LineSettings settings;
        EXPECT_EQ(ParseLineSettings(QString::fromLatin1(c.text), settings), c.result);
    }
    LineSettings settings;
    ASSERT_EQ(ParseLineSettings(QStringLiteral("115200,e,7,1.5"), settings), 0);
    EXPECT_EQ(settings.bitRate, 115200);
    EXPECT_EQ(settings.parity, 'E');
    EXPECT_EQ(settings.dataBits, 7);
    EXPECT_EQ(settings.stopBits, 15);
}

class LinkBytes : public LinkBench {
protected:
    LinkBytes() { openPort(); }
};

TEST_F(LinkBytes, ReceiveTakesAByteAlreadyWaitingAfterTheDeadline) {
    port.deliver(Hex("5A"));
    ArmDeadline(1);
    clock.advance(5);
    QByteArray buffer(1, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkOk);
    EXPECT_EQ(buffer, Hex("5A"));
}

TEST_F(LinkBytes, ReceiveGivesUpWhenTheDeadlinePassesWithNothingWaiting) {
    ArmDeadline(2);
    const double start = clock.now();
    QByteArray buffer(3, '\0');
    port.deliver(Hex("13"));
    EXPECT_EQ(ReceiveBytes(buffer), LinkTimeout);
    EXPECT_EQ(buffer, Hex("130000")); // bytes stored so far stay
    EXPECT_GT(clock.now(), start + 2);
    EXPECT_LT(clock.now(), start + 2.1);
}

TEST_F(LinkBytes, FourBytesWaitingForAThreeByteReceiveIsAFaultAndLosesTheFourth) {
    port.deliver(Hex("1112345A"));
    ArmDeadline(10);
    QByteArray buffer(3, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkFault);
    EXPECT_EQ(buffer, Hex("111234"));
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST_F(LinkBytes, AThreeByteReplyArrivingOneByteAtATimeIsAssembled) {
    ArmDeadline(10);
    clock.after(0.5, [this] { port.deliver(Hex("13")); });
    clock.after(1.0, [this] { port.deliver(Hex("AB")); });
    clock.after(1.5, [this] { port.deliver(Hex("CD")); });
    QByteArray buffer(3, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkOk);
    EXPECT_EQ(buffer, Hex("13ABCD"));
}

TEST_F(LinkBytes, WithoutADeadlineAWaitLastsUntilStop) {
    gTimeoutActive = false;
    gDeadline = 0;
    clock.after(3600, [] { gStopRequested = true; });
    QByteArray buffer(1, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkTimeout);
    EXPECT_GE(clock.now(), 1000 + 3600);
}

TEST_F(LinkBytes, StopDuringAWaitGivesUpAtTheNextPoll) {
    ArmDeadline(100);
    clock.after(0.25, [] { gStopRequested = true; });
    QByteArray buffer(1, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkTimeout);
    EXPECT_LT(clock.now(), 1000 + 0.3);
}

TEST_F(LinkBytes, WaitsServeWindowEvents) {
    ArmDeadline(1);
    QByteArray buffer(1, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkTimeout);
    EXPECT_GT(clock.processEventsCount(), 10);
}

TEST_F(LinkBytes, EchoMatchesMismatchesAndLeavesTheRestWaiting) {
    port.setWriteHook([this](const QByteArray &bytes) {
        if (bytes == Hex("42"))
            port.deliver(Hex("42"));
        else
            port.deliver(Hex("0077"));
    });
    ArmDeadline(1);
    EXPECT_EQ(SendByteEcho(0x42), LinkOk);
    EXPECT_EQ(SendByteEcho(0x43), LinkMismatch);
    EXPECT_EQ(port.pendingInput(), Hex("77"));
    EXPECT_EQ(port.written(), Hex("4243"));
}

TEST_F(LinkBytes, EchoThatNeverComesIsATimeout) {
    ArmDeadline(1);
    EXPECT_EQ(SendByteEcho(0x42), LinkTimeout);
}

TEST_F(LinkBytes, SendBlockWritesOnceAndWaitsForTheOutputToDrain) {
    port.holdOutput(true);
    clock.after(0.4, [this] { port.releaseOutput(); });
    gStopRequested = true; // no Stop check while the block leaves
    EXPECT_EQ(SendBlock(Hex("0102030405")), LinkOk);
    EXPECT_GE(clock.now(), 1000.4);
    ASSERT_EQ(port.writes().size(), 1);
    EXPECT_EQ(port.writes()[0], Hex("0102030405"));
}

TEST_F(LinkBytes, SendBlockEndsWhenThePortFails) {
    port.holdOutput(true);
    clock.after(2, [this] { port.fail(); });
    EXPECT_EQ(SendBlock(Hex("0102")), LinkFault);
    EXPECT_EQ(gRunErrNo, 8018);
}

TEST_F(LinkBytes, APortThatFailsDuringAWaitIsAFaultAtOnce) {
    ArmDeadline(30);
    clock.after(0.5, [this] { port.fail(); });
    QByteArray buffer(3, '\0');
    EXPECT_EQ(ReceiveBytes(buffer), LinkFault);
    EXPECT_LT(clock.now(), 1000 + 1);
    EXPECT_EQ(gRunErrNo, 8018);
}

TEST_F(LinkBytes, AWriteRefusedByThePortIsAFault) {
    port.setWriteError(57);
    EXPECT_EQ(SendByte(0x11), LinkFault);
    EXPECT_EQ(gRunErrNo, 57);
    EXPECT_EQ(SendByteEcho(0x11), LinkFault);
    EXPECT_EQ(SendBlock(Hex("11")), LinkFault);
}

TEST_F(LinkBytes, ReadByteTakesOneWaitingByte) {
    port.deliver(Hex("80FE"));
    EXPECT_EQ(ReadByte(), 0x80);
    EXPECT_EQ(ReadByte(), 0xFE);
}

TEST_F(LinkBytes, SettlePauseWaitsTheUtSecondsIn100msSleeps) {
    struct Case {
        const char *waitTime;
        double atLeast; // seconds slept
        double below;
    };
    const Case cases[] = {{"3", 3.0, 3.11}, {"0.5", 0.5, 0.61}, {"0", 0.1, 0.11},
                          {"", 0.1, 0.11},  {"abc", 0.1, 0.11}, {"-2", 0.0, 0.01}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.waitTime);
        FakeLinkClock own;
        ScopedLinkClock use(&own);
        gWaitTime = QString::fromLatin1(c.waitTime);
        SettlePause();
        EXPECT_GE(own.sleptSeconds() + 1e-9, c.atLeast);
        EXPECT_LT(own.sleptSeconds(), c.below);
        EXPECT_NEAR(own.sleptSeconds(), own.sleepCount() * 0.1, 1e-9);
        EXPECT_EQ(own.processEventsCount(), own.sleepCount());
    }
}

TEST_F(LinkBytes, SettlePauseIgnoresTheDeadline) {
    ArmDeadline(0.1);
    gWaitTime = QStringLiteral("2");
    SettlePause();
    EXPECT_GT(clock.now(), 1002);
}

TEST_F(LinkBytes, StopEndsSettlePauseEarly) {
    gWaitTime = QStringLiteral("100000");
    clock.after(1, [] { gStopRequested = true; });
    SettlePause();
    EXPECT_LT(clock.now(), 1002);
}

class Recorder : public LinkObserver {
public:
    void onOpen(int port, const QString &settings, int result) override {
        log << QStringLiteral("open %1 %2 %3").arg(port).arg(settings).arg(result);
    }
    void onClose() override { log << QStringLiteral("close"); }
    void onSend(const QByteArray &bytes) override {
        log << QStringLiteral("send ") + QString::fromLatin1(bytes.toHex());
    }
    void onReceive(const QByteArray &bytes) override {
        log << QStringLiteral("recv ") + QString::fromLatin1(bytes.toHex());
    }
    QStringList log;
};

TEST_F(LinkOpen, AnObserverSeesOpensSendsReceivesAndCloses) {
    Recorder recorder;
    gLinkObserver = &recorder;
    port.setWriteHook([this](const QByteArray &) { port.deliver(Hex("10abcd")); });
    ASSERT_TRUE(OpenBootPort());
    ArmDeadline(1);
    EXPECT_EQ(SendBlock(Hex("100102")), LinkOk);
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveBytes(reply), LinkOk);
    ClosePort();
    gLinkObserver = nullptr;
    EXPECT_EQ(recorder.log, QStringList({"open 1 9600,N,8,1 0", "send 100102", "recv 10", "recv ab",
                                         "recv cd", "close"}));
}

} // namespace
