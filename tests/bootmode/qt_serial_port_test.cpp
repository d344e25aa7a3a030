// Smoke tests of the real port and the real clock over a pseudo-terminal.

#include "link.h"
#include "link_clock.h"
#include "qt_serial_port.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

class PseudoTerminal {
public:
    PseudoTerminal() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
            m_name = QString::fromLocal8Bit(name);
            termios raw{};
            tcgetattr(m_master, &raw);
            cfmakeraw(&raw);
            tcsetattr(m_master, TCSANOW, &raw);
        }
    }
    ~PseudoTerminal() {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    bool ok() const { return m_master >= 0; }
    QString slaveName() const { return m_name; }
    // The slave stays open here only until the port under test has it.
    void closeSlave() {
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void send(const QByteArray &bytes) {
        (void)!::write(m_master, bytes.constData(), bytes.size());
    }
    // Reads what arrives within `ms` milliseconds, up to `count` bytes.
    QByteArray receive(int count, int ms) {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, ms) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

class RealPort : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "bootmode_tests";
            static char *argv[] = {name, nullptr};
            static QCoreApplication application(argc, argv);
        }
    }

    void linkCom(int n, const QString &target) {
        ASSERT_TRUE(QFile::link(target, app.filePath(QStringLiteral("COM%1").arg(n))));
    }

    TempAppDir app;
};

TEST_F(RealPort, PortNumberFindsTheComLinkInTheApplicationFolder) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    linkCom(3, pty.slaveName());
    EXPECT_EQ(QtSerialPort::portLocation(3), QFileInfo(pty.slaveName()).canonicalFilePath());
    EXPECT_EQ(QtSerialPort::portLocation(0), QString());
    EXPECT_EQ(QtSerialPort::portLocation(-4), QString());
    EXPECT_EQ(QtSerialPort::portLocation(99), QString()); // no COM99, no /dev/ttyS98
    linkCom(4, app.filePath("nowhere"));
    EXPECT_EQ(QtSerialPort::portLocation(4), QString()); // a link that leads nowhere
}

TEST_F(RealPort, OpenRefusesMissingPortsAndBadSettings) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    linkCom(3, pty.slaveName());
    QtSerialPort port;
    EXPECT_EQ(port.open(99, QStringLiteral("9600,N,8,1")), 8002);
    EXPECT_EQ(port.open(3, QStringLiteral("9600,Q,8,1")), 5);
    EXPECT_FALSE(port.isOpen());
    ASSERT_EQ(port.open(3, QStringLiteral("9600,N,8,1")), 0);
    EXPECT_EQ(port.open(3, QStringLiteral("9600,N,8,1")), 8005);
    port.close();
    EXPECT_FALSE(port.isOpen());
}

TEST_F(RealPort, BytesGoBothWaysThroughTheLink) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    linkCom(2, pty.slaveName());
    QtSerialPort port;
    gComm = &port;
    gPort = QStringLiteral("2");
    gBitRate = QStringLiteral("19200");
    gParity = QStringLiteral("E");
    gDataBits = QStringLiteral("8");
    gStopBits = QStringLiteral("1");
    ASSERT_TRUE(OpenBootPort()) << gRunErrNo;
    pty.closeSlave();

    EXPECT_EQ(SendBlock(QByteArray::fromHex("13000000000003FFFF")), LinkOk);
    EXPECT_EQ(pty.receive(9, 2000), QByteArray::fromHex("13000000000003FFFF"));

    pty.send(QByteArray::fromHex("13ABCD"));
    ArmDeadline(5);
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveBytes(reply), LinkOk);
    EXPECT_EQ(reply, QByteArray::fromHex("13ABCD"));

    ArmDeadline(0.2f);
    const double start = CurrentLinkClock().now();
    QByteArray none(1, '\0');
    EXPECT_EQ(ReceiveBytes(none), LinkTimeout);
    EXPECT_GE(CurrentLinkClock().now() - start, 0.2);
    ClosePort();
    EXPECT_FALSE(port.isOpen());
    gComm = nullptr;
}

TEST_F(RealPort, ADroppedLineFailsTheWaitWithoutWaitingOutTheDeadline) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    linkCom(2, pty.slaveName());
    QtSerialPort port;
    gComm = &port;
    gPort = QStringLiteral("2");
    gBitRate = QStringLiteral("9600");
    gParity = QStringLiteral("N");
    gDataBits = QStringLiteral("8");
    gStopBits = QStringLiteral("1");
    ASSERT_TRUE(OpenBootPort());
    pty.closeSlave();
    pty.closeMaster();

    ArmDeadline(30);
    const double start = CurrentLinkClock().now();
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveBytes(reply), LinkFault);
    EXPECT_LT(CurrentLinkClock().now() - start, 5.0);
    EXPECT_TRUE(port.hasFailed());
    EXPECT_EQ(gRunErrNo, 8018);
    ClosePort();
    EXPECT_FALSE(port.hasFailed());
    gComm = nullptr;
}

TEST(RealLinkClock, IsMonotonicAndSleeps) {
    RealLinkClock clock;
    const double before = clock.now();
    clock.sleep(std::chrono::milliseconds(20));
    const double after = clock.now();
    EXPECT_GE(after - before, 0.019);
    clock.processEvents(); // safe with or without an application object
}

} // namespace
