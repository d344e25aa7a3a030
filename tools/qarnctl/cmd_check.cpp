#include "commands.h"

#include <cstdio>

// Placeholder until the command is written; refuses as a usage error.
int runCheck(const QStringList &)
{
    std::fputs("qarnctl: 'check' is not available in this build\n", stderr);
    return 2;
}
