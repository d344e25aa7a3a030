// A port's run in a process group of its own: the terminal's SIGINT and SIGHUP go to the
// command's group only, and the command passes each on once.

#include "bench_child.h"

#include <csignal>
#include <unistd.h>

void PrepareBenchChild(QProcess &process) {
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void StopBenchChild(QProcess &process, int signal) {
    if (process.state() == QProcess::Running && process.processId() > 0)
        ::kill(pid_t(process.processId()), signal);
}

void HangUpBenchChild(QProcess &process) {
    StopBenchChild(process, SIGHUP);
}
