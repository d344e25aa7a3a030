#include "link.h"

#include "link_clock.h"
#include "link_observer.h"
#include "number_text.h"
#include "run_errors.h"
#include "serial_port.h"
#include "shared_state.h"

#include <algorithm>
#include <cmath>

LinkObserver *gLinkObserver = nullptr;

namespace {

// The port number from gPort: a decimal 16-bit number. Text that is no number is a type
// mismatch; a number beyond 16 bits an overflow.
int PortNumber(int &failure) {
    failure = 0;
    const std::optional<double> value = ToNumber(gPort);
    if (!value) {
        failure = RunError::TypeMismatch;
        return 0;
    }
    const std::optional<int16_t> port = ToInt16(gPort);
    if (!port) {
        failure = RunError::Overflow;
        return 0;
    }
    return *port;
}

QString SettingsText() {
    return gBitRate + u',' + gParity + u',' + gDataBits + u',' + gStopBits;
}

bool PortUsable(SerialPortInterface *port) {
    return port && port->isOpen() && !port->hasFailed();
}

// Notes why the port can no longer be used.
void NotePortLost() {
    gRunErrNo = RunError::PortNotOpen;
}

// Hands the observer what the port's last open or close did beyond the line settings.
void PassPortNote() {
    if (const QString note = gComm->note(); !note.isEmpty())
        gLinkObserver->onNote(note);
}

// When the waits last served window events, on the link clock (where they block on the port).
double lastServed = 0;

// Blocks until the port has something to say, a window event or the end of `limit`, and serves
// the window events that came. Where the port wakes the event loop, a single wait in the event
// loop does both, and every window event is served the moment it comes (a screen reader makes
// dozens of round trips to read the window). Elsewhere the wait blocks on the port and serves
// window events between blocks whenever kLinkServeEvery has passed since they were last served.
void WaitForPortOrEvents(SerialPortInterface *port, std::chrono::milliseconds limit) {
    LinkClock &clock = CurrentLinkClock();
    if (port->wakesEventLoop() && clock.waitForEvents(limit))
        return;
    const double serveEvery = std::chrono::duration<double>(kLinkServeEvery).count();
    const double now = clock.now();
    // A clock that went back (another clock installed) serves at once.
    if (now - lastServed >= serveEvery || now < lastServed) {
        clock.processEvents();
        lastServed = clock.now();
        return; // an event may have pressed Stop, or the port may have failed
    }
    const auto untilServe =
        std::chrono::milliseconds(int((lastServed + serveEvery - now) * 1000.0) + 1);
    port->waitForActivity(std::min({limit, kLinkWaitSlice, untilServe}));
}

// How long a wait may block: up to the deadline when one is armed, and never longer than
// kLinkLongestWait, so that nothing is missed for long if a wake-up is.
std::chrono::milliseconds WaitLimit(double now) {
    if (!gTimeoutActive)
        return kLinkLongestWait;
    const double left = std::max(0.0, gDeadline - now);
    return std::min(kLinkLongestWait, std::chrono::milliseconds(int(left * 1000.0) + 1));
}

// Waits until at least one byte is waiting. LinkOk, LinkTimeout (deadline with no byte waiting,
// or Stop) or LinkFault (the port is gone).
int16_t WaitForData() {
    SerialPortInterface *port = gComm;
    LinkClock &clock = CurrentLinkClock();
    // Where the event loop takes arriving bytes in, the wait finds bytes still in the device at
    // once, and the device itself is looked at only before giving up: a reply that came while
    // nothing was served counts even when the deadline has passed meanwhile, and a line found
    // gone then is why no reply came.
    const bool eventLoop = port && port->wakesEventLoop();
    for (;;) {
        const double now = clock.now();
        const bool givingUp = (gTimeoutActive && now > gDeadline) || gStopRequested;
        if (PortUsable(port) &&
            (eventLoop && !givingUp ? port->heldCount() : port->inBufferCount()) >= 1)
            return LinkOk;
        if (!PortUsable(port)) {
            NotePortLost();
            return LinkFault;
        }
        if (givingUp)
            return LinkTimeout;
        WaitForPortOrEvents(port, WaitLimit(now));
    }
}

} // namespace

int16_t OpenPort() {
    gFuncName = QStringLiteral("OpenPort");
    gRunErrNo = 0;

    int failure = 0;
    const int portNumber = PortNumber(failure);
    const QString settings = SettingsText();
    if (failure == 0) {
        failure = gComm ? gComm->open(portNumber, settings) : RunError::InvalidPortNumber;
    }
    if (gLinkObserver) {
        gLinkObserver->onOpen(portNumber, settings, failure);
        if (failure == 0)
            PassPortNote();
    }
    if (failure == 0) {
        gFuncName.clear();
        return 0;
    }
    if (failure == RunError::InvalidPortNumber)
        return 255;
    gRunErrNo = static_cast<int16_t>(failure);
    return 99;
}

bool OpenBootPort() {
    const int16_t result = OpenPort();
    if (result == 0) {
        gErrNo = 0;
        return true;
    }
    gErrNo = result == 255 ? 301 : 300;
    return false;
}

bool OpenDataPort() {
    gBitRate = gBitRate2;
    const int16_t result = OpenPort();
    if (result == 0) {
        gErrNo = 0;
        return true;
    }
    gErrNo = result == 255 ? 331 : 330;
    return false;
}

void ClosePort() {
    if (gComm && gComm->isOpen()) {
        gComm->close();
        if (gLinkObserver) {
            gLinkObserver->onClose();
            PassPortNote();
        }
    }
}

int16_t SendByte(uint8_t byte) {
    return SendBytes(QByteArray(1, static_cast<char>(byte)));
}

int16_t SendByteEcho(uint8_t byte) {
    if (SendByte(byte) != LinkOk)
        return LinkFault;
    const int16_t waited = WaitForData();
    if (waited != LinkOk)
        return waited;
    const int echo = gComm->readByte();
    if (echo < 0) {
        NotePortLost();
        return LinkFault;
    }
    if (gLinkObserver)
        gLinkObserver->onReceive(QByteArray(1, static_cast<char>(echo)));
    // Anything else waiting stays in the input buffer.
    return echo == byte ? LinkOk : LinkMismatch;
}

int16_t SendBlock(const QByteArray &bytes) {
    if (gLinkObserver)
        gLinkObserver->onSend(bytes);
    SerialPortInterface *port = gComm;
    if (!PortUsable(port)) {
        NotePortLost();
        return LinkFault;
    }
    if (const int code = port->write(bytes); code != 0) {
        gRunErrNo = static_cast<int16_t>(code);
        return LinkFault;
    }
    // A line that stops taking bytes (a frozen adapter, a target hung mid-block) ends the wait at
    // the deadline or on Stop. What is left unsent goes, so that closing the port does not wait
    // for it.
    LinkClock &clock = CurrentLinkClock();
    while (PortUsable(port) && port->outBufferCount() > 0) {
        const double now = clock.now();
        if ((gTimeoutActive && now > gDeadline) || gStopRequested) {
            port->discardOutput();
            return LinkTimeout;
        }
        WaitForPortOrEvents(port, WaitLimit(now));
    }
    if (!PortUsable(port)) {
        NotePortLost();
        return LinkFault;
    }
    return LinkOk;
}

namespace {

// ReceiveBytes; `stored` tells how many bytes went into `buffer`.
int16_t Receive(QByteArray &buffer, qsizetype &stored) {
    const qsizetype n = buffer.size();
    stored = 0;
    while (stored < n) {
        const int16_t waited = WaitForData();
        if (waited != LinkOk)
            return waited;
        const int waiting = gComm->inBufferCount();
        for (int k = 0; k < waiting; ++k) {
            const int byte = gComm->readByte();
            if (byte < 0) {
                NotePortLost();
                return LinkFault;
            }
            if (gLinkObserver)
                gLinkObserver->onReceive(QByteArray(1, static_cast<char>(byte)));
            // A byte beyond the room left is taken from the port and lost.
            if (stored >= n)
                return LinkFault;
            buffer[stored++] = static_cast<char>(byte);
        }
    }
    return LinkOk;
}

} // namespace

int16_t ReceiveBytes(QByteArray &buffer) {
    qsizetype stored = 0;
    return Receive(buffer, stored);
}

ReplyEnd ReceiveReply(QByteArray &buffer) {
    qsizetype stored = 0;
    const int16_t result = Receive(buffer, stored);
    if (result == LinkOk)
        return ReplyEnd::Whole;
    if (result == LinkTimeout)
        return ReplyEnd::Timeout;
    // A fault with the buffer full is the byte that did not fit.
    return stored == buffer.size() ? ReplyEnd::Stray : ReplyEnd::Short;
}

uint8_t ReadByte() {
    const int byte = gComm ? gComm->readByte() : -1;
    if (byte < 0)
        return 0;
    if (gLinkObserver)
        gLinkObserver->onReceive(QByteArray(1, static_cast<char>(byte)));
    return static_cast<uint8_t>(byte);
}

void SettlePause() {
    LinkClock &clock = CurrentLinkClock();
    const std::optional<float> seconds = ToSingle(gWaitTime);
    const double pause = seconds && std::isfinite(*seconds) ? double(*seconds) : 0.0;
    const double end = clock.now() + pause;
    // Neither a Stop nor the deadline shortens the pause: the next wait gives up on a Stop.
    while (!(clock.now() > end)) {
        clock.processEvents();
        clock.sleep(std::chrono::milliseconds(100));
    }
}

void ArmDeadline(float seconds) {
    gDeadline = CurrentLinkClock().now() + double(seconds);
    gTimeoutActive = true;
}

int16_t SendBytes(const QByteArray &bytes) {
    if (gLinkObserver)
        gLinkObserver->onSend(bytes);
    if (!PortUsable(gComm)) {
        NotePortLost();
        return LinkFault;
    }
    if (const int code = gComm->write(bytes); code != 0) {
        gRunErrNo = static_cast<int16_t>(code);
        return LinkFault;
    }
    return LinkOk;
}

int16_t ReceiveWaiting(QByteArray &bytes, int most) {
    bytes.clear();
    const int16_t waited = WaitForData();
    if (waited != LinkOk)
        return waited;
    const int count = std::min(gComm->inBufferCount(), std::max(most, 1));
    for (int k = 0; k < count; ++k) {
        const int byte = gComm->readByte();
        if (byte < 0) {
            NotePortLost();
            bytes.clear();
            return LinkFault;
        }
        bytes.append(static_cast<char>(byte));
    }
    if (gLinkObserver && !bytes.isEmpty())
        gLinkObserver->onReceive(bytes);
    return LinkOk;
}
