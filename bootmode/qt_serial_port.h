#pragma once
// The serial port on QSerialPort. Port number n is the device COMn on Windows; elsewhere it is
// the file COMn in the application folder when that exists (normally a symbolic link such as
// COM3 -> /dev/ttyUSB0), else /dev/ttyS<n-1>.

#include "low_latency.h"
#include "serial_port.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <optional>

// On Linux an open port asks for low latency (see low_latency.h) through `driver`, and its
// close puts the flag back; note() tells what was found and done.
class QtSerialPort : public SerialPortInterface {
public:
    explicit QtSerialPort(LowLatencyDriver &driver = SystemLowLatencyDriver());
    ~QtSerialPort() override;

    int open(int port, const QString &settings) override;
    void close() override;
    bool isOpen() const override;
    int inBufferCount() override;
    int heldCount() override;
    int readByte() override;
    void discardInput() override;
    int write(const QByteArray &bytes) override;
    int outBufferCount() override;
    void discardOutput() override;
    // Bytes that arrived before the device went away are still delivered; the port counts as
    // failed once they have been read.
    bool hasFailed() const override { return m_failed && m_port.bytesAvailable() == 0; }
    void waitForActivity(std::chrono::milliseconds limit) override;
    bool wakesEventLoop() const override;
    QString note() const override { return m_note; }
    // Whether the low-latency flag was on while the port was open last; nothing before the
    // first open, and on systems without the flag.
    std::optional<bool> lowLatency() const { return m_lowLatencyOn; }

    // The device path that port number `port` stands for, or "" when there is none.
    static QString portLocation(int port);

    int setLineSettings(const QString &settings) override;

private:
    void noteError(QSerialPort::SerialPortError error);
    // Waits up to `limit` until the device itself has bytes to read or has hung up.
    bool deviceHasInput(std::chrono::milliseconds limit);
    // Hands the device as much of the unsent bytes as it takes now. 0, or the failure code.
    int pushOutput();
    qsizetype unsentCount() const { return m_unsent.size() - m_unsentFrom; }
    void dropOutput();

    QSerialPort m_port;
    bool m_failed = false;
    // Bytes the device has not taken yet, from m_unsentFrom on; sent straight to the device as
    // it takes them (on Windows the port's own queue does this).
    QByteArray m_unsent;
    qsizetype m_unsentFrom = 0;
    // Wakes the event loop when the device takes more, while bytes are unsent.
    QSocketNotifier *m_writable = nullptr;
    LowLatency m_lowLatency;
    std::optional<bool> m_lowLatencyOn;
    QString m_note;
};
