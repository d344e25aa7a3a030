#include "qt_serial_port.h"

#include "line_settings.h"
#include "run_errors.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#ifndef Q_OS_WIN
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

QSerialPort::Parity ParityOf(char letter) {
    switch (letter) {
    case 'O':
        return QSerialPort::OddParity;
    case 'E':
        return QSerialPort::EvenParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits StopBitsOf(int stopBits) {
    switch (stopBits) {
    case 2:
        return QSerialPort::TwoStop;
    case 15:
        return QSerialPort::OneAndHalfStop;
    default:
        return QSerialPort::OneStop;
    }
}

int OpenFailure(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return RunError::InvalidPortNumber;
    case QSerialPort::PermissionError:
        return RunError::PermissionDenied;
    case QSerialPort::UnsupportedOperationError:
        return RunError::InvalidArgument;
    case QSerialPort::OpenError:
        return RunError::PortAlreadyOpen;
    default:
        return RunError::DeviceIo;
    }
}

} // namespace

QtSerialPort::QtSerialPort(LowLatencyDriver &driver) : m_lowLatency(driver) {
    QObject::connect(&m_port, &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { noteError(error); });
}

QtSerialPort::~QtSerialPort() {
    close();
}

QString QtSerialPort::portLocation(int port) {
    if (port < 1)
        return QString();
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    const QFileInfo link(QDir(gAppDir).filePath(QStringLiteral("COM%1").arg(port)));
    if (link.exists() || link.isSymLink()) {
        // A link that leads nowhere names no usable port.
        const QString target = link.canonicalFilePath();
        return target;
    }
    const QString device = QStringLiteral("/dev/ttyS%1").arg(port - 1);
    return QFileInfo::exists(device) ? device : QString();
#endif
}

int QtSerialPort::open(int port, const QString &settings) {
    if (m_port.isOpen())
        return RunError::PortAlreadyOpen;
    LineSettings line;
    if (const int code = ParseLineSettings(settings, line); code != 0)
        return code;
    const QString location = portLocation(port);
    if (location.isEmpty())
        return RunError::InvalidPortNumber;

    m_failed = false;
    m_note.clear();
    m_port.setPortName(location);
    if (!m_port.setBaudRate(line.bitRate) || !m_port.setParity(ParityOf(line.parity)) ||
        !m_port.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) ||
        !m_port.setStopBits(StopBitsOf(line.stopBits)) ||
        !m_port.setFlowControl(QSerialPort::NoFlowControl))
        return RunError::InvalidArgument;
    if (!m_port.open(QIODevice::ReadWrite)) {
        const int code = OpenFailure(m_port.error());
        m_port.clearError();
        m_failed = false;
        return code;
    }
    m_port.clear(QSerialPort::AllDirections);
    m_port.readAll();
#ifndef Q_OS_WIN
    if (QCoreApplication::instance()) {
        m_writable = new QSocketNotifier(m_port.handle(), QSocketNotifier::Write);
        m_writable->setEnabled(false);
        QObject::connect(m_writable, &QSocketNotifier::activated, [this] { pushOutput(); });
    }
#endif
#ifdef Q_OS_LINUX
    m_note = m_lowLatency.begin(int(m_port.handle()));
    m_lowLatencyOn = m_lowLatency.wasOn();
#endif
    return 0;
}

void QtSerialPort::close() {
    if (m_port.isOpen()) {
#ifdef Q_OS_LINUX
        m_note = m_lowLatency.end(int(m_port.handle()));
#endif
        m_unsent.clear();
        m_unsentFrom = 0;
        delete m_writable;
        m_writable = nullptr;
        m_port.close();
    }
    m_port.clearError();
    m_failed = false;
}

bool QtSerialPort::isOpen() const {
    return m_port.isOpen();
}

int QtSerialPort::inBufferCount() {
    if (!m_port.isOpen())
        return 0;
    // Look at the device itself: the bit-rate adjustment counts after a sleep in which no
    // event was served.
    if (m_port.bytesAvailable() == 0 && deviceHasInput(std::chrono::milliseconds(0)))
        m_port.waitForReadyRead(0); // takes the bytes into the port
    return int(m_port.bytesAvailable());
}

int QtSerialPort::heldCount() {
    return m_port.isOpen() ? int(m_port.bytesAvailable()) : 0;
}

int QtSerialPort::readByte() {
    char byte = 0;
    if (!m_port.isOpen() || !m_port.getChar(&byte))
        return -1;
    return static_cast<uint8_t>(byte);
}

void QtSerialPort::discardInput() {
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
}

int QtSerialPort::write(const QByteArray &bytes) {
    if (!m_port.isOpen() || m_failed)
        return RunError::PortNotOpen;
#ifdef Q_OS_WIN
    if (m_port.write(bytes) != bytes.size())
        return m_failed ? RunError::PortNotOpen : RunError::DeviceIo;
    m_port.flush(); // start sending now rather than at the next turn of the event loop
    return m_failed ? RunError::PortNotOpen : 0;
#else
    // Straight to the device, behind whatever it has not taken yet. The port's own queue is not
    // used: it takes a device that is full for a moment (EAGAIN) for one that went away.
    if (unsentCount() == 0) {
        m_unsent = bytes;
        m_unsentFrom = 0;
    } else {
        m_unsent.append(bytes);
    }
    return pushOutput();
#endif
}

int QtSerialPort::pushOutput() {
#ifndef Q_OS_WIN
    if (m_failed)
        dropOutput(); // nothing more goes, and nothing keeps waking the event loop for it
    while (unsentCount() > 0) {
        const ssize_t n =
            ::write(m_port.handle(), m_unsent.constData() + m_unsentFrom, size_t(unsentCount()));
        if (n > 0) {
            m_unsentFrom += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            m_failed = true; // as the port itself would find it: the device has gone away
            dropOutput();
            break;
        } else {
            break; // full for now: the rest goes as the device takes it
        }
    }
    if (unsentCount() == 0) {
        m_unsent.clear();
        m_unsentFrom = 0;
    }
    if (m_writable)
        m_writable->setEnabled(unsentCount() > 0);
#endif
    return m_failed ? RunError::PortNotOpen : 0;
}

void QtSerialPort::dropOutput() {
    m_unsent.clear();
    m_unsentFrom = 0;
    if (m_writable)
        m_writable->setEnabled(false);
}

int QtSerialPort::outBufferCount() {
    if (!m_port.isOpen() || m_failed)
        return 0;
#ifdef Q_OS_WIN
    return int(m_port.bytesToWrite());
#else
    pushOutput();
    return int(unsentCount());
#endif
}

void QtSerialPort::discardOutput() {
    if (!m_port.isOpen())
        return;
    dropOutput();
    m_port.clear(QSerialPort::Output); // and what the device holds
}

void QtSerialPort::waitForActivity(std::chrono::milliseconds limit) {
    if (!m_port.isOpen() || m_failed)
        return;
#ifdef Q_OS_WIN
    if (m_port.bytesToWrite() > 0) {
        m_port.waitForBytesWritten(int(limit.count()));
        return;
    }
#else
    if (unsentCount() > 0) {
        // Room in the device, a byte or a hang-up ends the wait.
        pollfd device{int(m_port.handle()), POLLOUT | POLLIN, 0};
        if (::poll(&device, 1, int(limit.count())) > 0 && (device.revents & POLLIN))
            m_port.waitForReadyRead(0);
        pushOutput();
        return;
    }
#endif
    if (m_port.bytesAvailable() > 0)
        return;
    // Block on the device itself, not in an event loop: the link serves window events between
    // waits.
    if (deviceHasInput(limit))
        m_port.waitForReadyRead(0); // takes the bytes into the port
}

bool QtSerialPort::wakesEventLoop() const {
    // The port's read notifier takes arriving bytes (and a hang-up) in the event loop, and
    // m_writable wakes it when the device takes more.
#ifdef Q_OS_WIN
    return false;
#else
    return m_port.isOpen() && m_writable != nullptr;
#endif
}

bool QtSerialPort::deviceHasInput(std::chrono::milliseconds limit) {
#ifdef Q_OS_WIN
    m_port.waitForReadyRead(int(limit.count())); // takes any bytes into the port itself
    return false;
#else
    // The port's own wait would report "nothing yet" as a timeout error, with a translated
    // message, thousands of times in a kernel transfer. A hang-up counts as input too: reading
    // it is how the port finds that the device has gone away.
    pollfd device{int(m_port.handle()), POLLIN, 0};
    return ::poll(&device, 1, int(limit.count())) > 0;
#endif
}

void QtSerialPort::noteError(QSerialPort::SerialPortError error) {
    // A resource error under an open port is the device going away (adapter unplugged, the
    // other end of a pseudo-terminal closed).
    if (error == QSerialPort::ResourceError && m_port.isOpen())
        m_failed = true;
    else if ((error == QSerialPort::ReadError || error == QSerialPort::WriteError) &&
             m_port.isOpen())
        m_failed = true;
    if (m_failed)
        dropOutput();
}

int QtSerialPort::setLineSettings(const QString &settings) {
    if (!m_port.isOpen() || m_failed)
        return RunError::PortNotOpen;
    LineSettings line;
    if (const int code = ParseLineSettings(settings, line); code != 0)
        return code;
    // Each setter applies at once to the open device (through a USB adapter, a request to its
    // chip each), so only what changes is set; a refusal puts back what was set before.
    const qint32 bitRate = m_port.baudRate();
    const QSerialPort::Parity parity = m_port.parity();
    const QSerialPort::DataBits dataBits = m_port.dataBits();
    const QSerialPort::StopBits stopBits = m_port.stopBits();
    const auto wantedDataBits = static_cast<QSerialPort::DataBits>(line.dataBits);
    if ((bitRate == line.bitRate || m_port.setBaudRate(line.bitRate)) &&
        (parity == ParityOf(line.parity) || m_port.setParity(ParityOf(line.parity))) &&
        (dataBits == wantedDataBits || m_port.setDataBits(wantedDataBits)) &&
        (stopBits == StopBitsOf(line.stopBits) || m_port.setStopBits(StopBitsOf(line.stopBits))))
        return 0;
    m_port.setBaudRate(bitRate);
    m_port.setParity(parity);
    m_port.setDataBits(dataBits);
    m_port.setStopBits(stopBits);
    m_port.clearError();
    return RunError::InvalidArgument;
}
