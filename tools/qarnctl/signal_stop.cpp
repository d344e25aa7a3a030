#include "signal_stop.h"

#include "shared_state.h"

#include <algorithm>

void SignalStop::onSignal(std::function<void(int, int)> action) {
    m_action = std::move(action);
}

bool SignalStop::signalled() const {
    return m_count > 0;
}

bool SignalStop::hungUp() const {
    return m_hungUp;
}

// The download forgets a Stop at some points (before an erase wait, before a blank block); a
// signal is not forgotten: it stays requested until the run ends.
void SignalStop::reassert() const {
    if (m_count > 0)
        gStopRequested = true;
}

void SignalStop::stopSignal(int signal) {
    ++m_count;
    gStopRequested = true;
    if (m_action)
        m_action(signal, m_count);
}

void SignalStop::hangUp() {
    m_hungUp = true;
}

void SignalStop::endAtOnce(int signal) {
    m_count = std::max(m_count + 1, 2);
    gStopRequested = true;
    if (m_action)
        m_action(signal, m_count);
}
