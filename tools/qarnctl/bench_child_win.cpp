// A port's run in a console process group of its own: Ctrl-C at the console does not reach it,
// and the command hands it each Stop as a Ctrl-Break of that group, which the run takes as
// Ctrl-C. Windows has no hang-up to hand on: a closed console ends every process in it.

#include "bench_child.h"

#include <windows.h>

void PrepareBenchChild(QProcess &process) {
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        // QProcess gives a child a console of its own when the command's console has no window
        // (a hidden one, or Wine's): the child shares the command's, or no Ctrl-Break reaches it.
        arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_PROCESS_GROUP;
    });
}

void StopBenchChild(QProcess &process, int) {
    if (process.state() == QProcess::Running && process.processId() > 0)
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId()));
}

void HangUpBenchChild(QProcess &) {}
