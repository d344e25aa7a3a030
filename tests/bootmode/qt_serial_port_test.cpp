// The real port on a pseudo-terminal whose other end hangs up right after a reply, as a device
// that resets after its last answer: the reply still reaches the download, then the fault.

#include "link.h"
#include "qt_serial_port.h"
#include "settings.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <pty.h>
#include <unistd.h>

TEST(RealPort, AReplyThatCameBeforeTheLineDroppedIsReadThenTheWaitFailsAtOnce) {
    static int argc = 1;
    static char name[] = "bootmode_tests", *argv[] = {name, nullptr}, slaveName[256];
    static QCoreApplication application(argc, argv);
    TempAppDir app;
    SetDefaultSettings();
    gPort = "1";
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
    ASSERT_TRUE(QFile::link(slaveName, app.filePath("COM1")));
    QtSerialPort port;
    gComm = &port;
    ASSERT_TRUE(OpenBootPort()) << gRunErrNo; // raw, so the bytes pass unchanged
    ::close(slave);                           // the port under test holds the line now
    EXPECT_EQ(port.open(1, "9600,N,8,1"), 8005);
    EXPECT_EQ(QtSerialPort().open(1, "9600,Q,8,1"), 5);
    EXPECT_EQ(QtSerialPort::portLocation(0), QString());
    ASSERT_EQ(::write(master, "\x13\xfe\xe5", 3), 3);
    for (int tries = 0; port.inBufferCount() < 3 && tries < 200; ++tries)
        port.waitForActivity(std::chrono::milliseconds(10));
    ::close(master);
    // The hang-up reaches the port through its notifier: serve events for a while.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(port.hasFailed());
    gTimeoutActive = false; // only the dropped line can end the second wait
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Whole);
    EXPECT_EQ(reply.toHex(), "13fee5");
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Short);
    EXPECT_EQ(gRunErrNo, 8018);
    ClosePort();
    EXPECT_FALSE(port.hasFailed());
    gComm = nullptr;
}
