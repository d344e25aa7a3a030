#pragma once
// A serial port in memory, for unit tests and the in-memory simulated target. It records what
// the host wrote and with which settings it opened; the device side queues reply bytes with
// deliver(), typically from the write hook, which runs synchronously on every host write.
// Waiting on it sleeps on the current link clock, so with a fake clock time runs forward.

#include "line_settings.h"
#include "serial_port.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class MemoryPort : public SerialPortInterface {
public:
    struct Opening {
        int port;
        QString settings;
    };

    // SerialPortInterface
    int open(int port, const QString &settings) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    int inBufferCount() override;
    int readByte() override;
    void discardInput() override;
    int write(const QByteArray &bytes) override;
    int outBufferCount() override;
    void discardOutput() override;
    bool hasFailed() const override { return m_failed; }
    void waitForActivity(std::chrono::milliseconds limit) override;

    // Device side
    void deliver(const QByteArray &bytes) { m_input.append(bytes); }
    void setWriteHook(std::function<void(const QByteArray &)> hook) {
        m_writeHook = std::move(hook);
    }
    // The device goes away: reads and writes fail until the port is closed and opened again.
    void fail();
    // Writes return this run-time failure code (0 = writes work) without failing the port.
    void setWriteError(int code) { m_writeError = code; }
    // Opening fails with this run-time failure code (0 = opens work); 8002 = no such port.
    void setOpenError(int code) { m_openError = code; }
    // Written bytes stay "unsent" until releaseOutput() (default: they leave at once).
    void holdOutput(bool hold) { m_holdOutput = hold; }
    void releaseOutput() { m_pendingOut = 0; }

    // What the host did
    QByteArray written() const { return m_written; }
    const QList<QByteArray> &writes() const { return m_writes; }
    const QList<Opening> &openings() const { return m_openings; }
    int closeCount() const { return m_closeCount; }
    int discardInputCount() const { return m_discardInputCount; }
    int discardOutputCount() const { return m_discardOutputCount; }
    // Bytes delivered but not yet read.
    QByteArray pendingInput() const { return m_input; }
    void clearRecord();

    int setLineSettings(const QString &settings) override;
    // The line settings given to the open port, in order (cleared by clearRecord()).
    const QList<QString> &lineChanges() const { return m_lineChanges; }
    // setLineSettings() returns this run-time failure code (0 = it works).
    void setLineSettingsError(int code) { m_lineSettingsError = code; }

private:
    bool m_open = false;
    bool m_failed = false;
    int m_writeError = 0;
    int m_openError = 0;
    bool m_holdOutput = false;
    int m_pendingOut = 0;
    QByteArray m_input;
    QByteArray m_written;
    QList<QByteArray> m_writes;
    QList<Opening> m_openings;
    int m_closeCount = 0;
    int m_discardInputCount = 0;
    int m_discardOutputCount = 0;
    std::function<void(const QByteArray &)> m_writeHook;
    QList<QString> m_lineChanges;
    int m_lineSettingsError = 0;
};
