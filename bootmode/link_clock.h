#pragma once
// The link's sense of time: a monotonic clock for deadlines, the 100 ms sleeps of the bit-rate
// adjustment, the settling pause and the simulated run, and the call that serves window events.
// The link reads the current clock through CurrentLinkClock(); tests install a FakeLinkClock so
// that time runs forward without anyone sleeping.

#include <chrono>
#include <functional>
#include <vector>

class LinkClock {
public:
    virtual ~LinkClock() = default;
    // Monotonic seconds, with a fraction.
    virtual double now() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    // Lets the window system (or any event loop of the thread) process pending events.
    virtual void processEvents() = 0;
    // Blocks until at least one event has been served (a window event, a timer, a port's
    // notifier) or `limit` has passed. False, without waiting, where there is no event loop to
    // block in: the caller then waits on the port itself.
    virtual bool waitForEvents(std::chrono::milliseconds limit) {
        (void)limit;
        return false;
    }
};

// steady_clock, QThread::msleep and QCoreApplication::processEvents.
class RealLinkClock : public LinkClock {
public:
    double now() override;
    void sleep(std::chrono::milliseconds duration) override;
    void processEvents() override;
    bool waitForEvents(std::chrono::milliseconds limit) override;
};

// A clock that stands still until something sleeps on it or a test advances it. Actions can be
// scheduled at a time; they run, in time order, when the clock reaches that time (during
// sleep(), advance() or processEvents()).
class FakeLinkClock : public LinkClock {
public:
    explicit FakeLinkClock(double start = 1000.0) : m_now(start) {}

    double now() override { return m_now; }
    void sleep(std::chrono::milliseconds duration) override;
    void processEvents() override;

    void advance(double seconds);
    // Runs `action` once the clock reaches `time` (absolute seconds on this clock).
    void at(double time, std::function<void()> action);
    // Runs `action` once the clock has run `seconds` beyond now.
    void after(double seconds, std::function<void()> action) { at(m_now + seconds, action); }
    // Runs `action` on every processEvents() call, as a window event would.
    void onProcessEvents(std::function<void()> action) { m_eventHook = std::move(action); }

    int sleepCount() const { return m_sleepCount; }
    double sleptSeconds() const { return m_slept; }
    int processEventsCount() const { return m_eventCount; }

private:
    void runDue();

    struct Pending {
        double time;
        long order;
        std::function<void()> action;
    };
    double m_now;
    long m_nextOrder = 0;
    std::vector<Pending> m_pending;
    std::function<void()> m_eventHook;
    int m_sleepCount = 0;
    double m_slept = 0;
    int m_eventCount = 0;
};

// The clock the link uses: the one installed last, or a real clock when none is installed.
LinkClock &CurrentLinkClock();
// Installs a clock (not owned); nullptr goes back to the real clock.
void SetLinkClock(LinkClock *clock);

// Installs a clock for the lifetime of this object.
class ScopedLinkClock {
public:
    explicit ScopedLinkClock(LinkClock *clock) { SetLinkClock(clock); }
    ~ScopedLinkClock() { SetLinkClock(nullptr); }
    ScopedLinkClock(const ScopedLinkClock &) = delete;
    ScopedLinkClock &operator=(const ScopedLinkClock &) = delete;
};
