#pragma once
// The serial port as the link sees it: exactly the operations the download needs. One
// implementation sits on QSerialPort, one in memory for tests and the in-memory simulated target.

#include <QByteArray>
#include <QString>
#include <chrono>

class SerialPortInterface {
public:
    virtual ~SerialPortInterface() = default;

    // Opens port number `port` with a settings text of bit rate, parity letter, data bits and
    // stop bits joined by "," ("9600,N,8,1"), without flow control, both buffers empty.
    // Returns 0, or a run-time failure code: 8002 when the number names no usable port,
    // another code for any other failure.
    virtual int open(int port, const QString &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Received bytes waiting to be read.
    virtual int inBufferCount() = 0;
    // The received bytes the port has taken in already, without looking at the device: where
    // the port wakes the event loop, a turn of it takes in what the device still holds.
    virtual int heldCount() { return inBufferCount(); }
    // Takes one waiting byte (0..255); -1 when none is waiting or the port failed.
    virtual int readByte() = 0;
    virtual void discardInput() = 0;

    // Queues bytes for sending. Returns 0, or a run-time failure code when the port failed.
    virtual int write(const QByteArray &bytes) = 0;
    // Bytes queued but not yet sent.
    virtual int outBufferCount() = 0;
    virtual void discardOutput() = 0;

    // True once the device has gone away under an open port (adapter unplugged, line dropped);
    // a failed port reads nothing and writes nothing until it is closed and opened again.
    virtual bool hasFailed() const = 0;

    // Blocks for at most `limit` and returns early when a byte arrives, the output drains or
    // the port fails. Keeps waits from spinning the CPU; the caller serves window events
    // between waits.
    virtual void waitForActivity(std::chrono::milliseconds limit) = 0;
    // True when the port's activity (a byte arriving, room to send, the device going away) wakes
    // the thread's event loop: a wait may then block in the event loop and serve window events
    // the moment they come, instead of blocking on the port alone.
    virtual bool wakesEventLoop() const { return false; }

    // What the last open or close did beyond the line settings, in one line for the trace; ""
    // when there is nothing to say.
    virtual QString note() const { return {}; }

    // Changes the line settings of the open port (the same text as open() takes) without
    // closing it; what is waiting in both directions stays. Returns 0, or a run-time failure
    // code when the port is not open or refuses the settings (they are then as before).
    virtual int setLineSettings(const QString &settings) = 0;
};
