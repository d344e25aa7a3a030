#include "doctor_probe.h"

#include "download_steps.h"
#include "error_messages.h"
#include "link.h"
#include "link_observer.h"
#include "system_serial_port.h"
#include "shared_state.h"
#include "trace.h"

#include <QElapsedTimer>

namespace {

// Counts what the adjustment sends and keeps what it receives.
class ProbeWatch : public LinkObserver {
public:
    void onSend(const QByteArray &bytes) override { sent += bytes.size(); }
    void onReceive(const QByteArray &bytes) override { received += bytes; }

    qsizetype sent = 0;
    QByteArray received;
};

const char kRestart[] = "Restart the device in boot mode before a download: the probe has "
                        "used up its bit-rate adjustment.";

} // namespace

ProbeResult ProbeBootProgram() {
    ProbeResult result;
    SystemSerialPort serial;
    gComm = &serial;
    gStopRequested = false;
    ProbeWatch watch;
    ScopedLinkObserver watching(&watch);
    if (!OpenBootPort()) {
        gComm = nullptr;
        result.found = QStringLiteral("the port does not open: E%1 %2")
                           .arg(gErrNo)
                           .arg(GetErrorMessage(gErrNo).simplified());
        result.advice = QStringLiteral("see the checks above");
        return result;
    }
    QElapsedTimer clock;
    clock.start();
    result.ok = AdjBitRate();
    const double seconds = clock.elapsed() / 1000.0;
    ClosePort();
    gComm = nullptr;

    const QString rate = gBitRate;
    const QString sent = QStringLiteral("%1 byte%2 of 00 sent")
                             .arg(watch.sent)
                             .arg(watch.sent == 1 ? QString() : QStringLiteral("s"));
    const QString after = QString::number(seconds, 'f', 2);
    QString advice;
    if (result.ok) {
        result.found = QStringLiteral("the boot program answered 00 at %1 bit/s after %2 s (%3)")
                           .arg(rate, after, sent);
    } else if (gErrNo == 302) {
        result.found = QStringLiteral("no answer within %1 s (ATO) at %2 bit/s (%3): E302")
                           .arg(double(gAdjustTimeout))
                           .arg(rate, sent);
        advice = QStringLiteral("check the cable and the device's power, and that the device is "
                                "in boot mode (the Start LED of the control box). ");
    } else if (gErrNo == 303) {
        result.found =
            QStringLiteral("the boot program answered %1 instead of 00 at %2 bit/s after %3 s "
                           "(%4): E303")
                .arg(QString::fromLatin1(watch.received.right(1).toHex().toUpper()), rate, after,
                     sent);
        advice = QStringLiteral("the boot bit rate (BRATE) may not suit this device, or the "
                                "description belongs to another model. ");
    } else {
        result.found = QStringLiteral("the answer to the 00 pattern was cut off after %1 s (%2): "
                                      "E%3")
                           .arg(after, sent)
                           .arg(gErrNo);
        advice = QStringLiteral("check the cable and the adapter. ");
    }
    result.advice = advice + QString::fromLatin1(kRestart);
    return result;
}
