#include "low_latency.h"

#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

class SystemDriver : public LowLatencyDriver {
public:
#ifdef __linux__
    int read(int fd, bool &on) override {
        serial_struct settings = {};
        if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
            return errno;
        on = settings.flags & ASYNC_LOW_LATENCY;
        return 0;
    }
    int write(int fd, bool on) override {
        serial_struct settings = {};
        if (::ioctl(fd, TIOCGSERIAL, &settings) != 0)
            return errno;
        settings.flags =
            on ? settings.flags | ASYNC_LOW_LATENCY : settings.flags & ~ASYNC_LOW_LATENCY;
        return ::ioctl(fd, TIOCSSERIAL, &settings) == 0 ? 0 : errno;
    }
#else
    int read(int, bool &) override {
        return ENOTTY;
    }
    int write(int, bool) override {
        return ENOTTY;
    }
#endif
};

// "ENOTTY", or the number where the system has no name for it.
QString errnoName(int error) {
#ifdef __GLIBC__
    if (const char *name = ::strerrorname_np(error))
        return QString::fromLatin1(name);
#endif
    return QStringLiteral("errno %1").arg(error);
}

} // namespace

LowLatencyDriver &SystemLowLatencyDriver() {
    static SystemDriver driver;
    return driver;
}

QString LowLatency::begin(int fd) {
    m_on = m_switched = false;
    bool on = false;
    if (const int error = m_driver.read(fd, on); error != 0)
        return QStringLiteral("low-latency flag: not readable on this port (%1), nothing changed")
            .arg(errnoName(error));
    if (on) {
        m_on = true;
        return QStringLiteral("low-latency flag: already on, left as it is");
    }
    if (const int error = m_driver.write(fd, true); error != 0)
        return QStringLiteral("low-latency flag: off, the driver refused to switch it on (%1), "
                              "nothing changed")
            .arg(errnoName(error));
    // Some drivers accept the settings and keep the flag off.
    m_switched = m_driver.read(fd, on) != 0 || on;
    m_on = m_switched;
    return m_switched
               ? QStringLiteral("low-latency flag: off, switched on until the port closes")
               : QStringLiteral("low-latency flag: off, the driver kept it off, nothing changed");
}

QString LowLatency::end(int fd) {
    if (!m_switched)
        return {};
    m_switched = false;
    if (const int error = m_driver.write(fd, false); error != 0)
        return QStringLiteral("low-latency flag: could not be switched off again (%1)")
            .arg(errnoName(error));
    return {};
}
