#pragma once
// The low-latency flag of a serial port's settings on Linux (ASYNC_LOW_LATENCY, what
// `setserial PORT low_latency` sets), which any account that may open the port may change. The
// FTDI driver turns it into a latency timer of 1 ms instead of its default 16 ms: every echo of
// the kernel transfer waits for that timer, so it decides how long the transfer takes.

#include <QString>

// Reads and writes the flag of a port open as `fd`. Each call returns 0, or the errno with which
// the port refused (ENOTTY: no serial settings, as on a pseudo-terminal; EINVAL, EPERM: a
// driver that does not let them be read or changed).
class LowLatencyDriver {
public:
    virtual ~LowLatencyDriver() = default;
    virtual int read(int fd, bool &on) = 0;
    // Writes the settings back as they are, with the flag alone changed.
    virtual int write(int fd, bool on) = 0;
};

// TIOCGSERIAL and TIOCSSERIAL on Linux; elsewhere every port refuses with ENOTTY.
LowLatencyDriver &SystemLowLatencyDriver();

// Low latency while a port is open: begin() after the open switches the flag on when it is
// off, end() before the close switches it off again when begin() did. A port that refuses is
// left as it was. Both return one line for the trace.
class LowLatency {
public:
    explicit LowLatency(LowLatencyDriver &driver) : m_driver(driver) {}

    // What was found and done.
    QString begin(int fd);
    // "" when the settings are back as they were before begin(), else why they are not.
    QString end(int fd);
    // The flag was on while the port was open last.
    bool wasOn() const { return m_on; }

private:
    LowLatencyDriver &m_driver;
    bool m_on = false;
    bool m_switched = false;
};
