#include "memory_port.h"

#include "link_clock.h"
#include "run_errors.h"

int MemoryPort::open(int port, const QString &settings) {
    if (m_open)
        return RunError::PortAlreadyOpen;
    if (port < 1)
        return RunError::InvalidPortNumber;
    if (m_openError != 0)
        return m_openError;
    LineSettings parsed;
    if (const int code = ParseLineSettings(settings, parsed); code != 0)
        return code;
    m_openings.append({port, settings});
    m_open = true;
    m_failed = false;
    m_input.clear();
    m_pendingOut = 0;
    return 0;
}

void MemoryPort::close() {
    if (!m_open)
        return;
    m_open = false;
    m_failed = false;
    m_input.clear();
    m_pendingOut = 0;
    ++m_closeCount;
}

int MemoryPort::inBufferCount() {
    return m_open && !m_failed ? int(m_input.size()) : 0;
}

int MemoryPort::readByte() {
    if (!m_open || m_failed || m_input.isEmpty())
        return -1;
    const int byte = static_cast<uint8_t>(m_input.front());
    m_input.remove(0, 1);
    return byte;
}

void MemoryPort::discardInput() {
    ++m_discardInputCount;
    m_input.clear();
}

int MemoryPort::write(const QByteArray &bytes) {
    if (!m_open || m_failed)
        return RunError::PortNotOpen;
    if (m_writeError != 0)
        return m_writeError;
    m_written.append(bytes);
    m_writes.append(bytes);
    if (m_holdOutput)
        m_pendingOut += int(bytes.size());
    if (m_writeHook)
        m_writeHook(bytes);
    return 0;
}

int MemoryPort::outBufferCount() {
    return m_open && !m_failed ? m_pendingOut : 0;
}

void MemoryPort::discardOutput() {
    ++m_discardOutputCount;
    m_pendingOut = 0;
}

void MemoryPort::waitForActivity(std::chrono::milliseconds limit) {
    if (m_failed || !m_open)
        return;
    CurrentLinkClock().sleep(limit);
}

void MemoryPort::fail() {
    m_failed = true;
    m_pendingOut = 0;
}

void MemoryPort::clearRecord() {
    m_written.clear();
    m_writes.clear();
    m_openings.clear();
    m_closeCount = 0;
    m_discardInputCount = 0;
    m_discardOutputCount = 0;
    m_lineChanges.clear();
}

int MemoryPort::setLineSettings(const QString &settings) {
    if (!m_open || m_failed)
        return RunError::PortNotOpen;
    LineSettings parsed;
    if (const int code = ParseLineSettings(settings, parsed); code != 0)
        return code;
    if (m_lineSettingsError != 0)
        return m_lineSettingsError;
    m_lineChanges.append(settings);
    return 0;
}
