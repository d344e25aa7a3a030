#pragma once
// The subcommands of qarnctl. Each takes the arguments after its name and returns the exit
// status: 0 success, 1 refusal, 2 usage error (3: a download stopped by a signal).

#include <QStringList>

class LowLatencyDriver;

int runCheck(const QStringList &args);
int runPack(const QStringList &args);
int runFlash(const QStringList &args);
// 4: the target's flash checksum differs from the description's.
int runVerify(const QStringList &args);
int runDoctor(const QStringList &args);
// The doctor with `lowLatency` for the low-latency flag of the port it tries (runDoctor: the
// system's).
int runDoctor(const QStringList &args, LowLatencyDriver &lowLatency);
