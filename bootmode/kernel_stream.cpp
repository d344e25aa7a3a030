#include "kernel_stream.h"

#include "error_notes.h"
#include "line_settings.h"
#include "link.h"
#include "link_clock.h"
#include "link_observer.h"
#include "serial_port.h"
#include "shared_state.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Fewest bytes in flight, whatever the round trip: a line without an adapter still overlaps the
// echo of one byte with the next bytes.
constexpr int kMinStreamWindow = 4;

QString LineText(const QString &stopBits) {
    return gBitRate + u',' + gParity + u',' + gDataBits + u',' + stopBits;
}

// Seconds one character takes on the line with two stop bits.
double FrameSeconds(const LineSettings &line) {
    const int bits = 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + 2;
    return double(bits) / double(line.bitRate);
}

// While bytes are in flight the link's observer (the trace) sees each byte together with its
// echo, once the echo has been compared, as it sees the pairs of the lock-step transfer; what
// the port does meanwhile (a close on a second Ctrl-C) still reaches it.
class PairReport : public LinkObserver {
public:
    PairReport() : m_watcher(gLinkObserver) {
        if (m_watcher)
            gLinkObserver = this;
    }
    ~PairReport() override {
        if (m_watcher)
            gLinkObserver = m_watcher;
    }
    PairReport(const PairReport &) = delete;
    PairReport &operator=(const PairReport &) = delete;

    void pair(uint8_t sent, uint8_t echo) {
        if (!m_watcher)
            return;
        m_watcher->onSend(QByteArray(1, static_cast<char>(sent)));
        m_watcher->onReceive(QByteArray(1, static_cast<char>(echo)));
    }
    void onOpen(int port, const QString &settings, int result) override {
        m_watcher->onOpen(port, settings, result);
    }
    void onClose() override { m_watcher->onClose(); }
    void onNote(const QString &text) override { m_watcher->onNote(text); }
    void onRunEnd(bool ok) override { m_watcher->onRunEnd(ok); }

private:
    LinkObserver *m_watcher;
};

void Note(const QString &text) {
    if (gLinkObserver)
        gLinkObserver->onNote(text);
}

// Bytes [from, to) of `buffer` lock-step, each awaiting its echo.
int16_t SendLockStep(const QByteArray &buffer, qsizetype from, qsizetype to, double *roundTrip) {
    LinkClock &clock = CurrentLinkClock();
    for (qsizetype i = from; i < to; ++i) {
        const double sentAt = clock.now();
        const int16_t result = SendByteEcho(static_cast<uint8_t>(buffer[i]));
        if (result != LinkOk)
            return result;
        if (roundTrip)
            *roundTrip = std::max(*roundTrip, clock.now() - sentAt);
        gByteCount = static_cast<int32_t>(i + 1);
    }
    return LinkOk;
}

struct Window {
    qsizetype sent = 0;   // bytes handed to the port
    qsizetype echoed = 0; // bytes whose echo matched
    int most = 0;         // bytes allowed in flight
    double late = 0;      // seconds without an echo after which the chip has stopped echoing
    bool stalled = false; // it has: the transfer gave up before the deadline
    int16_t result = LinkOk;
};

// An echo later than the line and the adapter explain by far: the chip has stopped echoing
// (its receiver overran, and it waits for bytes that were lost). Twenty characters on the line
// and four round trips, and never less than half a second.
double LateEchoSeconds(double frame, double roundTrip) {
    return std::max(0.5, 20.0 * frame + 4.0 * roundTrip);
}

// ReceiveWaiting with the deadline drawn in to `lateAt` when that comes first; `stalled` tells
// that the wait gave up there, not at the exchange's own deadline or on Stop.
int16_t ReceiveEchoes(QByteArray &echoes, int most, double lateAt, bool &stalled) {
    const double deadline = gDeadline;
    const bool armed = gTimeoutActive;
    const bool drawnIn = !armed || lateAt < deadline;
    if (drawnIn) {
        gDeadline = lateAt;
        gTimeoutActive = true;
    }
    const int16_t result = ReceiveWaiting(echoes, most);
    gDeadline = deadline;
    gTimeoutActive = armed;
    stalled = drawnIn && result == LinkTimeout && !gStopRequested;
    return result;
}

// Bytes [from, to) of `buffer`, up to `w.most` in flight, every echo compared in order. When the
// window is full and the line has run dry before the next echo came, the adapter holds echoes
// longer than the length bytes showed: the window grows by the bytes the line could have sent.
void SendWindowed(const QByteArray &buffer, qsizetype from, qsizetype to, double frame, Window &w) {
    LinkClock &clock = CurrentLinkClock();
    PairReport report;
    w.sent = w.echoed = from;
    double lineFree = 0;           // when the line will have sent every byte handed to the port
    double lastEcho = clock.now(); // when the chip last echoed, or bytes went into an empty line
    QByteArray echoes;
    while (w.echoed < to) {
        const qsizetype room = std::min<qsizetype>(w.most - (w.sent - w.echoed), to - w.sent);
        if (room > 0) {
            if (w.sent == w.echoed)
                lastEcho = clock.now();
            if ((w.result = SendBytes(buffer.mid(w.sent, room))) != LinkOk)
                return;
            lineFree = std::max(lineFree, clock.now()) + double(room) * frame;
            w.sent += room;
        }
        const bool full = w.sent - w.echoed >= w.most && w.sent < to;
        if ((w.result = ReceiveEchoes(echoes, int(w.sent - w.echoed), lastEcho + w.late,
                                      w.stalled)) != LinkOk)
            return;
        lastEcho = clock.now();
        if (const double idle = clock.now() - lineFree; full && idle > frame)
            w.most = std::min(kMaxStreamWindow, w.most + int(std::ceil(idle / frame)));
        for (const char echo : std::as_const(echoes)) {
            const char sent = buffer[w.echoed];
            report.pair(static_cast<uint8_t>(sent), static_cast<uint8_t>(echo));
            if (echo != sent) {
                w.result = LinkMismatch;
                return;
            }
            gByteCount = static_cast<int32_t>(++w.echoed);
        }
    }
}

} // namespace

int16_t StreamKernel(const QByteArray &buffer) {
    const qsizetype last = buffer.size() - 1;
    double roundTrip = 0;
    if (const int16_t result = SendLockStep(buffer, 0, std::min<qsizetype>(2, last), &roundTrip);
        result != LinkOk || last <= 2)
        return result != LinkOk ? result : SendLockStep(buffer, 2, buffer.size(), nullptr);

    // Two stop bits: the boot program's receiver checks only the first, so it sees its 8N1
    // characters with an idle bit between them, and its echoes (ten bits each) leave faster than
    // the host's eleven-bit characters arrive unless its clock is over 9 % slow. Back to back,
    // a receiver of one data register and one shift register overruns as soon as its clock is
    // a little slow.
    const QString paced = LineText(QStringLiteral("2"));
    const QString described = LineText(gStopBits);
    LineSettings line;
    if (ParseLineSettings(paced, line) != 0 || !gComm || gComm->setLineSettings(paced) != 0) {
        Note(QStringLiteral("streamed kernel transfer: the port refused %1, lock-step instead")
                 .arg(paced));
        return SendLockStep(buffer, 2, buffer.size(), nullptr);
    }
    const double frame = FrameSeconds(line);
    Window w;
    w.most =
        std::clamp(int(std::ceil(2.0 * roundTrip / frame)) + 2, kMinStreamWindow, kMaxStreamWindow);
    w.late = LateEchoSeconds(frame, roundTrip);
    Note(QStringLiteral("streamed kernel transfer at %1: up to %2 bytes in flight (length echoed "
                        "after %3 ms)")
             .arg(paced)
             .arg(w.most)
             .arg(roundTrip * 1000.0, 0, 'f', 1));
    const int firstWindow = w.most;
    SendWindowed(buffer, 2, last, frame, w);

    // What has not left yet stays unsent; the line goes back to the description's settings.
    if (w.result != LinkOk && gComm->isOpen())
        gComm->discardOutput();
    const int restored = gComm->isOpen() ? gComm->setLineSettings(described) : 0;
    QString end = w.result == LinkOk
                      ? QStringLiteral("streamed kernel transfer: every echo matched")
                      : QStringLiteral("streamed kernel transfer stopped: %1 bytes sent, %2 "
                                       "echoed correctly, the last kernel byte not sent")
                            .arg(w.sent)
                            .arg(w.echoed);
    if (w.most != firstWindow)
        end += QStringLiteral("; the window grew to %1 bytes").arg(w.most);
    end += restored == 0
               ? QStringLiteral("; line back to %1").arg(described)
               : QStringLiteral("; the port refused %1 (code %2)").arg(described).arg(restored);
    Note(end);
    if (w.stalled) {
        const QString stalled =
            QStringLiteral("the chip stopped echoing during a streamed transfer (no echo for "
                           "%1 s with %2 bytes in flight); the last kernel byte was not sent%3. "
                           "Reset the device into boot mode and download again with STREAM 0 "
                           "in QARN.ini (qarnctl: without --stream), which transfers the kernel "
                           "safely, one byte at a time")
                .arg(w.late, 0, 'f', 2)
                .arg(w.sent - w.echoed)
                .arg(gSeqType == 1 ? QString()
                                   : QStringLiteral(", so the boot program did not start it and "
                                                    "nothing was erased"));
        NoteFailureCause(stalled);
    }
    if (w.result != LinkOk)
        return w.result;
    if (restored != 0) {
        gRunErrNo = static_cast<int16_t>(restored);
        return LinkFault;
    }
    return SendLockStep(buffer, last, buffer.size(), nullptr);
}
