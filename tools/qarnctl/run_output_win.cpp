// Standard output and standard error as the process's standard handles on Windows. A console
// is switched to UTF-8 output for the process's life, so that the texts show as they are
// written, Japanese ones too; files and pipes get the same bytes as on Linux.

#include "run_output.h"

#include <algorithm>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING // older MinGW headers
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

// The console's output code page before the switch to UTF-8; 0 when nothing was switched.
UINT gOldCodePage = 0;
// The console mode of standard error before escape sequences were turned on; 0: unchanged.
DWORD gOldErrorMode = 0;

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
    if (gOldErrorMode != 0)
        ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), gOldErrorMode);
    gOldErrorMode = 0;
}

bool StandardErrorIsTerminal() {
    // A console; not a pipe (a terminal emulator's pty), a file or the NUL device.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StandardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool EnableCursorMovement() {
    // A console of Windows 10 and later takes escape sequences once asked to; older ones do not.
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode))
        return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        return true;
    if (!::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    gOldErrorMode = mode;
    return true;
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
