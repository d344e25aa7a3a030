#pragma once
// SIGINT and SIGTERM as the Stop Downloading button, the way qarnctl flash takes them, for the
// other commands that run a download's steps: the first signal sets gStopRequested from the
// event loop and keeps it set until the run ends; `onSignal` runs on every signal after that.
// A hang-up and a reader of the output that goes away end nothing meanwhile.

#include <functional>
#include <memory>

class SignalStop {
public:
    SignalStop();
    ~SignalStop();
    SignalStop(const SignalStop &) = delete;
    SignalStop &operator=(const SignalStop &) = delete;

    // Runs `action` with the signal's number and the count so far on every signal.
    void onSignal(std::function<void(int signal, int count)> action);
    bool signalled() const;
    // A hang-up came (it stops nothing: the run goes on to its end).
    bool hungUp() const;
    // Sets gStopRequested again after a step forgot it, once a signal has come.
    void reassert() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
