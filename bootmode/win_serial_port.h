#pragma once
// The serial port on the Win32 communications calls. Port number n is the device \\.\COMn.
// Everything goes through overlapped I/O on one handle: a read of one byte is always pending,
// and when it ends, what the driver holds behind it is read at once; a pending WriteFile hands
// the driver the bytes not sent yet. Where the thread has an application object, a notifier on
// each of their events wakes the event loop, and its turn takes in what arrived and sends on.
// (A read rather than WaitCommEvent is the wait: drivers that cannot report the modem lines,
// such as Wine's over a pseudo-terminal, end every WaitCommEvent at once as cancelled.)

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
    // The bytes the driver has not taken yet: those queued here and those of the pending write.
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
    // Collects what completed, takes in what arrived and sends on. True when bytes came in,
    // bytes went out or the port failed.
    bool serve();
    // A notifier saw an operation end: serves it, and ends the event loop's turn when that did
    // something.
    void notified();
    // Collects the pending read of one byte when it has ended, with what the driver holds
    // behind it, and starts the next. True when bytes came in.
    bool takeIn();
    // Takes in what the driver holds.
    void takeQueued();
    void appendIn(const char *bytes, qsizetype count);
    // Collects a write that completed and starts the next. True when bytes went out.
    bool pushOutput();
    // A read ended with `error`: the port's own discard (the read starts again), or the device
    // has gone away.
    void readFailed(unsigned long error);
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
    // Where the pending read of one byte puts it.
    char m_firstByte = 0;
    // Reads in a row that ended at once with nothing, not by a discard.
    int m_emptyReads = 0;
    // When the pending read began, in the system's milliseconds.
    unsigned long long m_readStarted = 0;
    QWinEventNotifier *m_readNotifier = nullptr;
    QWinEventNotifier *m_writeNotifier = nullptr;
};
