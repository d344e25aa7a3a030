#pragma once
// The process of one port's run under qarnctl flash or verify with several ports: started apart
// from the command's own signals, so that a Ctrl-C at the terminal reaches the command only, and
// the command hands every port the same signal once.

#include <QProcess>

// Readies `process` before it starts: it does not get the terminal's signals itself.
void PrepareBenchChild(QProcess &process);
// Hands the Stop signal `signal` (SIGINT or SIGTERM) to the running `process`.
void StopBenchChild(QProcess &process, int signal);
// Hands the hang-up to the running `process`: it starts no further run of a series.
void HangUpBenchChild(QProcess &process);
