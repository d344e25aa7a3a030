// The console's control events on Windows: Ctrl-C and Ctrl-Break stop as SIGINT and SIGTERM do
// elsewhere (the same exit statuses: 130 and 143 when a second one ends the run at once), and the
// console window closed is the hang-up.
//
// Windows runs the handler on a thread of its own. Like a signal handler it touches nothing of
// the run: it queues the event and sets a Win32 event, which a QWinEventNotifier turns into a
// call on the event loop, which the download serves in every wait.
//
// A closed console is a hang-up that Windows does not let a program outlive: the process ends
// when the handler returns, and about 5 s after the close when the handler has not returned by
// then. The handler therefore does not return: the run goes on for 4 s (a download that ends
// meanwhile ends as usual), then it is ended as a second signal ends it (what is unsent is
// discarded, the port closed, the trace and the run history told, exit status 129 as after
// SIGHUP), before Windows ends the process at a moment nobody chose. The device then holds what
// a download cut short leaves; nothing better is open to a program whose console is closed.

#include "signal_stop.h"

#include <QWinEventNotifier>
#include <deque>
#include <mutex>
#include <windows.h>

namespace {

// The signal numbers the run ends with (128 + the number) and the trace names.
constexpr int kInterrupt = 2;  // SIGINT: Ctrl-C
constexpr int kTerminate = 15; // SIGTERM: Ctrl-Break, which another program can send
constexpr int kHangUp = 1;     // SIGHUP: the console closed

// How long a run goes on after its console closed: below the 5 s that Windows allows.
constexpr DWORD kCloseGraceMs = 4000;

enum class Event { Stop, HangUp, HangUpEnds };

// What the handler thread hands to the event loop. Never destroyed: the handler may run while
// the process ends.
struct Handoff {
    std::mutex mutex;
    HANDLE wake = nullptr; // set while a SignalStop takes events
    std::deque<std::pair<Event, int>> queue;
};

Handoff &TheHandoff() {
    static Handoff *handoff = new Handoff;
    return *handoff;
}

// False when no SignalStop takes events: the next handler (in the end Windows' own, which ends
// the process) sees it, as the restored disposition does on POSIX.
bool Hand(Event event, int signal) {
    Handoff &handoff = TheHandoff();
    std::lock_guard lock(handoff.mutex);
    if (!handoff.wake)
        return false;
    handoff.queue.emplace_back(event, signal);
    ::SetEvent(handoff.wake);
    return true;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
        return Hand(Event::Stop, kInterrupt);
    case CTRL_BREAK_EVENT:
        return Hand(Event::Stop, kTerminate);
    case CTRL_CLOSE_EVENT:
        if (!Hand(Event::HangUp, kHangUp))
            return FALSE;
        ::Sleep(kCloseGraceMs);
        Hand(Event::HangUpEnds, kHangUp);
        // Returning would end the process at once; Windows ends it at its time-out, unless the
        // run has ended it first.
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE; // logging off, shutting down: Windows' own handling
    }
}

} // namespace

struct SignalStop::Impl {
    explicit Impl(SignalStop &owner) {
        // Manual reset: the loop resets it before it takes what is queued, so that an event
        // queued meanwhile wakes it again.
        m_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!m_wake)
            return;
        m_notifier = new QWinEventNotifier(m_wake);
        QObject::connect(m_notifier, &QWinEventNotifier::activated, [this, &owner] {
            ::ResetEvent(m_wake);
            std::deque<std::pair<Event, int>> events;
            {
                std::lock_guard lock(TheHandoff().mutex);
                events.swap(TheHandoff().queue);
            }
            for (const auto &[event, signal] : events) {
                if (event == Event::Stop)
                    owner.stopSignal(signal);
                else if (event == Event::HangUp)
                    owner.hangUp();
                else
                    owner.endAtOnce(signal);
            }
        });
        {
            std::lock_guard lock(TheHandoff().mutex);
            TheHandoff().wake = m_wake;
            TheHandoff().queue.clear();
        }
        // A process started with Ctrl-C ignored (a new process group) keeps it ignored, as its
        // parent chose; Ctrl-Break always arrives.
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
    ~Impl() {
        if (!m_wake)
            return;
        ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
        {
            std::lock_guard lock(TheHandoff().mutex);
            TheHandoff().wake = nullptr;
            TheHandoff().queue.clear();
        }
        delete m_notifier;
        ::CloseHandle(m_wake);
    }

    HANDLE m_wake = nullptr;
    QWinEventNotifier *m_notifier = nullptr;
};

SignalStop::SignalStop() : m_impl(std::make_unique<Impl>(*this)) {}
SignalStop::~SignalStop() = default;

const char *SignalStop::helpNote() {
    return "\n\n"
           "On Windows, port N is COMn. Ctrl-C stands for SIGINT and Ctrl-Break for SIGTERM\n"
           "above, with the same exit statuses. Closing the console window is the hang-up: it\n"
           "stops nothing, but Windows ends the program about 5 s later, so 4 s after the close a\n"
           "run still under way is ended as a second signal ends it (129), the port closed and\n"
           "the run history told.";
}
