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

// What wakes a pending WaitCommEvent: a byte arriving, the output drained, a line error or a
// break (the target reset under the line).
constexpr DWORD kEvents = EV_RXCHAR | EV_TXEMPTY | EV_ERR | EV_BREAK;
// The driver's buffers asked for; a driver that keeps its own sizes refuses, and that is fine.
// 32 KiB holds almost three seconds of input at 115200 bit/s while the window is busy.
constexpr DWORD kDriverBuffer = 32768;
// How long an operation that should end at once (a read of what is there, a write aborted by a
// purge) may take before it is cancelled.
constexpr DWORD kSettleMs = 500;
// How often in a row an operation may complete at once before the event loop gets its turn.
constexpr int kTurnsInARow = 16;

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
    OVERLAPPED event{};
    DWORD eventMask = 0;
    bool writePending = false;
    bool eventPending = false;
    // A purge since the pending WaitCommEvent began: if it ends aborted, that was the purge.
    bool purged = false;
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
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // a read returns at once with what is there
    for (OVERLAPPED *operation : {&m_io->read, &m_io->write, &m_io->event})
        operation->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!SetCommTimeouts(handle, &timeouts) || !SetCommMask(handle, kEvents) ||
        !PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) ||
        !m_io->read.hEvent || !m_io->write.hEvent || !m_io->event.hEvent) {
        close();
        return RunError::DeviceIo;
    }
    armEventWait();
    if (m_failed) {
        close();
        return RunError::DeviceIo;
    }
    if (QCoreApplication::instance()) {
        m_eventNotifier = new QWinEventNotifier(m_io->event.hEvent);
        m_writeNotifier = new QWinEventNotifier(m_io->write.hEvent);
        QObject::connect(m_eventNotifier, &QWinEventNotifier::activated, [this] { notified(); });
        QObject::connect(m_writeNotifier, &QWinEventNotifier::activated, [this] { notified(); });
    }
    return 0;
}

void WinSerialPort::close() {
    delete m_eventNotifier;
    m_eventNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_io) {
        endPendingIo();
        CloseHandle(m_io->port);
        for (OVERLAPPED *operation : {&m_io->read, &m_io->write, &m_io->event}) {
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
    m_io->purged = true;
    if (!PurgeComm(m_io->port, PURGE_RXABORT | PURGE_RXCLEAR))
        fail();
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
    COMSTAT status{};
    DWORD errors = 0;
    if (m_failed || !ClearCommError(m_io->port, &errors, &status)) {
        fail();
        return 0;
    }
    // While a write is pending, its bytes may be counted in the driver's queue already.
    const qsizetype driver = m_io->writePending
                                 ? std::max(m_writing.size(), qsizetype(status.cbOutQue))
                                 : qsizetype(status.cbOutQue);
    return int(queuedBytes() + driver);
}

void WinSerialPort::discardOutput() {
    if (!isOpen())
        return;
    m_out.truncate(0);
    m_outFrom = 0;
    if (m_failed)
        return;
    m_io->purged = true;
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
    if (m_io->eventPending)
        events[count++] = m_io->event.hEvent;
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
    return isOpen() && m_eventNotifier != nullptr;
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
    Io &io = *m_io;
    if (io.eventPending) {
        DWORD n = 0;
        if (GetOverlappedResult(io.port, &io.event, &n, FALSE)) {
            io.eventPending = false;
        } else if (const DWORD error = GetLastError(); error != ERROR_IO_INCOMPLETE) {
            io.eventPending = false;
            if (error != ERROR_OPERATION_ABORTED || !io.purged) {
                fail(); // the device has gone away under the wait
                return true;
            }
        }
    }
    const bool went = pushOutput();
    bool came = !m_failed && takeIn();
    if (!m_failed)
        came = armEventWait() || came;
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
    for (int turn = 0; turn < kTurnsInARow; ++turn) {
        COMSTAT status{};
        DWORD errors = 0; // line errors (framing, parity, overrun) leave the port usable
        if (!ClearCommError(io.port, &errors, &status)) {
            fail();
            return came;
        }
        // A read asks for no more than the driver holds: some drivers keep a read of an empty
        // queue pending in spite of the timeouts.
        const DWORD want = status.cbInQue;
        if (want == 0)
            break;
        if (m_inFrom == m_in.size()) {
            m_in.truncate(0);
            m_inFrom = 0;
        } else if (m_inFrom >= 65536) {
            m_in.remove(0, m_inFrom);
            m_inFrom = 0;
        }
        const qsizetype before = m_in.size();
        m_in.resize(before + qsizetype(want));
        DWORD n = 0;
        DWORD error = 0;
        if (!ReadFile(io.port, m_in.data() + before, want, nullptr, &io.read) &&
            GetLastError() != ERROR_IO_PENDING)
            error = GetLastError();
        else
            error = AwaitEnd(io.port, io.read, n);
        m_in.truncate(before + qsizetype(std::min(n, want)));
        if (error != 0) {
            fail();
            return came;
        }
        came = came || n > 0;
        if (n < want)
            break; // the rest comes at the next look
    }
    return came;
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

bool WinSerialPort::armEventWait() {
    Io &io = *m_io;
    bool came = false;
    for (int turn = 0; turn < kTurnsInARow && !io.eventPending && !m_failed; ++turn) {
        ResetEvent(io.event.hEvent);
        io.eventMask = 0;
        io.purged = false;
        if (WaitCommEvent(io.port, &io.eventMask, &io.event)) {
            ResetEvent(io.event.hEvent);
            came = takeIn() || came; // it happened already
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            fail();
            return came;
        }
        io.eventPending = true;
    }
    if (!io.eventPending && !m_failed)
        SetEvent(io.event.hEvent); // try again at the next turn of the event loop
    return came;
}

void WinSerialPort::fail() {
    if (m_failed)
        return;
    m_failed = true;
    m_out.truncate(0);
    m_outFrom = 0;
    endPendingIo();
    m_writing.clear();
    if (m_eventNotifier)
        m_eventNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void WinSerialPort::endPendingIo() {
    Io &io = *m_io;
    if (!io.writePending && !io.eventPending)
        return;
    CancelIoEx(io.port, nullptr);
    DWORD n = 0;
    if (io.writePending)
        GetOverlappedResult(io.port, &io.write, &n, TRUE);
    if (io.eventPending)
        GetOverlappedResult(io.port, &io.event, &n, TRUE);
    io.writePending = false;
    io.eventPending = false;
}
