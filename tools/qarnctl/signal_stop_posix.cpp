// The signals of a POSIX system: SIGINT and SIGTERM stop, SIGHUP is the hang-up, SIGPIPE is
// ignored.

#include "signal_stop.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void onStopSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

} // namespace

// SIGINT and SIGTERM reach the download as the Stop Downloading button: the handler only writes
// the signal's number to a pipe, and the flag is set from the event loop, which the download
// serves in every wait (at least every 100 ms, the settling pause included).
// A hang-up (a dropped ssh session) and a reader of the output that goes away (`| head -n 1`)
// end nothing: a download cut short leaves the device erased or half-written, one that runs to
// its end leaves it working. What can no longer be written is dropped. After a hang-up no
// further run of a series starts: nobody is there to put the next device in boot mode.
struct SignalStop::Impl {
    explicit Impl(SignalStop &owner) {
        if (::pipe(gSignalPipe) != 0)
            return;
        ::fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
        m_notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [&owner] {
            char signal = 0;
            if (::read(gSignalPipe[0], &signal, 1) != 1)
                return;
            if (signal == SIGHUP)
                owner.hangUp();
            else
                owner.stopSignal(signal);
        });
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        ::sigaction(SIGHUP, &action, &m_oldHup);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &m_oldPipe);
    }
    ~Impl() {
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGHUP, &m_oldHup, nullptr);
        ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
        delete m_notifier;
        for (int &fd : gSignalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }

    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    struct sigaction m_oldHup = {};
    struct sigaction m_oldPipe = {};
};

SignalStop::SignalStop() : m_impl(std::make_unique<Impl>(*this)) {}
SignalStop::~SignalStop() = default;

const char *SignalStop::helpNote() {
    return "";
}
