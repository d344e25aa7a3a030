#pragma once
// The serial port on the Win32 communications calls. Port number n is the device \\.\COMn.
// Everything goes through overlapped I/O on one handle: a pending WaitCommEvent tells when a
// byte arrives, the output drains or the line has an error, and a pending WriteFile hands the
// driver the bytes not sent yet. Where the thread has an application object, a notifier on
// each of their events wakes the event loop, and its turn takes in what arrived and sends on.

#include "serial_port.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class LowLatencyDriver;
class QWinEventNotifier;

class WinSerialPort : public SerialPortInterface {
public:
    WinSerialPort();
    // Windows keeps an adapter's latency in its driver's settings: there is no flag to switch,
    // and `driver` is not used.
    explicit WinSerialPort(LowLatencyDriver &driver);
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort &) = delete;
    WinSerialPort &operator=(const WinSerialPort &) = delete;

    // 8002 for a port that does not exist, 8005 for one that another program holds (or this
    // one already), 5 for settings that the text or the driver refuses.
    int open(int port, const QString &settings) override;
    // Cancels what is pending, waits for it and lets the device go; what was not sent is lost.
    void close() override;
    bool isOpen() const override;
    int inBufferCount() override;
    int heldCount() override;
    int readByte() override;
    void discardInput() override;
    int write(const QByteArray &bytes) override;
    // The bytes the driver has not taken yet and those it still holds.
    int outBufferCount() override;
    void discardOutput() override;
    // Bytes that arrived before the device went away are still delivered; the port counts as
    // failed once they have been read.
    bool hasFailed() const override { return m_failed && heldBytes() == 0; }
    void waitForActivity(std::chrono::milliseconds limit) override;
    bool wakesEventLoop() const override;
    int setLineSettings(const QString &settings) override;

    // Always nothing: Windows has no low-latency flag.
    std::optional<bool> lowLatency() const { return std::nullopt; }

    // The device name that port number `port` stands for ("COM3"), or "" when there is none.
    static QString portLocation(int port);

private:
    struct Io;

    qsizetype heldBytes() const { return m_in.size() - m_inFrom; }
    qsizetype queuedBytes() const { return m_out.size() - m_outFrom; }
    // Finishes what completed, takes in what arrived, sends on and waits again for the next
    // event. True when bytes came in, bytes went out or the port failed.
    bool serve();
    // A notifier saw an operation end: serves it, and ends the event loop's turn when that did
    // something.
    void notified();
    // Takes in what the driver holds. True when bytes came in.
    bool takeIn();
    // Collects a write that completed and starts the next. True when bytes went out.
    bool pushOutput();
    // Keeps a WaitCommEvent pending; one that completes at once is served first. True when
    // bytes came in meanwhile.
    bool armEventWait();
    // The device has gone away: nothing more is sent or waited for.
    void fail();
    // Cancels the pending operations and waits until they have ended.
    void endPendingIo();
    void updateNotifiers();

    std::unique_ptr<Io> m_io;
    bool m_failed = false;
    // Bytes taken in, from m_inFrom on.
    QByteArray m_in;
    qsizetype m_inFrom = 0;
    // Bytes not handed to the driver yet, from m_outFrom on, behind the pending write's.
    QByteArray m_out;
    qsizetype m_outFrom = 0;
    // The bytes of the pending write; they stay in place until it completes.
    QByteArray m_writing;
    QWinEventNotifier *m_eventNotifier = nullptr;
    QWinEventNotifier *m_writeNotifier = nullptr;
};
