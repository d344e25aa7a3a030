#pragma once
// The subcommands of qarnctl. Each takes the arguments after its name and returns the exit
// status: 0 success, 1 refusal, 2 usage error (3: a download stopped by a signal).

#include <QStringList>

int runCheck(const QStringList &args);
int runPack(const QStringList &args);
int runFlash(const QStringList &args);
int runDoctor(const QStringList &args);
