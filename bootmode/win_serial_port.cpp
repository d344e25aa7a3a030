#include "win_serial_port.h"

#include "line_settings.h"
#include "run_errors.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QWinEventNotifier>

#include <algorithm>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// The driver's buffers asked for; a driver that keeps its own sizes refuses, and that is fine.
// 32 KiB holds almost three seconds of input at 115200 bit/s while the window is busy.
constexpr DWORD kDriverBuffer = 32768;
// How long an operation that should end at once (a read of what is there, a write aborted by a
// purge) may take before it is cancelled.
constexpr DWORD kSettleMs = 500;
// How often in a row an operation may complete at once before the event loop gets its turn.
constexpr int kTurnsInARow = 16;
// How long the read of one byte waits before it ends with nothing and the next begins.
constexpr DWORD kReadWaitMs = 60000;
// Reads in a row that end at once with nothing before the port counts as not working: a read
// waits for its first byte, so a driver that ends it at once, again and again, is not reading.
constexpr int kEmptyReadsAllowed = 64;

int OpenFailure(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return RunError::InvalidPortNumber;
    case ERROR_ACCESS_DENIED: // a communications device is never shared: another program has it
    case ERROR_SHARING_VIOLATION:
        return RunError::PortAlreadyOpen;
    default:
        return RunError::DeviceIo;
    }
}

BYTE ParityOf(char letter) {
    switch (letter) {
    case 'O':
        return ODDPARITY;
    case 'E':
        return EVENPARITY;
    case 'M':
        return MARKPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE StopBitsOf(int stopBits) {
    switch (stopBits) {
    case 2:
        return TWOSTOPBITS;
    case 15:
        return ONE5STOPBITS;
    default:
        return ONESTOPBIT;
    }
}

void SetLine(DCB &dcb, const LineSettings &line) {
    dcb.BaudRate = DWORD(line.bitRate);
    dcb.ByteSize = BYTE(line.dataBits);
    dcb.Parity = ParityOf(line.parity);
    dcb.fParity = line.parity != 'N';
    dcb.StopBits = StopBitsOf(line.stopBits);
}

bool SameLine(const DCB &a, const DCB &b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
           a.fParity == b.fParity && a.StopBits == b.StopBits;
}

// Binary, without flow control of any kind, and a line error does not stop reads and writes.
// DTR and RTS are raised while the port is open, as an open leaves them on other systems.
void SetRaw(DCB &dcb) {
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

// Waits for an operation that ends at once, cancelling it when it has not within kSettleMs.
// Returns 0 or the error it ended with; `n` is what it moved. Its own cancel is no error.
DWORD AwaitEnd(HANDLE port, OVERLAPPED &operation, DWORD &n) {
    bool cancelled = false;
    if (WaitForSingleObject(operation.hEvent, kSettleMs) != WAIT_OBJECT_0)
        cancelled = CancelIoEx(port, &operation) != 0;
    n = 0;
    if (GetOverlappedResult(port, &operation, &n, TRUE))
        return 0;
    const DWORD error = GetLastError();
    return cancelled && error == ERROR_OPERATION_ABORTED ? 0 : error;
}

} // namespace

struct WinSerialPort::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    bool readPending = false;
    bool writePending = false;
};

WinSerialPort::WinSerialPort() = default;

WinSerialPort::WinSerialPort(LowLatencyDriver &driver) {
    (void)driver;
}

WinSerialPort::~WinSerialPort() {
    close();
}

QString WinSerialPort::portLocation(int port) {
    return port >= 1 ? QStringLiteral("COM%1").arg(port) : QString();
}

int WinSerialPort::open(int port, const QString &settings) {
    if (isOpen())
        return RunError::PortAlreadyOpen;
    LineSettings line;
    if (const int code = ParseLineSettings(settings, line); code != 0)
        return code;
    const QString location = portLocation(port);
    if (location.isEmpty())
        return RunError::InvalidPortNumber;

    // The device namespace reaches COM10 and beyond too.
    const std::wstring path = (QStringLiteral("\\\\.\\") + location).toStdWString();
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return OpenFailure(GetLastError());
    m_io = std::make_unique<Io>();
    m_io->port = handle;
    m_failed = false;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        close();
        return RunError::InvalidPortNumber; // a device by that name, but no serial port
    }
    SetRaw(dcb);
    SetLine(dcb, line);
    if (!SetCommState(handle, &dcb)) {
        close();
        return RunError::InvalidArgument;
    }
    SetupComm(handle, kDriverBuffer, kDriverBuffer);
    // A read returns at once with what the driver holds; when it holds nothing, it waits for the
    // first byte and returns with it, or ends empty after kReadWaitMs. Writes have no limit.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
    for (OVERLAPPED *operation : {&m_io->read, &m_io->write})
        operation->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!SetCommTimeouts(handle, &timeouts) ||
        !PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) ||
        !m_io->read.hEvent || !m_io->write.hEvent) {
        close();
        return RunError::DeviceIo;
    }
    m_emptyReads = 0;
    takeIn();
    if (m_failed) {
        close();
        return RunError::DeviceIo;
    }
    if (QCoreApplication::instance()) {
        m_readNotifier = new QWinEventNotifier(m_io->read.hEvent);
        m_writeNotifier = new QWinEventNotifier(m_io->write.hEvent);
        QObject::connect(m_readNotifier, &QWinEventNotifier::activated, [this] { notified(); });
        QObject::connect(m_writeNotifier, &QWinEventNotifier::activated, [this] { notified(); });
    }
    return 0;
}

void WinSerialPort::close() {
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_io) {
        endPendingIo();
        CloseHandle(m_io->port);
        for (OVERLAPPED *operation : {&m_io->read, &m_io->write}) {
            if (operation->hEvent)
                CloseHandle(operation->hEvent);
        }
        m_io.reset();
    }
    m_in.clear();
    m_inFrom = 0;
    m_out.clear();
    m_outFrom = 0;
    m_writing.clear();
    m_failed = false;
}

bool WinSerialPort::isOpen() const {
    return m_io != nullptr;
}

int WinSerialPort::inBufferCount() {
    if (!isOpen())
        return 0;
    if (!m_failed)
        takeIn();
    return int(heldBytes());
}

int WinSerialPort::heldCount() {
    return isOpen() ? int(heldBytes()) : 0;
}

int WinSerialPort::readByte() {
    if (!isOpen())
        return -1;
    if (heldBytes() == 0 && !m_failed)
        takeIn();
    if (heldBytes() == 0)
        return -1;
    const auto byte = static_cast<uint8_t>(m_in[m_inFrom++]);
    if (m_inFrom == m_in.size()) {
        m_in.truncate(0);
        m_inFrom = 0;
    }
    return byte;
}

void WinSerialPort::discardInput() {
    if (!isOpen())
        return;
    m_in.truncate(0);
    m_inFrom = 0;
    if (m_failed)
        return;
    if (m_io->readPending) {
        // The pending read is cancelled (a purge does not end it everywhere); a byte it had
        // read goes with the rest.
        CancelIoEx(m_io->port, &m_io->read);
        DWORD n = 0;
        const bool ended = GetOverlappedResult(m_io->port, &m_io->read, &n, TRUE);
        const DWORD error = ended ? 0 : GetLastError();
        m_io->readPending = false;
        if (error != 0 && error != ERROR_OPERATION_ABORTED) {
            fail();
            return;
        }
    }
    if (!PurgeComm(m_io->port, PURGE_RXABORT | PURGE_RXCLEAR)) {
        fail();
        return;
    }
    m_emptyReads = 0;
    takeIn();
}

int WinSerialPort::write(const QByteArray &bytes) {
    if (!isOpen() || m_failed)
        return RunError::PortNotOpen;
    if (m_outFrom == m_out.size()) {
        m_out.truncate(0);
        m_outFrom = 0;
    }
    m_out.append(bytes);
    pushOutput();
    return m_failed ? RunError::PortNotOpen : 0;
}

int WinSerialPort::outBufferCount() {
    if (!isOpen() || m_failed)
        return 0;
    pushOutput();
    if (m_failed)
        return 0;
    return int(queuedBytes() + (m_io->writePending ? m_writing.size() : 0));
}

void WinSerialPort::discardOutput() {
    if (!isOpen())
        return;
    m_out.truncate(0);
    m_outFrom = 0;
    if (m_failed)
        return;
    if (!PurgeComm(m_io->port, PURGE_TXABORT | PURGE_TXCLEAR)) {
        fail();
        return;
    }
    if (m_io->writePending) {
        // The purge ends the pending write, aborted.
        DWORD n = 0;
        const DWORD error = AwaitEnd(m_io->port, m_io->write, n);
        m_io->writePending = false;
        m_writing.clear();
        ResetEvent(m_io->write.hEvent);
        if (error != 0 && error != ERROR_OPERATION_ABORTED)
            fail();
    }
}

void WinSerialPort::waitForActivity(std::chrono::milliseconds limit) {
    if (!isOpen() || m_failed)
        return;
    if (serve() || m_failed)
        return;
    if (heldBytes() > 0 && queuedBytes() == 0 && !m_io->writePending)
        return;
    HANDLE events[2];
    DWORD count = 0;
    if (m_io->readPending)
        events[count++] = m_io->read.hEvent;
    if (m_io->writePending)
        events[count++] = m_io->write.hEvent;
    const DWORD ms =
        DWORD(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, 0x7fffffff));
    if (count > 0)
        WaitForMultipleObjects(count, events, FALSE, ms);
    else
        Sleep(std::min<DWORD>(ms, kSettleMs)); // events keep completing at once: a short rest
    serve();
}

bool WinSerialPort::wakesEventLoop() const {
    return isOpen() && m_readNotifier != nullptr;
}

int WinSerialPort::setLineSettings(const QString &settings) {
    if (!isOpen() || m_failed)
        return RunError::PortNotOpen;
    LineSettings line;
    if (const int code = ParseLineSettings(settings, line); code != 0)
        return code;
    DCB before{};
    before.DCBlength = sizeof before;
    if (!GetCommState(m_io->port, &before)) {
        fail();
        return RunError::PortNotOpen;
    }
    DCB wanted = before;
    SetLine(wanted, line);
    // Through a USB adapter each change is a request to its chip: none when nothing changes.
    if (SameLine(before, wanted) || SetCommState(m_io->port, &wanted))
        return 0;
    SetCommState(m_io->port, &before);
    return RunError::InvalidArgument;
}

bool WinSerialPort::serve() {
    if (!isOpen() || m_failed)
        return false;
    const bool went = pushOutput();
    const bool came = !m_failed && takeIn();
    return went || came || m_failed;
}

void WinSerialPort::notified() {
    // A notifier's activation is a posted event, and the turn of the event loop that sends posted
    // events first goes on to block as if nothing had happened: the wait that turn serves would
    // see what came only at its end. Another wake-up ends it at once.
    if (serve()) {
        if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->wakeUp();
    }
}

bool WinSerialPort::takeIn() {
    Io &io = *m_io;
    bool came = false;
    for (int turn = 0; turn < kTurnsInARow && !m_failed; ++turn) {
        if (io.readPending) {
            DWORD n = 0;
            if (!GetOverlappedResult(io.port, &io.read, &n, FALSE)) {
                const DWORD error = GetLastError();
                if (error == ERROR_IO_INCOMPLETE)
                    return came; // nothing has arrived
                io.readPending = false;
                readFailed(error);
                continue;
            }
            io.readPending = false;
            if (n == 0) {
                // Its wait ran out, or the driver ended it at once.
                if (GetTickCount64() - m_readStarted >= kReadWaitMs / 2)
                    m_emptyReads = 0;
                else if (++m_emptyReads > kEmptyReadsAllowed)
                    fail();
                continue;
            }
            m_emptyReads = 0;
            appendIn(&m_firstByte, 1);
            came = true;
            takeQueued();
            continue;
        }
        // The wait for the next byte.
        ResetEvent(io.read.hEvent);
        m_readStarted = GetTickCount64();
        if (!ReadFile(io.port, &m_firstByte, 1, nullptr, &io.read) &&
            GetLastError() != ERROR_IO_PENDING) {
            readFailed(GetLastError());
            continue;
        }
        io.readPending = true;
    }
    return came;
}

void WinSerialPort::appendIn(const char *bytes, qsizetype count) {
    if (m_inFrom == m_in.size()) {
        m_in.truncate(0);
        m_inFrom = 0;
    } else if (m_inFrom >= 65536) {
        m_in.remove(0, m_inFrom);
        m_inFrom = 0;
    }
    m_in.append(bytes, count);
}

void WinSerialPort::takeQueued() {
    Io &io = *m_io;
    for (int turn = 0; turn < kTurnsInARow; ++turn) {
        COMSTAT status{};
        DWORD errors = 0; // line errors (framing, parity, overrun) leave the port usable
        if (!ClearCommError(io.port, &errors, &status)) {
            fail();
            return;
        }
        const DWORD want = status.cbInQue;
        if (want == 0)
            return;
        // A read of what the driver holds ends at once with it.
        QByteArray bytes(qsizetype(want), Qt::Uninitialized);
        DWORD n = 0;
        DWORD error = 0;
        ResetEvent(io.read.hEvent);
        if (!ReadFile(io.port, bytes.data(), want, nullptr, &io.read) &&
            GetLastError() != ERROR_IO_PENDING)
            error = GetLastError();
        else
            error = AwaitEnd(io.port, io.read, n);
        appendIn(bytes.constData(), qsizetype(std::min(n, want)));
        if (error != 0) {
            fail();
            return;
        }
        if (n < want)
            return; // the rest comes at the next look
    }
}

void WinSerialPort::readFailed(unsigned long error) {
    // A read cancelled by something else than a discard here, with the device still answering,
    // is started again; a device that no longer answers has gone away.
    COMSTAT status{};
    DWORD errors = 0;
    if (error != ERROR_OPERATION_ABORTED || !ClearCommError(m_io->port, &errors, &status) ||
        ++m_emptyReads > kEmptyReadsAllowed)
        fail();
}

bool WinSerialPort::pushOutput() {
    Io &io = *m_io;
    bool went = false;
    for (int turn = 0; turn < kTurnsInARow && !m_failed; ++turn) {
        if (io.writePending) {
            DWORD n = 0;
            if (!GetOverlappedResult(io.port, &io.write, &n, FALSE)) {
                if (GetLastError() == ERROR_IO_INCOMPLETE)
                    break; // the driver is still taking it
                io.writePending = false;
                m_writing.clear();
                fail();
                return true;
            }
            io.writePending = false;
            ResetEvent(io.write.hEvent); // it wakes nobody until the next write completes
            went = went || n > 0;
            if (qsizetype(n) < m_writing.size()) {
                // The driver took a part: the rest goes first, ahead of what was queued since.
                m_out = m_writing.mid(qsizetype(n)) + m_out.mid(m_outFrom);
                m_outFrom = 0;
            }
            m_writing.clear();
        }
        if (queuedBytes() == 0)
            break;
        m_writing = m_out.mid(m_outFrom);
        m_out.truncate(0);
        m_outFrom = 0;
        if (!WriteFile(io.port, m_writing.constData(), DWORD(m_writing.size()), nullptr,
                       &io.write) &&
            GetLastError() != ERROR_IO_PENDING) {
            m_writing.clear();
            fail();
            return true;
        }
        io.writePending = true;
    }
    return went;
}

void WinSerialPort::fail() {
    if (m_failed)
        return;
    m_failed = true;
    m_out.truncate(0);
    m_outFrom = 0;
    endPendingIo();
    m_writing.clear();
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void WinSerialPort::endPendingIo() {
    Io &io = *m_io;
    if (!io.writePending && !io.readPending)
        return;
    CancelIoEx(io.port, nullptr);
    DWORD n = 0;
    if (io.writePending)
        GetOverlappedResult(io.port, &io.write, &n, TRUE);
    if (io.readPending)
        GetOverlappedResult(io.port, &io.read, &n, TRUE);
    io.writePending = false;
    io.readPending = false;
}
