// The real port and the real clock on a pseudo-terminal, its other end played here.

#include "link.h"
#include "link_clock.h"
#include "qt_serial_port.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

class RealPort : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "bootmode_tests";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    // A pseudo-terminal linked as COM2; the port under test opened on it at 19200,E,8,1.
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        slaveName = QString::fromLocal8Bit(name);
        ASSERT_TRUE(QFile::link(slaveName, app.filePath("COM2")));
        gComm = &port;
        gPort = "2";
        gBitRate = "19200";
        gParity = "E";
        gDataBits = "8";
        gStopBits = "1";
        ASSERT_TRUE(OpenBootPort()) << gRunErrNo;
        ::close(slave); // the port under test holds the line now
    }
    void TearDown() override {
        hangUp();
        gComm = nullptr;
    }
    void hangUp() {
        if (master >= 0)
            ::close(master);
        master = -1;
        // The hang-up reaches the port through its notifier: serve events for a while.
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    TempAppDir app;
    QtSerialPort port;
    QString slaveName;
    int master = -1;
    int slave = -1;
};

TEST_F(RealPort, PortNumbersFindTheirComLinkAndRefuseWhatCannotBeOpened) {
    EXPECT_EQ(QtSerialPort::portLocation(2), QFileInfo(slaveName).canonicalFilePath());
    for (const int missing : {0, -4, 99}) // no COM99 and no /dev/ttyS98 either
        EXPECT_EQ(QtSerialPort::portLocation(missing), QString()) << missing;
    ASSERT_TRUE(QFile::link(app.filePath("nowhere"), app.filePath("COM4")));
    EXPECT_EQ(QtSerialPort::portLocation(4), QString());
    QtSerialPort other;
    EXPECT_EQ(other.open(99, "9600,N,8,1"), 8002);
    EXPECT_EQ(other.open(2, "9600,Q,8,1"), 5);
    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(port.open(2, "9600,N,8,1"), 8005); // already open
}

TEST_F(RealPort, BytesGoBothWaysAndAWaitEndsAtTheDeadlineOnTheRealClock) {
    EXPECT_EQ(SendBlock(QByteArray::fromHex("13000000000003FFFF")), LinkOk);
    QByteArray got;
    pollfd p{master, POLLIN, 0};
    while (got.size() < 9 && poll(&p, 1, 2000) > 0) {
        char buffer[16];
        got.append(buffer, ::read(master, buffer, sizeof buffer));
    }
    EXPECT_EQ(got.toHex(), "13000000000003ffff");
    ASSERT_EQ(::write(master, "\x13\xab\xcd", 3), 3);
    ArmDeadline(5);
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveBytes(reply), LinkOk);
    EXPECT_EQ(reply.toHex(), "13abcd");
    ArmDeadline(0.2f);
    const double start = CurrentLinkClock().now();
    EXPECT_EQ(ReceiveBytes(reply), LinkTimeout);
    EXPECT_GE(CurrentLinkClock().now() - start, 0.2);
    ClosePort();
    EXPECT_FALSE(port.isOpen());
}

TEST_F(RealPort, AReplyThatCameBeforeTheLineDroppedIsReadThenTheWaitFailsAtOnce) {
    ASSERT_EQ(::write(master, "\x13\xfe\xe5", 3), 3);
    for (int tries = 0; port.inBufferCount() < 3 && tries < 200; ++tries)
        port.waitForActivity(std::chrono::milliseconds(10));
    hangUp();
    EXPECT_FALSE(port.hasFailed());
    gTimeoutActive = false; // only the dropped line can end the second wait
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Whole);
    EXPECT_EQ(reply.toHex(), "13fee5");
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Short);
    EXPECT_TRUE(port.hasFailed());
    EXPECT_EQ(gRunErrNo, 8018);
    ClosePort();
    EXPECT_FALSE(port.hasFailed());
}

} // namespace
