#include "commands.h"

#include <cstdio>

// Placeholder until the command is written; refuses as a usage error.
int runFlash(const QStringList &)
{
    std::fputs("qarnctl: 'flash' is not available in this build\n", stderr);
    return 2;
}
