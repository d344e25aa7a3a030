#include "run_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// A terminal held for minutes fills this with progress lines; past it further progress is
// dropped.
constexpr qsizetype kMaxQueued = 256 * 1024;

class Writer {
public:
    bool say(std::FILE *stream, const QByteArray &text, bool progress) {
        std::lock_guard lock(m_mutex);
        if (progress && m_queued + text.size() > kMaxQueued)
            return false;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_queue.emplace_back(stream, text);
        m_queued += text.size();
        m_wake.notify_all();
        return true;
    }

    void finish(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        const auto done = [this] { return m_queue.empty() && !m_writing; };
        if (limit.count() < 0)
            m_wake.wait(lock, done);
        else
            m_wake.wait_for(lock, limit, done);
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty(); });
            auto [stream, text] = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            lock.unlock();
            WriteWhole(stream, text);
            lock.lock();
            m_writing = false;
            m_queued -= text.size();
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<std::FILE *, QByteArray>> m_queue;
    qsizetype m_queued = 0;
    bool m_writing = false;
    std::thread m_thread;
};

// Never destroyed: the thread may still be blocked on a reader when the process ends.
Writer &TheWriter() {
    static Writer *writer = new Writer;
    return *writer;
}

} // namespace

bool Say(std::FILE *stream, const QByteArray &text, bool progress) {
    return TheWriter().say(stream, text, progress);
}

void FinishSaying(std::chrono::milliseconds limit) {
    TheWriter().finish(limit);
}
