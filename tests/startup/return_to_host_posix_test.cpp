// The write-back and the host's start where this system's files have owners and modes.

#include "recording_host.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kHostHandOff = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX10\r\n";

// A torvane.exe that cannot be run is none: the user is told, nothing is started.
TEST(ReturnToHost, AHostThatIsNotExecutableIsNotThere) {
    TempAppDir app;
    app.write("torvane.exe", "#!/bin/sh\n");
    QFile::setPermissions(app.filePath("torvane.exe"), QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", app.filePath("bin").toLocal8Bit());
    gLangBase = 100;
    RecordingHostReturn ui;
    ReturnToHost("Normal", ui);
    qputenv("PATH", path);
    EXPECT_EQ(ui.events, QStringList({"message: Can not continue (Torvane.exe does not exist)",
                                      "close", "end"}));
}

// An account that may not take over the host's group keeps the new file's own bits: the host's
// 0660 on our group would shut the host out. Needs root, to hand the file to another account.
TEST(ReturnToHost, ModeIsTakenOverOnlyWithTheGroup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a hand-off file of a group this account is not in";
    TempAppDir app;
    app.write("torvane.cha", kHostHandOff);
    const QByteArray cha = QFile::encodeName(app.filePath("torvane.cha"));
    ASSERT_EQ(::chmod(QFile::encodeName(app.path()), 0777) + ::chmod(cha, 0660) +
                  ::chown(cha, 65534, 4242),
              0);
    const pid_t child = ::fork();
    if (child == 0) { // nobody, in no group but nogroup
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::umask(022);
        RecordingHostReturn ui;
        ReturnToHost("Normal", ui);
        struct stat after = {};
        const bool written = ::stat(cha, &after) == 0 && app.read("torvane.cha") == "SUB END\r\n";
        ::_exit(!written ? 3 : (after.st_mode & 07777) == 0644 && after.st_gid == 65534 ? 0 : 4);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "3: not written, 4: mode";
}

} // namespace
