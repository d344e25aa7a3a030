#pragma once
// The receiving side of a USB serial adapter: bytes that come off the wire wait in the adapter's
// chip and go on to the computer in packets, when its latency timer has run out since the first
// byte that waits, or as soon as a packet's worth waits. An FTDI chip holds up to 16 ms by
// default, which makes every echoed byte of a kernel transfer cost that long.

#include <QByteArray>
#include <chrono>
#include <optional>

namespace targetsim {

class AdapterChip {
public:
    using Clock = std::chrono::steady_clock;
    // The payload of one USB packet of the chip.
    static constexpr int kPacketBytes = 62;

    explicit AdapterChip(std::chrono::milliseconds latency) : m_latency(latency) {}

    // A byte that came off the wire at `at`.
    void take(char byte, Clock::time_point at) {
        if (m_waiting.isEmpty())
            m_first = at;
        m_waiting.append(byte);
        if (m_waiting.size() == kPacketBytes)
            m_ready += std::exchange(m_waiting, QByteArray());
    }
    // Bytes that go on to the computer by `now`, in order; the caller removes what it sent.
    QByteArray &ready(Clock::time_point now) {
        if (!m_waiting.isEmpty() && now >= m_first + m_latency)
            m_ready += std::exchange(m_waiting, QByteArray());
        return m_ready;
    }
    // When the bytes still waiting go on by themselves.
    std::optional<Clock::time_point> due() const {
        if (!m_ready.isEmpty())
            return m_first;
        return m_waiting.isEmpty() ? std::nullopt : std::optional(m_first + m_latency);
    }
    bool empty() const { return m_ready.isEmpty() && m_waiting.isEmpty(); }

private:
    std::chrono::milliseconds m_latency;
    QByteArray m_ready;   // whole packets, and the rest once the latency has run out
    QByteArray m_waiting; // the packet being filled
    Clock::time_point m_first{};
};

} // namespace targetsim
