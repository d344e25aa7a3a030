// Standard output and standard error as the process's standard handles on Windows. A console
// is switched to UTF-8 output for the process's life, so that the texts show as they are
// written, Japanese ones too; files and pipes get the same bytes as on Linux.

#include "run_output.h"

#include <algorithm>
#include <windows.h>

namespace {

// The console's output code page before the switch to UTF-8; 0 when nothing was switched.
UINT gOldCodePage = 0;

} // namespace

void PrepareStandardStreams() {
    // Windows has no SIGPIPE: a write to a pipe whose reader went away fails, and that is all.
    const UINT codePage = ::GetConsoleOutputCP(); // 0: the process has no console
    if (codePage != 0 && codePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        gOldCodePage = codePage;
}

void RestoreStandardStreams() {
    // The console outlives the process: the shell that started it gets its code page back.
    if (gOldCodePage != 0)
        ::SetConsoleOutputCP(gOldCodePage);
    gOldCodePage = 0;
}

bool StandardErrorIsTerminal() {
    // A console; not a pipe (a terminal emulator's pty), a file or the NUL device.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteWhole(std::FILE *stream, const QByteArray &text) {
    const HANDLE handle = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return; // the process has no such stream: dropped
    qsizetype done = 0;
    while (done < text.size()) {
        const DWORD size = DWORD(std::min<qsizetype>(text.size() - done, 1 << 20));
        DWORD written = 0;
        // A pipe whose reader went away fails with ERROR_BROKEN_PIPE or ERROR_NO_DATA; a pipe
        // without waiting takes nothing while it is full. Either way the rest is dropped, as
        // after any other failure of the stream.
        if (!::WriteFile(handle, text.constData() + done, size, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}
