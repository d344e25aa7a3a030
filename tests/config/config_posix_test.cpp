// The readers' file edge where only this system can go wrong: a terminal line named as a file.

#include "text_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A description naming a terminal line (DF /dev/ttyUSB0): refused without being opened as a
// terminal, so it cannot become the controlling terminal of a process that has none (checked in
// a child that starts a session of its own).
TEST(FileEdge, ATerminalInThePlaceOfAFileIsRefusedAndNeverBecomesTheControllingTerminal) {
    int master = -1, slave = -1;
    char slaveName[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(slave);
        QByteArray bytes;
        const int code = ::setsid() < 0 ? 1 : ReadFileBytes(slaveName, bytes, 100, 6);
        const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY);
        ::_exit(code == 75 && tty < 0 ? 0 : tty >= 0 ? 3 : 2);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(master), ::close(slave);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: not refused with 75, 3: became the terminal";
}

} // namespace
