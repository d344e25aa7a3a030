// The doctor's checks of a port on Linux: the device the number leads to, the account's rights
// on it, the processes and lock files that hold it, and the USB adapter behind it in sysfs.

#include "doctor_checks.h"

#include "adapter.h"
#include "adapter_info.h"
#include "host_lookup.h"
#include "number_text.h"
#include "port_lookup.h"
#include "run_errors.h"
#include "shared_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <sys/stat.h>

namespace doctor {

namespace {

class PortChecks {
public:
    PortChecks(const PortSetup &setup, QList<Check> &checks)
        : sysfs(setup.sysfs), proc(setup.proc), lockDirs(setup.lockDirs),
          lowLatency(setup.lowLatency), m_kernelBytes(setup.kernelBytes),
          m_kernelName(setup.kernelName), m_checks(checks) {}

    PortState run(int number) {
        if (!checkPort(number))
            return PortState::Missing;
        // Only opening the port waits until nothing stands in its way.
        const bool allowed = checkAccess();
        const bool free = checkBusy();
        checkAdapter(allowed && free);
        return allowed && free ? PortState::Usable : PortState::Unusable;
    }

private:
    void add(const QString &name, Status status, const QString &found, const QString &advice = {}) {
        m_checks.append(Check{name, status, found, advice});
    }

    bool checkPort(int number) {
        const QString name = QStringLiteral("port");
        const PortLookup lookup = LookUpPort(number);
        if (!lookup.problem.isEmpty()) {
            add(name, Status::Fail, lookup.problem, lookup.remedy);
            return false;
        }
        m_device = lookup.device;
        const QString &where = lookup.where;
        struct stat info = {};
        if (::stat(QFile::encodeName(m_device).constData(), &info) != 0 || !S_ISCHR(info.st_mode)) {
            add(name, Status::Fail,
                QStringLiteral("port %1 is %2, which is not a character device")
                    .arg(number)
                    .arg(where),
                QStringLiteral("link the port to the serial adapter: ") + lookup.relink);
            return false;
        }
        add(name, Status::Ok,
            QStringLiteral("port %1 is %2, a character device").arg(number).arg(where));
        return true;
    }

    bool checkAccess() {
        const QString name = QStringLiteral("access");
        struct stat info = {};
        ::stat(QFile::encodeName(m_device).constData(), &info);
        const Account account = ReadAccount(proc);
        const QString group = GroupName(info.st_gid);
        const bool member = account.groups.contains(info.st_gid);
        const auto may = [&](mode_t read, mode_t write) {
            return (info.st_mode & read) && (info.st_mode & write);
        };
        bool allowed = account.uid == 0;
        if (!allowed && account.uid == info.st_uid)
            allowed = may(S_IRUSR, S_IWUSR);
        else if (!allowed && member)
            allowed = may(S_IRGRP, S_IWGRP);
        else if (!allowed)
            allowed = may(S_IROTH, S_IWOTH);
        const QString found =
            QStringLiteral("%1 %2:%3, %4 is %5in %3")
                .arg(ModeText(info.st_mode), UserName(info.st_uid))
                .arg(group, account.name, member ? QString() : QStringLiteral("not "));
        if (allowed) {
            add(name, Status::Ok,
                QStringLiteral("%1 may read and write it (%2)").arg(account.name, found));
            return true;
        }
        const QString refused =
            QStringLiteral("%1 may not read and write it (%2)").arg(account.name, found);
        if (!may(S_IRGRP, S_IWGRP)) {
            add(name, Status::Fail, refused,
                QStringLiteral("let a group use it with a udev rule (GROUP=\"dialout\", "
                               "MODE=\"0660\"), then: sudo usermod -aG dialout %1, and log in "
                               "again")
                    .arg(account.name));
        } else if (GroupListsUser(info.st_gid, account.name)) {
            add(name, Status::Fail,
                refused + QStringLiteral(": it joined %1 after this login").arg(group),
                QStringLiteral("log in again (or start a shell with: newgrp %1)").arg(group));
        } else {
            add(name, Status::Fail, refused,
                QStringLiteral("sudo usermod -aG %1 %2, then log in again")
                    .arg(group, account.name));
        }
        return false;
    }

    bool checkBusy() {
        const QString name = QStringLiteral("busy");
        // A pseudo-terminal's master holder is the other end of the line, not a competitor.
        const bool pty = m_device.startsWith(QStringLiteral("/dev/pts/"));
        QStringList holders;
        QStringList otherEnd;
        QList<qint64> pids;
        for (const Holder &holder : HoldersOf(proc, m_device)) {
            const QString text =
                QStringLiteral("pid %1 (%2)").arg(holder.pid).arg(holder.commandLine);
            if (pty && holder.holdsMaster) {
                otherEnd << text;
            } else {
                holders << text;
                pids << holder.pid;
            }
        }
        const QDir procDir(proc);
        QStringList stale;
        QSet<QString> seen;
        const QString lockName = QStringLiteral("LCK..") + QFileInfo(m_device).fileName();
        for (const QString &dir : lockDirs) {
            const QString canonical = QFileInfo(dir).canonicalFilePath();
            const QString file = QDir(canonical).filePath(lockName);
            if (canonical.isEmpty() || seen.contains(canonical) || !QFileInfo::exists(file))
                continue;
            seen.insert(canonical);
            const qint64 pid =
                QString::fromLatin1(ReadLockFile(file).split('\n').first()).trimmed().toLongLong();
            if (pid > 0 && QFileInfo::exists(procDir.filePath(QString::number(pid)))) {
                holders << QStringLiteral("lock file %1 of pid %2 (%3)")
                               .arg(file)
                               .arg(pid)
                               .arg(CommandLineOf(proc, pid));
                if (!pids.contains(pid))
                    pids << pid;
            } else {
                stale << file;
            }
        }
        if (!holders.isEmpty()) {
            QStringList kill;
            for (const qint64 pid : pids)
                kill << QString::number(pid);
            add(name, Status::Fail,
                QStringLiteral("%1 is held by %2")
                    .arg(m_device, holders.join(QStringLiteral("; "))),
                QStringLiteral("close the port in that program, or end it (kill %1), then try "
                               "again")
                    .arg(kill.join(u' ')));
            return false;
        }
        if (!stale.isEmpty()) {
            add(name, Status::Warn,
                QStringLiteral("stale lock file %1: it names no running process")
                    .arg(stale.join(QStringLiteral(", "))),
                QStringLiteral("remove it: sudo rm %1").arg(stale.join(u' ')));
            return true;
        }
        QString found = QStringLiteral("no other process holds %1").arg(m_device);
        if (!otherEnd.isEmpty())
            found += QStringLiteral("; the other end of this pseudo-terminal is ") +
                     otherEnd.join(QStringLiteral(", "));
        add(name, Status::Ok, found);
        return true;
    }

    // An FTDI latency timer above 2 ms is tried with the low-latency flag, on a usable port.
    void checkAdapter(bool portUsable) {
        const QString name = QStringLiteral("adapter");
        const QString tty = QFileInfo(m_device).fileName();
        const AdapterInfo adapter = ReadAdapterInfo(sysfs, tty);
        if (!adapter.known) {
            add(name, Status::Ok,
                QStringLiteral("sysfs knows no adapter for %1 (not a USB serial adapter)")
                    .arg(m_device));
            return;
        }
        QString found = adapter.usb
                            ? QStringLiteral("USB adapter %1 %2:%3 %4 %5")
                                  .arg(adapter.driver, adapter.vendorId, adapter.productId,
                                       adapter.manufacturer, adapter.product)
                                  .simplified()
                            : QStringLiteral("built-in serial port, driver %1").arg(adapter.driver);
        if (adapter.latencyMs >= 0)
            found += QStringLiteral(", latency timer %1 ms").arg(adapter.latencyMs);
        if (adapter.latencyMs <= kMaxGoodLatencyMs) {
            add(name, Status::Ok, found);
            return;
        }
        const int bitRate = gBitRate.toInt() > 0 ? gBitRate.toInt() : 9600;
        const double slow = KernelTransferSeconds(m_kernelBytes, bitRate, adapter.latencyMs);
        const LowLatencyTrial trial =
            portUsable ? TryLowLatency(ToInt16(gPort).value_or(0), adapter.latencyFile, *lowLatency)
                       : LowLatencyTrial{};
        if (portUsable && trial.openFailure == 0 && trial.latencyMs >= 0 &&
            trial.latencyMs <= kMaxGoodLatencyMs) {
            add(name, Status::Ok,
                found + QStringLiteral(": QARN switches it to %1 ms while it downloads (the "
                                       "low-latency flag): the echoed transfer of %2 takes about "
                                       "%3 s at %4 bit/s instead of %5 s")
                            .arg(trial.latencyMs)
                            .arg(m_kernelName)
                            .arg(KernelTransferSeconds(m_kernelBytes, bitRate, trial.latencyMs), 0,
                                 'f', 1)
                            .arg(bitRate)
                            .arg(slow, 0, 'f', 1));
            return;
        }
        if (!portUsable)
            found += QStringLiteral(", which QARN could not try to switch to 1 ms (the port is "
                                    "not usable: see above)");
        else if (trial.openFailure != 0)
            found += QStringLiteral(", which QARN could not try to switch to 1 ms (the port did "
                                    "not open: run-time code %1)")
                         .arg(trial.openFailure);
        else
            found += QStringLiteral(", which QARN could not switch to 1 ms (%1; the timer read "
                                    "%2 ms)")
                         .arg(trial.note)
                         .arg(trial.latencyMs);
        found += QStringLiteral(": the echoed transfer of %1 takes about %2 s at %3 bit/s "
                                "instead of %4 s")
                     .arg(m_kernelName)
                     .arg(slow, 0, 'f', 1)
                     .arg(bitRate)
                     .arg(KernelTransferSeconds(m_kernelBytes, bitRate, 1), 0, 'f', 1);
        if (slow > gTransferTimeout)
            found += QStringLiteral(", longer than its time-out (TTO, %1 s): error 310")
                         .arg(double(gTransferTimeout));
        add(name, Status::Warn, found,
            QStringLiteral("set the latency timer to 1 ms with the udev rule %1 in "
                           "/etc/udev/rules.d/99-qarn.rules, then: sudo udevadm control "
                           "--reload, and plug the adapter in again (until then: echo 1 | sudo "
                           "tee %2)")
                .arg(QString::fromLatin1(kLatencyUdevRule), adapter.latencyFile));
    }

    const QString &sysfs;
    const QString &proc;
    const QStringList &lockDirs;
    LowLatencyDriver *lowLatency;
    const qint64 m_kernelBytes;
    const QString &m_kernelName;
    QList<Check> &m_checks;
    QString m_device;
};

} // namespace

PortState CheckPort(const PortSetup &setup, QList<Check> &checks) {
    return PortChecks(setup, checks).run(setup.number);
}

QString LineAdvice(int failure) {
    const char *advice =
        failure == RunError::PermissionDenied  ? "the account may not use the port: see access"
        : failure == RunError::PortAlreadyOpen ? "another program holds the port: close it"
        : failure == RunError::InvalidArgument
            ? "these line settings are not usable: BRATE, DLEN, PARITY and STOP in QARN.ini "
              "or the description"
            : "plug the adapter in again; dmesg tells what the system saw";
    return QString::fromLatin1(advice);
}

QList<QCommandLineOption> PortOptions() {
    const QCommandLineOption sysfs(QStringLiteral("sysfs"),
                                   QStringLiteral("sysfs root to read (default /sys)"),
                                   QStringLiteral("DIR"), QStringLiteral("/sys"));
    const QCommandLineOption proc(QStringLiteral("proc"),
                                  QStringLiteral("proc root to read (default /proc)"),
                                  QStringLiteral("DIR"), QStringLiteral("/proc"));
    const QCommandLineOption lockDir(
        QStringLiteral("lock-dir"),
        QStringLiteral("a folder of serial lock files, may be repeated (default /run/lock and "
                       "/var/lock)"),
        QStringLiteral("DIR"));
    return {sysfs, proc, lockDir};
}

void TakePortOptions(const QCommandLineParser &parser, PortSetup &setup) {
    setup.sysfs = parser.value(QStringLiteral("sysfs"));
    setup.proc = parser.value(QStringLiteral("proc"));
    setup.lockDirs = parser.isSet(QStringLiteral("lock-dir"))
                         ? parser.values(QStringLiteral("lock-dir"))
                         : QStringList{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
}

const char *HelpNote() {
    return "";
}

} // namespace doctor
