#include "kernel_stream.h"

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
    int16_t result = LinkOk;
};

// Bytes [from, to) of `buffer`, up to `w.most` in flight, every echo compared in order. When the
// window is full and the line has run dry before the next echo came, the adapter holds echoes
// longer than the length bytes showed: the window grows by the bytes the line could have sent.
void SendWindowed(const QByteArray &buffer, qsizetype from, qsizetype to, double frame, Window &w) {
    LinkClock &clock = CurrentLinkClock();
    PairReport report;
    w.sent = w.echoed = from;
    double lineFree = 0; // when the line will have sent every byte handed to the port
    QByteArray echoes;
    while (w.echoed < to) {
        const qsizetype room = std::min<qsizetype>(w.most - (w.sent - w.echoed), to - w.sent);
        if (room > 0) {
            if ((w.result = SendBytes(buffer.mid(w.sent, room))) != LinkOk)
                return;
            lineFree = std::max(lineFree, clock.now()) + double(room) * frame;
            w.sent += room;
        }
        const bool full = w.sent - w.echoed >= w.most && w.sent < to;
        if ((w.result = ReceiveWaiting(echoes, int(w.sent - w.echoed))) != LinkOk)
            return;
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
    if (w.result != LinkOk)
        return w.result;
    if (restored != 0) {
        gRunErrNo = static_cast<int16_t>(restored);
        return LinkFault;
    }
    return SendLockStep(buffer, last, buffer.size(), nullptr);
}
