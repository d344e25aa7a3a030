// A target that answers and then drops the line (a device that resets after its last reply):
// the answer that arrived before the drop still reaches the download.

#include "link.h"
#include "qt_serial_port.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QCoreApplication &application() {
    static int argc = 1;
    static char name[] = "trace_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

class LineDrop : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(name), app.filePath("COM1")));
        ASSERT_EQ(port.open(1, "115200,N,8,1"), 0);
        ::close(slave); // the port under test holds the line now
    }
    void TearDown() override {
        if (master >= 0)
            ::close(master);
        gComm = nullptr;
    }

    // Serves the port until `count` bytes are waiting or `tries` waits have passed.
    bool waitForBytes(int count, int tries = 200) {
        while (port.inBufferCount() < count && tries-- > 0)
            port.waitForActivity(std::chrono::milliseconds(10));
        return port.inBufferCount() >= count;
    }

    // The hang-up reaches the port through its read notifier; nothing outside it shows when,
    // so events are served for a while (the last checks show that it was seen).
    void seeHangUp() {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    TempAppDir app;
    QtSerialPort port;

    int master = -1;
    int slave = -1;
};

} // namespace

TEST_F(LineDrop, BytesThatArrivedBeforeTheDropAreStillRead) {
    const QByteArray reply = QByteArray::fromHex("13fee5");
    ASSERT_EQ(::write(master, reply.constData(), reply.size()), reply.size());
    ASSERT_TRUE(waitForBytes(3));
    ::close(master);
    master = -1;
    // Let the port see the hang-up.
    seeHangUp();

    EXPECT_FALSE(port.hasFailed());
    EXPECT_EQ(port.inBufferCount(), 3);
    EXPECT_EQ(port.readByte(), 0x13);
    EXPECT_EQ(port.readByte(), 0xFE);
    EXPECT_EQ(port.readByte(), 0xE5);
    // Once they are read, the dropped line shows.
    EXPECT_TRUE(port.hasFailed());
    EXPECT_EQ(port.readByte(), -1);
}

TEST_F(LineDrop, TheLinkReceivesTheWholeReplyThenReportsTheFault) {
    gComm = &port;
    gTimeoutActive = false;
    ASSERT_EQ(::write(master, "\x13\xfe\xe5", 3), 3);
    ASSERT_TRUE(waitForBytes(3));
    ::close(master);
    master = -1;
    seeHangUp();

    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveBytes(reply), LinkOk);
    EXPECT_EQ(reply.toHex(), "13fee5");
    QByteArray more(1, '\0');
    EXPECT_EQ(ReceiveBytes(more), LinkFault);
}
