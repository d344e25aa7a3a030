#pragma once
// The simulated target attached to an in-memory serial port: every byte the host writes goes
// through the target, and its answers are queued on the port at once (erase and write times
// do not apply). The line speed of each byte is the one the host last opened the port with, so
// a wrong data-phase bit rate shows in memory as it does on a real line. A dropped line makes
// the port fail.

#include "memory_port.h"
#include "target_sim.h"

class MemoryTarget {
public:
    MemoryTarget(MemoryPort &port, const targetsim::SimConfig &config);
    ~MemoryTarget();
    MemoryTarget(const MemoryTarget &) = delete;
    MemoryTarget &operator=(const MemoryTarget &) = delete;

    targetsim::TargetSim &target() { return m_target; }
    const targetsim::TargetSim &target() const { return m_target; }

private:
    void hostWrote(const QByteArray &bytes);
    int lineBitRate() const;

    MemoryPort &m_port;
    targetsim::TargetSim m_target;
};
