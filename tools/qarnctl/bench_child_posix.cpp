// A port's run in a process group of its own: the terminal's SIGINT and SIGHUP go to the
// command's group only, and the command passes each on once. A command that dies (killed, or
// crashed) leaves no run going on by itself: each is then stopped as by SIGTERM.

#include "bench_child.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void PrepareBenchChild(QProcess &process) {
    const pid_t command = ::getpid();
    process.setChildProcessModifier([command] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != command) // the command died before the line above
            ::raise(SIGTERM);
    });
}

void StopBenchChild(QProcess &process, int signal) {
    if (process.state() == QProcess::Running && process.processId() > 0)
        ::kill(pid_t(process.processId()), signal);
}

void HangUpBenchChild(QProcess &process) {
    StopBenchChild(process, SIGHUP);
}
