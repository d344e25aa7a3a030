#pragma once
// SIGINT and SIGTERM as the Stop Downloading button, for the commands that run a download's
// steps (on Windows Ctrl-C and Ctrl-Break, with the same exit statuses): the first signal sets
// gStopRequested from the event loop and keeps it set until the run ends; `onSignal` runs on
// every signal after that. A hang-up (SIGHUP) and a reader of the output that goes away end
// nothing meanwhile; on Windows the hang-up is the console window closed, which a process
// outlives by a few seconds only (see signal_stop_win.cpp).

#include <functional>
#include <memory>

class SignalStop {
public:
    SignalStop();
    ~SignalStop();
    SignalStop(const SignalStop &) = delete;
    SignalStop &operator=(const SignalStop &) = delete;

    // Runs `action` with the signal's number and the count so far on every signal, from the
    // event loop, after the Stop is set.
    void onSignal(std::function<void(int signal, int count)> action);
    bool signalled() const;
    // A hang-up came (it stops nothing: the run goes on to its end).
    bool hungUp() const;
    // Sets gStopRequested again after a step forgot it, once a signal has come.
    void reassert() const;

    // What the help of these commands adds on this system: "" where the signals are the ones it
    // names.
    static const char *helpNote();

private:
    // From the event loop: a Stop signal came (SIGINT, SIGTERM).
    void stopSignal(int signal);
    // From the event loop: a hang-up came.
    void hangUp();
    // From the event loop: the run cannot go on (the system is about to end the process), so it
    // ends as a second signal `signal` ends it.
    void endAtOnce(int signal);

    int m_count = 0;
    bool m_hungUp = false;
    std::function<void(int, int)> m_action;
    // How the system's signals reach the event loop; destroyed first, so that none arrives in
    // the middle of the destruction.
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
