#include "history.h"

#include "adapter_info.h"
#include "history_file.h"
#include "number_text.h"
#include "shared_state.h"
#include "system_serial_port.h"
#include "text_file.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstdlib>

namespace {

// The longest a run waits for another run's lock on the history; then it only appends its line.
constexpr std::chrono::milliseconds kLockWait(200);

const char *const kColumns[] = {"date",
                                "tool",
                                "command",
                                "firmware",
                                "port",
                                "device",
                                "adapter driver",
                                "adapter vendor:product",
                                "adapter serial",
                                "boot bit rate",
                                "data bit rate",
                                "outcome",
                                "error",
                                "checksum",
                                "FCS",
                                "seconds",
                                "kernel SHA-256",
                                "image SHA-256"};

// A field as a spreadsheet reads it back: quoted, with its quotes doubled, when it holds a
// separator, a quote, a line end or blanks at either end. A text that a spreadsheet would take
// for a formula (a model name from the host's files, an adapter's serial number) is kept as
// text behind an apostrophe.
QByteArray csvField(const QString &text) {
    QByteArray field = text.toUtf8();
    if (!field.isEmpty() && QByteArray("=+-@\t\r").contains(field[0]))
        field.prepend('\'');
    const bool quote = field.contains(',') || field.contains('"') || field.contains('\r') ||
                       field.contains('\n') || text != text.trimmed();
    if (!quote)
        return field;
    return '"' + field.replace('"', "\"\"") + '"';
}

QByteArray csvLine(const QStringList &fields) {
    QByteArrayList line;
    for (const QString &field : fields)
        line << csvField(field);
    return line.join(',') + "\r\n";
}

// A checksum as text that no spreadsheet takes for a number: a bare 10E6 reads as 1.00E+07 and
// 0123 as 123.
QString sumText(const QString &hex) {
    return hex.isEmpty() ? hex : QStringLiteral("0x") + hex;
}

// Local date and time with the offset from UTC: 2026-12-07T19:20:47+01:00.
QString localTimeText(const QDateTime &time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(QChar(offset < 0 ? u'-' : u'+'))
               .arg(minutes / 60, 2, 10, QChar(u'0'))
               .arg(minutes % 60, 2, 10, QChar(u'0'));
}

// Whether the file at `path` begins with this layout's header (read while the lock is held, so
// that a file being started is whole).
bool startsWithHeader(const QString &path) {
    const QByteArray header = HistoryHeader();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(header.size()) == header;
}

// Where a file of another layout goes: beside the rotated one, never over it or over an
// earlier file of another layout, so that no record of an older version is lost.
QString freeOlderLayoutName(const QString &path) {
    QString name = path + QStringLiteral(".old");
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = path + QStringLiteral(".old%1").arg(n);
    return name;
}

} // namespace

QByteArray HistoryHeader() {
    QStringList names;
    for (const char *name : kColumns)
        names << QString::fromLatin1(name);
    return "\xEF\xBB\xBF" + csvLine(names); // the byte-order mark tells Excel it is UTF-8
}

QByteArray HistoryLine(const RunRecord &r) {
    return csvLine({localTimeText(r.started), r.tool, r.command, r.firmware, r.port, r.device,
                    r.adapterDriver, r.adapterId, r.adapterSerial, r.bootBitRate, r.dataBitRate,
                    r.outcome, QString::number(r.errNo), sumText(r.checksum), sumText(r.fcs),
                    QString::number(r.seconds, 'f', 1), r.kernelSha256, r.imageSha256});
}

QString AppendHistory(const QString &path, const RunRecord &record) {
    const QByteArray line = HistoryLine(record);
    const QDeadlineTimer deadline(kLockWait);
    QString why;
    HistoryFile file;
    if (!file.open(path, deadline, why))
        return why;
    // A file of another layout: its lines cannot take this one.
    const bool otherLayout = file.size() > 0 && !startsWithHeader(path);
    if (!file.locked() && otherLayout)
        return QStringLiteral("%1 is busy and has an older header: another run holds it, the "
                              "line was not written")
            .arg(path);
    if (file.locked() && file.size() > 0 &&
        (otherLayout || file.size() + line.size() > kHistoryLimit)) {
        // Full, or of another layout: the file moves aside and a new one starts. When it cannot
        // move, a full file still takes the line rather than nowhere; one of another layout does
        // not.
        const QString previous =
            otherLayout ? freeOlderLayoutName(path) : path + QStringLiteral(".1");
        if (const QString failure = MoveHistoryAside(path, previous); failure.isEmpty()) {
            if (!file.open(path, deadline, why))
                return why;
        } else if (otherLayout) {
            return QStringLiteral("%1 has an older header and could not be moved to %2 (%3); the "
                                  "line was not written")
                .arg(path, previous, failure);
        } else {
            why = QStringLiteral("%1 could not be moved to %2 (%3); the line went into the full "
                                 "file")
                      .arg(path, previous, failure);
        }
    }
    // Without the lock a new file is left to the run that holds it, so that the header stands
    // first.
    if (!file.locked() && file.size() == 0)
        return QStringLiteral("%1 is busy: another run holds it, the line was not written")
            .arg(path);
    const bool start = file.locked() && file.size() == 0;
    const QByteArray bytes = (start ? HistoryHeader() : QByteArray()) + line;
    if (QString failure; !file.append(bytes, failure))
        why = QStringLiteral("%1: %2, the line was not written").arg(path, failure);
    return why; // the file closes, and the lock goes with it
}

RunHistory::RunHistory(const QString &tool, const QString &command, const QString &firmware,
                       const QString &sysfs) {
    m_timer.start();
    RunRecord &r = m_record;
    r.started = QDateTime::currentDateTime();
    r.tool = tool;
    r.command = command;
    r.firmware = firmware;
    r.bootBitRate = gBitRate;
    r.dataBitRate = gBitRate2;
    r.fcs = gFlashCheckSum;
    // The run reads the files anew: no fingerprint of an earlier run stays behind.
    gKernelSha256.clear();
    gImageSha256.clear();
    if (gComm == nullptr || gPrototype != 0 || gPort.isEmpty())
        return; // the simulated run uses no port
    r.port = QStringLiteral("COM") + gPort;
    const std::optional<int16_t> port = ToInt16(gPort);
    r.device = port ? SystemSerialPort::portLocation(*port) : QString();
    if (r.device.isEmpty())
        return;
    const AdapterInfo adapter = ReadAdapterInfo(sysfs, QFileInfo(r.device).fileName());
    if (!adapter.usb)
        return;
    r.adapterDriver = adapter.driver;
    r.adapterId = adapter.vendorId + u':' + adapter.productId;
    r.adapterSerial = adapter.serial;
}

QString RunHistory::finish(const QString &outcome) {
    RunRecord &r = m_record;
    r.seconds = double(m_timer.elapsed()) / 1000.0;
    r.outcome = outcome;
    const bool obtained = outcome == u"ok" || outcome == u"matches" || outcome == u"differs";
    // A stopped run failed nothing: the step's provisional number would read as a time-out.
    r.errNo = obtained || outcome == u"simulated" || outcome == u"stopped" ? 0 : gErrNo;
    r.kernelSha256 = gKernelSha256;
    r.imageSha256 = gImageSha256;
    if (obtained || (outcome == u"failed" && gErrNo == 370))
        r.checksum = Hex4(static_cast<uint32_t>(gObtainedCheckSum));
    if (!gHistory)
        return {};
    return AppendHistory(AppFilePath(QString::fromLatin1(kHistoryFileName)), r);
}
