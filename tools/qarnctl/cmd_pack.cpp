#include "commands.h"

#include <cstdio>

// Placeholder until the command is written; refuses as a usage error.
int runPack(const QStringList &)
{
    std::fputs("qarnctl: 'pack' is not available in this build\n", stderr);
    return 2;
}
