#include "link_clock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {
LinkClock *currentClock = nullptr;
} // namespace

double RealLinkClock::now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void RealLinkClock::sleep(std::chrono::milliseconds duration) {
    if (duration.count() > 0)
        QThread::msleep(static_cast<unsigned long>(duration.count()));
}

void RealLinkClock::processEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

bool RealLinkClock::waitForEvents(std::chrono::milliseconds limit) {
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return false;
    // One timer bounds every wait; its timeout is an event like any other. It goes with the
    // application object. It runs on from one wait to the next and is started again only when
    // it would end later than this wait must, or has ended: thousands of waits a second (an
    // echoed kernel) do not register and remove a timer each. A wait it ends early simply
    // comes round again.
    static QPointer<QTimer> bound;
    static double boundEnd = 0;
    if (!bound) {
        bound = new QTimer(application);
        bound->setSingleShot(true);
        bound->setTimerType(Qt::PreciseTimer);
    }
    const auto wait = std::max(limit, std::chrono::milliseconds(1));
    const double end = now() + std::chrono::duration<double>(wait).count();
    if (!bound->isActive() || boundEnd > end) {
        bound->start(wait);
        boundEnd = end;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return true;
}

void FakeLinkClock::sleep(std::chrono::milliseconds duration) {
    ++m_sleepCount;
    const double seconds = std::chrono::duration<double>(duration).count();
    m_slept += seconds;
    advance(seconds);
}

void FakeLinkClock::processEvents() {
    ++m_eventCount;
    runDue();
    if (m_eventHook)
        m_eventHook();
}

void FakeLinkClock::advance(double seconds) {
    const double target = m_now + seconds;
    // Run the actions due on the way at their own time, so that one of them sees the clock
    // where it was scheduled.
    for (;;) {
        auto next = std::min_element(
            m_pending.begin(), m_pending.end(), [](const Pending &a, const Pending &b) {
                return a.time < b.time || (a.time == b.time && a.order < b.order);
            });
        if (next == m_pending.end() || next->time > target)
            break;
        m_now = std::max(m_now, next->time);
        auto action = std::move(next->action);
        m_pending.erase(next);
        action();
    }
    m_now = std::max(m_now, target);
}

void FakeLinkClock::at(double time, std::function<void()> action) {
    m_pending.push_back({time, m_nextOrder++, std::move(action)});
}

void FakeLinkClock::runDue() {
    advance(0);
}

LinkClock &CurrentLinkClock() {
    static RealLinkClock realClock;
    return currentClock ? *currentClock : realClock;
}

void SetLinkClock(LinkClock *clock) {
    currentClock = clock;
}
