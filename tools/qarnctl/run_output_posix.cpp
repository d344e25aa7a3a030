// Standard output and standard error as file descriptors 1 and 2.

#include "run_output.h"

#include <cerrno>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

void PrepareStandardStreams() {
    // A reader of the output that goes away makes writes fail (EPIPE), and nothing more: a
    // download runs to its end.
    std::signal(SIGPIPE, SIG_IGN);
}

void RestoreStandardStreams() {}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

int StandardErrorColumns() {
    struct winsize size = {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool EnableCursorMovement() {
    return true; // every terminal of a POSIX system takes them
}

void WriteWhole(std::FILE *stream, const QByteArray &text) {
    const int fd = stream == stderr ? STDERR_FILENO : STDOUT_FILENO;
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return; // the reader went away (EPIPE) or the stream failed: dropped
    }
}
