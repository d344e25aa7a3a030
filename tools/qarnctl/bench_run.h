#pragma once
// qarnctl flash and verify on several ports at once: each port's run is the command itself on
// that one port, in a process of its own (nothing of one link's state can reach another), and
// this one starts them, shows their progress side by side, hands each the signals, and ends with
// a summary of every device.

#include <QString>
#include <QStringList>

struct BenchRun {
    QString command;       // "flash" or "verify"
    QStringList ports;     // as given with --port, two or more
    QStringList options;   // for every port's run, without --port, --json and --trace
    QString trace;         // "" or the trace path, which gets each port's name
    QString sysfs;         // where the adapters are looked up
    int repeat = 1;        // runs per port
    bool json = false;
};

// Refuses ports that are not numbers, named twice or that lead to the same device (exit status
// 2, before any port is opened), then runs every port and returns the exit status: 0 when every
// run succeeded, 3 when any was stopped, 4 when a check found a flash that differs and every
// other matched, 2 when every port refused the run, 128 + the signal after a second one,
// otherwise 1.
int RunBenchPorts(const BenchRun &bench);
