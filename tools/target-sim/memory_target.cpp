#include "memory_target.h"

#include "line_settings.h"

MemoryTarget::MemoryTarget(MemoryPort &port, const targetsim::SimConfig &config)
    : m_port(port), m_target(config) {
    m_port.setWriteHook([this](const QByteArray &bytes) { hostWrote(bytes); });
}

MemoryTarget::~MemoryTarget() {
    m_port.setWriteHook({});
}

int MemoryTarget::lineBitRate() const {
    if (m_port.openings().isEmpty())
        return 0;
    LineSettings settings;
    if (ParseLineSettings(m_port.openings().last().settings, settings) != 0)
        return 0;
    return settings.bitRate;
}

void MemoryTarget::hostWrote(const QByteArray &bytes) {
    const int bitRate = lineBitRate();
    for (char byte : bytes) {
        for (const targetsim::Action &action :
             m_target.receive(static_cast<uint8_t>(byte), bitRate)) {
            if (action.kind == targetsim::Action::Drop) {
                m_port.fail();
                return;
            }
            m_port.deliver(action.bytes);
        }
    }
}
