#include "history.h"

#include "adapter_info.h"
#include "number_text.h"
#include "system_serial_port.h"
#include "shared_state.h"
#include "text_file.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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
                                "seconds"};

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

#ifndef Q_OS_WIN
// The longest a run waits for another run's lock on the history; then it only appends its line.
constexpr std::chrono::milliseconds kLockWait(200);
constexpr useconds_t kLockPauseUs = 10000;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the history for appending without following a link and without waiting on a pipe or
// a device; the opened file must be a regular file. The descriptor, or -1 with `why` set.
int openHistory(const QString &path, int flags, QString &why) {
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(),
               flags | O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ELOOP)
            why = QStringLiteral("%1 is a symbolic link, not written through").arg(path);
        else if (errno == EISDIR || errno == ENXIO) // a folder; a pipe nobody reads
            why = QStringLiteral("%1 is not a regular file, not written").arg(path);
        else
            why = QStringLiteral("%1: %2").arg(path, systemError(errno));
        return -1;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        why = QStringLiteral("%1 is not a regular file, not written").arg(path);
        return -1;
    }
    return fd;
}

// openHistory, then the file locked against other runs ending at the same moment in the same
// folder (only the holder of the lock writes a header or moves a full file aside), and still
// the file at `path` once the lock is held: another run may have moved it aside meanwhile.
// `locked` says whether the lock was taken before `deadline`; a file whose lock stayed taken is
// handed back all the same, to append the line alone.
int openLocked(const QString &path, const QDeadlineTimer &deadline, bool &locked,
               struct stat &status, QString &why) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = openHistory(path, O_CREAT, why);
        if (fd < 0)
            return -1;
        while (!(locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0) && !deadline.hasExpired())
            ::usleep(kLockPauseUs);
        struct stat named = {};
        ::fstat(fd, &status);
        if (!locked || (::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
                        named.st_ino == status.st_ino && named.st_dev == status.st_dev))
            return fd;
        ::close(fd);
    }
    why = QStringLiteral("%1 kept being replaced, not written").arg(path);
    return -1;
}

// Writes the bytes whole or not at all: a write cut short (a full disk) is taken back, so that
// the file ends as it did before and the next line does not run on from half of this one. `why`
// says why it failed.
bool writeWhole(int fd, const QByteArray &bytes, QString &why) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            done += n;
            continue;
        }
        why = systemError(n < 0 ? errno : ENOSPC);
        // Appending leaves the offset at the end of what went in: the line began `done` before.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        struct stat status = {};
        if (done > 0 && end >= done && ::fstat(fd, &status) == 0 && status.st_size == end &&
            ::ftruncate(fd, end - done) == 0)
            ::fsync(fd);
        return false;
    }
    if (::fsync(fd) != 0) {
        why = systemError(errno);
        return false;
    }
    return true;
}

#endif

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
                    QString::number(r.seconds, 'f', 1)});
}

#ifndef Q_OS_WIN
QString AppendHistory(const QString &path, const RunRecord &record) {
    const QByteArray line = HistoryLine(record);
    const QDeadlineTimer deadline(kLockWait);
    bool locked = false;
    QString why;
    struct stat status = {};
    int fd = openLocked(path, deadline, locked, status, why);
    if (fd < 0)
        return why;
    if (locked && status.st_size > 0 && status.st_size + line.size() > kHistoryLimit) {
        // Full: the file moves aside and a new one starts. When it cannot move, the line still
        // goes into it rather than nowhere.
        const QString previous = path + QStringLiteral(".1");
        if (::rename(QFile::encodeName(path).constData(),
                     QFile::encodeName(previous).constData()) == 0) {
            ::close(fd);
            fd = openLocked(path, deadline, locked, status, why);
            if (fd < 0)
                return why;
        } else {
            why = QStringLiteral("%1 could not be moved to %2 (%3); the line went into the full "
                                 "file")
                      .arg(path, previous, systemError(errno));
        }
    }
    // Without the lock a new file is left to the run that holds it, so that the header stands
    // first.
    if (!locked && status.st_size == 0) {
        ::close(fd);
        return QStringLiteral("%1 is busy: another run holds it, the line was not written")
            .arg(path);
    }
    const bool start = locked && status.st_size == 0;
    const QByteArray bytes = (start ? HistoryHeader() : QByteArray()) + line;
    if (QString failure; !writeWhole(fd, bytes, failure))
        why = QStringLiteral("%1: %2, the line was not written").arg(path, failure);
    ::close(fd); // and the lock with it
    return why;
}
#else
// Without links to refuse at the open, the file is judged by name, then opened for appending.
QString AppendHistory(const QString &path, const RunRecord &record) {
    const QByteArray line = HistoryLine(record);
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("%1 is a symbolic link, not written through").arg(path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 is not a regular file, not written").arg(path);
    QString why;
    if (info.size() > 0 && info.size() + line.size() > kHistoryLimit) {
        const QString previous = path + QStringLiteral(".1");
        QFile::remove(previous);
        if (!QFile::rename(path, previous))
            why = QStringLiteral("%1 could not be moved to %2; the line went into the full file")
                      .arg(path, previous);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    const qint64 before = file.size();
    const QByteArray bytes = (before == 0 ? HistoryHeader() : QByteArray()) + line;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        why = QStringLiteral("%1: %2, the line was not written").arg(path, file.errorString());
        file.resize(before); // a line goes in whole or not at all
    }
    return why;
}
#endif

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
    if (obtained || (outcome == u"failed" && gErrNo == 370))
        r.checksum = Hex4(static_cast<uint32_t>(gObtainedCheckSum));
    if (!gHistory)
        return {};
    return AppendHistory(AppFilePath(QString::fromLatin1(kHistoryFileName)), r);
}
