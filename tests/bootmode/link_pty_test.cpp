// The real port of this system on a pseudo-terminal the test makes: its low-latency flag, a
// line that drops after a reply, and blocks going out over a line that takes them slowly. (A
// Windows program cannot make a pseudo-terminal; there the port meets one through Wine, in the
// downloads of qarnctl.exe.)
#include "bench.h"
#include "link.h"
#include "low_latency.h"
#include "qt_serial_port.h"
#include "trace.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace {

// A serial driver played in memory: its low-latency flag, the errno of a read, of switching the
// flag on and of switching it off, and whether a write it accepts changes the flag.
struct PlayedDriver : LowLatencyDriver {
    struct Play {
        bool on;
        int readError = 0, onError = 0, offError = 0;
        bool takes = true;
    } play;
    QString writes; // 1 on, 0 off
    explicit PlayedDriver(Play p) : play(p) {}
    int read(int, bool &on) override { return on = play.on, play.readError; }
    int write(int, bool on) override {
        writes += on ? '1' : '0';
        const int error = on ? play.onError : play.offError;
        return play.on = error == 0 && play.takes ? on : play.on, error;
    }
};

// The real port on a pseudo-terminal: the low-latency flag on while it is open, a refusal changing
// nothing. Then the other end hangs up right after a reply, as a device that resets after its
// last answer: the reply still reaches the download, then the fault.
TEST(RealPort, HasLowLatencyWhileOpenAndReadsAReplyThatCameBeforeTheLineDropped) {
    static int argc = 1;
    static char name[] = "bootmode_tests", *argv[] = {name, nullptr}, slaveName[256];
    static QCoreApplication application(argc, argv);
    TempAppDir app;
    SetDefaultSettings();
    gPort = "1";
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
    ASSERT_TRUE(QFile::link(slaveName, app.filePath("COM1")));
    // the driver; what the trace says after the open and after the close; the driver's writes;
    // the flag while the port was open and after its close
    // clang-format off
    const std::tuple<const char *, PlayedDriver::Play, const char *, const char *, const char *, bool, bool> cases[] = {
        {"off", {false}, "off, switched on until the port closes", "", "10", true, false},
        {"on", {true}, "already on, left as it is", "", "", true, true},
        {"no serial settings", {false, ENOTTY}, "not readable on this port (ENOTTY), nothing changed", "", "", false, false},
        {"settings refused", {false, EINVAL}, "not readable on this port (EINVAL), nothing changed", "", "", false, false},
        {"flag refused", {false, 0, EPERM}, "off, the driver refused to switch it on (EPERM), nothing changed", "", "1", false, false},
        {"flag ignored", {false, 0, 0, 0, false}, "off, the driver kept it off, nothing changed", "", "1", false, false},
        {"restore fails", {false, 0, 0, EIO}, "off, switched on until the port closes", "could not be switched off again (EIO)", "10", true, true}};
    // clang-format on
    for (const auto &[what, play, atOpen, atClose, writes, whileOpen, after] : cases) {
        SCOPED_TRACE(what);
        PlayedDriver driver(play);
        QtSerialPort port(driver);
        gComm = &port;
        const auto openAndClose = [&](QString &) {
            EXPECT_TRUE(OpenBootPort());
            EXPECT_EQ(port.lowLatency(), std::optional(whileOpen));
            return ClosePort(), true;
        };
        QString checksum;
        RunTraced(app.filePath("t.log"), openAndClose, checksum);
        EXPECT_EQ(gErrNo + gRunErrNo, 0); // a failed restore is the trace's alone
        EXPECT_EQ(Rows(app.read("t.log")).join('\n'),
                  QString("-- OpenPort open COM1 9600,N,8,1 ok\n-- OpenPort low-latency flag: "
                          "%1\n-- - close%2\n-- - outcome ok, checksum")
                      .arg(atOpen, *atClose ? QString("\n-- - low-latency flag: ") + atClose : ""));
        EXPECT_EQ(driver.writes, writes);
        EXPECT_EQ(driver.play.on, after);
    }
    QtSerialPort port;
    gComm = &port;
    ASSERT_TRUE(OpenBootPort()) << gRunErrNo; // raw, so the bytes pass unchanged
    // A reply that reached the device while no event was served counts even when the deadline
    // has passed meanwhile.
    ASSERT_EQ(::write(master, "\x06", 1), 1);
    pollfd device{slave, POLLIN, 0};
    ASSERT_EQ(::poll(&device, 1, 2000), 1); // in the device, not yet taken in by the port
    ArmDeadline(-1);
    QByteArray late(1, '\0');
    EXPECT_EQ(ReceiveBytes(late), LinkOk);
    EXPECT_EQ(late.toHex(), "06");
    // A deadline armed right after a wait that ended on a byte ends its own wait on time: the
    // bound that wait left running would end it only 100 ms later.
    gTimeoutActive = false;
    QTimer::singleShot(5, [master] { EXPECT_EQ(::write(master, "\x07", 1), 1); });
    EXPECT_EQ(ReceiveBytes(late), LinkOk);
    ArmDeadline(0.005f);
    const auto armed = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveBytes(late), LinkTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - armed, std::chrono::milliseconds(60));
    ::close(slave); // the port under test holds the line now
    EXPECT_EQ(port.open(1, "9600,N,8,1"), 8005);
    EXPECT_EQ(QtSerialPort().open(1, "9600,Q,8,1"), 5);
    EXPECT_EQ(QtSerialPort::portLocation(0), QString());
    ASSERT_EQ(::write(master, "\x13\xfe\xe5", 3), 3);
    for (int tries = 0; port.inBufferCount() < 3 && tries < 200; ++tries)
        port.waitForActivity(std::chrono::milliseconds(10));
    ::close(master);
    EXPECT_FALSE(port.hasFailed());
    gTimeoutActive = false; // only the dropped line can end the second wait
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Whole);
    EXPECT_EQ(reply.toHex(), "13fee5");
    ArmDeadline(-1); // the dropped line, not the deadline, ends the wait
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Short);
    EXPECT_TRUE(port.hasFailed());
    EXPECT_EQ(gRunErrNo, 8018);
    ClosePort();
    EXPECT_FALSE(port.hasFailed());
    gComm = nullptr;
}

// The real port on a pseudo-terminal whose other end `reader` reads only while `reading`, a
// little at a time, as a slow line takes bytes.
class SlowLine : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "bootmode_tests", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        SetDefaultSettings();
        gPort = "1", gComm = &port;
        char slaveName[256] = {};
        ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
        ASSERT_TRUE(QFile::link(slaveName, app.filePath("COM1")));
        ASSERT_TRUE(OpenBootPort());
        ::close(slave);
        reader = std::thread([this] {
            char chunk[700];
            while (!done) {
                pollfd line{master, POLLIN, 0};
                if (!reading || ::poll(&line, 1, 5) <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const ssize_t n = ::read(master, chunk, sizeof chunk);
                if (n > 0)
                    taken.append(chunk, n), received.fetch_add(n);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
    }
    void TearDown() override {
        done = true, reader.join();
        ClosePort(), ::close(master), gComm = nullptr;
    }

    TempAppDir app;
    QtSerialPort port;
    int master = -1, slave = -1;
    std::thread reader;
    std::atomic<bool> done{false}, reading{true};
    std::atomic<qsizetype> received{0};
    QByteArray taken; // read only once `received` says it is complete
};

// Every block size the readers accept goes out whole and in order however slowly the line takes
// it; a line that stops taking it ends the block at the deadline or on Stop, the rest discarded.
TEST_F(SlowLine, ABlockOfAnyAcceptedSizeGoesOutWholeOrEndsAtTheDeadlineOrStop) {
    qsizetype expected = 0;
    QByteArray sent;
    for (const int size : {1, 4095, 16384, 32767}) {
        SCOPED_TRACE(size);
        QByteArray block(size, 0);
        for (int i = 0; i < size; ++i)
            block[i] = char((i * 7 + size) & 0xFF);
        ArmDeadline(20);
        ASSERT_EQ(SendBlock(block), LinkOk) << gRunErrNo;
        EXPECT_EQ(port.outBufferCount(), 0);
        sent += block, expected += size;
    }
    for (int tries = 0; received < expected && tries < 2000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(received.load(), expected);
    EXPECT_TRUE(taken == sent);
    reading = false; // the line stops taking bytes
    for (const bool stop : {false, true}) {
        gStopRequested = stop;
        ArmDeadline(stop ? 30 : 0.3f);
        EXPECT_EQ(SendBlock(QByteArray(32767, 'x')), LinkTimeout);
        EXPECT_EQ(port.outBufferCount(), 0); // closing the port does not wait for it
        EXPECT_FALSE(port.hasFailed());
    }
    gStopRequested = false;
}

// While a reply is awaited, window events are served as they come, not in slices: a chain of
// 300 events, each posting the next, runs its course long before the deadline, and its last
// event sends the reply.
TEST_F(SlowLine, AWaitServesEveryWindowEventAsItComes) {
    int hops = 0;
    std::function<void()> hop = [&] {
        if (++hops < 300)
            QTimer::singleShot(0, hop);
        else
            EXPECT_EQ(::write(master, "\x10\x12\x34", 3), 3);
    };
    QTimer::singleShot(0, hop);
    ArmDeadline(2);
    QByteArray reply(3, '\0');
    EXPECT_EQ(ReceiveReply(reply), ReplyEnd::Whole);
    EXPECT_EQ(reply.toHex(), "101234");
    EXPECT_EQ(hops, 300);
}

} // namespace
