// qarnctl doctor: what stands between this computer and the chip, checked one thing after
// another before a download, each with what was found and what to do.

#include "adapter.h"
#include "cli.h"
#include "commands.h"
#include "doctor_probe.h"
#include "error_messages.h"
#include "host_lookup.h"
#include "ift_file.h"
#include "link.h"
#include "low_latency.h"
#include "number_text.h"
#include "port_lookup.h"
#include "system_serial_port.h"
#include "run_errors.h"
#include "settings.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kCommand = QStringLiteral("qarnctl doctor");

const char kDoctorDescription[] =
    "Checks, one after another, what stands between this computer and the chip before a\n"
    "download: where the port is, whether this account may use it, whether another program\n"
    "holds it, the USB adapter (an FTDI latency timer above 2 ms slows the kernel transfer\n"
    "unless its driver takes the low-latency flag, which QARN sets while it downloads: the\n"
    "check tries it), and whether the port opens with the line settings: QARN.ini's, or with\n"
    "FILE.ift the description's own (its boot and data bit rates), as its download uses them.\n"
    "With --probe it runs the bit-rate adjustment alone (00 bytes, nothing else) with the\n"
    "description's settings; the device must be in boot mode, and must be restarted in boot\n"
    "mode before a download.\n"
    "\n"
    "One line per check: OK, WARN or FAIL, the check's name, what was found and, after '=>',\n"
    "what to do. Exit status: 0 no check failed, 1 a check failed, 2 usage error.";

enum class Status { Ok, Warn, Fail };

QString statusText(Status status) {
    switch (status) {
    case Status::Ok:
        return QStringLiteral("OK");
    case Status::Warn:
        return QStringLiteral("WARN");
    default:
        return QStringLiteral("FAIL");
    }
}

struct Check {
    QString name;
    Status status;
    QString found;
    QString advice;
};

QString oneLine(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).simplified();
}

QString errorText() {
    return ErrorCodeText() + u' ' + oneLine(GetErrorMessage(gErrNo));
}

class Doctor {
public:
    QString appDir;
    QString port;
    QString description; // FILE.ift or --probe's: its settings over QARN.ini's
    bool probe = false;
    QString sysfs;
    QString proc;
    QStringList lockDirs;
    LowLatencyDriver *lowLatency = &SystemLowLatencyDriver();

    int run(bool json) {
        readSettings();
        if (checkPort()) {
            // Each check runs even when the one before failed: together they say all that is
            // wrong. Only opening the port waits until nothing stands in its way.
            const bool allowed = checkAccess();
            const bool free = checkBusy();
            checkAdapter(allowed && free);
            const bool opens = allowed && free && checkLine();
            if (probe)
                checkProbe(opens);
        }
        if (!description.isEmpty() && !probe && !m_descriptionOk)
            add(QStringLiteral("file"), Status::Fail,
                QStringLiteral("%1: %2").arg(description, m_descriptionError),
                QStringLiteral("qarnctl check %1 shows what the description holds; the line was "
                               "checked with QARN.ini's settings")
                    .arg(description));
        bool failed = false;
        for (const Check &check : m_checks)
            failed = failed || check.status == Status::Fail;
        json ? printJson(failed) : printText();
        return failed ? 1 : 0;
    }

private:
    void add(const QString &name, Status status, const QString &found, const QString &advice = {}) {
        m_checks.append(Check{name, status, found, advice});
    }

    // QARN.ini as the window reads it at start-up; with a description, the description over
    // it, as a download reads it (one that cannot be read leaves QARN.ini's settings). --port
    // comes last: it wins over both.
    void readSettings() {
        gAppDir = QDir(appDir).absolutePath();
        SetDefaultSettings();
        m_settingsOk = ReadQARNIni();
        if (!m_settingsOk)
            m_settingsError = errorText();
        if (!description.isEmpty()) {
            m_descriptionOk = ReadIftFile(QFileInfo(description).absoluteFilePath());
            if (m_descriptionOk) {
                m_kernelBytes = QFileInfo(gIrdFile).size();
                m_kernelName = QStringLiteral("the %1-byte kernel of %2")
                                   .arg(m_kernelBytes)
                                   .arg(QFileInfo(description).fileName());
            } else {
                m_descriptionError = errorText();
                SetDefaultSettings(); // a half-read description sets nothing
                ReadQARNIni();
            }
        }
        if (!port.isEmpty())
            gPort = port;
    }

    bool checkPort() {
        const QString name = QStringLiteral("port");
        if (!m_settingsOk && port.isEmpty()) {
            add(name, Status::Fail, m_settingsError,
                QStringLiteral("put QARN.ini with a PORT line in %1, or give --port N")
                    .arg(gAppDir));
            return false;
        }
        const std::optional<int16_t> number = ToInt16(gPort);
        if (!number || *number < 1) {
            add(name, Status::Fail,
                gPort.isEmpty() ? QStringLiteral("QARN.ini gives no port (no PORT line)")
                                : QStringLiteral("PORT '%1' is not a port number").arg(gPort),
                QStringLiteral("put PORT n in QARN.ini (port n is the link COMn in %1), or give "
                               "--port N")
                    .arg(gAppDir));
            return false;
        }
        const PortLookup lookup = LookUpPort(*number);
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
                    .arg(*number)
                    .arg(where),
                QStringLiteral("link the port to the serial adapter: ") + lookup.relink);
            return false;
        }
        add(name, Status::Ok,
            QStringLiteral("port %1 is %2, a character device").arg(*number).arg(where));
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

    bool checkLine() {
        const QString name = QStringLiteral("line");
        SystemSerialPort serial;
        gComm = &serial;
        QStringList opened;
        int failure = 0;
        QString settings;
        for (const QString &bitRate : {gBitRate, gBitRate2}) {
            settings = bitRate + u',' + gParity + u',' + gDataBits + u',' + gStopBits;
            if (opened.contains(settings))
                continue;
            const QString boot = gBitRate;
            gBitRate = bitRate;
            const int16_t result = OpenPort();
            gBitRate = boot;
            failure = result == 255 ? int(RunError::InvalidPortNumber) : int(gRunErrNo);
            ClosePort();
            if (result != 0)
                break;
            opened << settings;
        }
        gComm = nullptr;
        if (failure == 0) {
            const QString whose =
                m_descriptionOk
                    ? QStringLiteral("the line settings of %1")
                          .arg(QFileInfo(description).fileName())
                    : QStringLiteral("the line settings of QARN.ini (a description may set its "
                                     "own bit rates: qarnctl doctor FILE.ift checks those)");
            add(name, Status::Ok,
                opened.size() == 1
                    ? QStringLiteral("it opens at %1, %2").arg(opened.first(), whose)
                    : QStringLiteral("it opens at %1 (boot phase) and %2 (data phase), %3")
                          .arg(opened.first(), opened.last(), whose));
            return true;
        }
        const char *advice =
            failure == RunError::PermissionDenied  ? "the account may not use the port: see access"
            : failure == RunError::PortAlreadyOpen ? "another program holds the port: close it"
            : failure == RunError::InvalidArgument
                ? "these line settings are not usable: BRATE, DLEN, PARITY and STOP in QARN.ini "
                  "or the description"
                : "plug the adapter in again; dmesg tells what the system saw";
        add(name, Status::Fail,
            QStringLiteral("it does not open at %1: run-time code %2 (%3)")
                .arg(settings)
                .arg(failure)
                .arg(RunErrorDescription(failure)),
            QString::fromLatin1(advice));
        return false;
    }

    void checkProbe(bool lineUsable) {
        const QString name = QStringLiteral("probe");
        if (!m_descriptionOk) {
            add(name, Status::Fail, QStringLiteral("%1: %2").arg(description, m_descriptionError),
                QStringLiteral("qarnctl check %1 shows what the description holds")
                    .arg(description));
            return;
        }
        if (!lineUsable) {
            add(name, Status::Fail, QStringLiteral("not tried: the port is not usable"),
                QStringLiteral("mend the failed checks above first"));
            return;
        }
        const ProbeResult probe = ProbeBootProgram();
        add(name, probe.ok ? Status::Ok : Status::Fail, probe.found, probe.advice);
    }

    void printText() const {
        for (const Check &check : m_checks) {
            QString line = QStringLiteral("%1 %2 %3")
                               .arg(statusText(check.status), -4)
                               .arg(check.name, -7)
                               .arg(check.found);
            if (!check.advice.isEmpty())
                line += QStringLiteral(" => ") + check.advice;
            std::fputs((line + u'\n').toUtf8().constData(), stdout);
        }
    }

    void printJson(bool failed) const {
        QJsonArray checks;
        for (const Check &check : m_checks)
            checks.append(QJsonObject{{QStringLiteral("name"), check.name},
                                      {QStringLiteral("status"), statusText(check.status)},
                                      {QStringLiteral("found"), check.found},
                                      {QStringLiteral("advice"), check.advice}});
        const QJsonObject report{{QStringLiteral("checks"), checks},
                                 {QStringLiteral("failed"), failed}};
        std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
    }

    bool m_settingsOk = false;
    QString m_settingsError;
    bool m_descriptionOk = false;
    QString m_descriptionError;
    qint64 m_kernelBytes = 4096;
    QString m_kernelName = QStringLiteral("a 4 KiB kernel");
    QString m_device;
    QList<Check> m_checks;
};

} // namespace

int runDoctor(const QStringList &args) {
    return runDoctor(args, SystemLowLatencyDriver());
}

int runDoctor(const QStringList &args, LowLatencyDriver &lowLatency) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDoctorDescription));
    const QCommandLineOption appDir(
        QStringLiteral("app-dir"),
        QStringLiteral("application folder holding QARN.ini and the COMn links (default: the "
                       "folder of qarnctl)"),
        QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("port number, instead of PORT in QARN.ini"),
                                  QStringLiteral("N"));
    const QCommandLineOption probe(
        QStringLiteral("probe"),
        QStringLiteral("run the bit-rate adjustment with this description's settings"),
        QStringLiteral("FILE.ift"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("print one JSON object: {\"checks\": [{name, "
                                                 "status, found, advice}, ...], \"failed\"}"));
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
    parser.addOptions({appDir, port, probe, json, sysfs, proc, lockDir});
    parser.addPositionalArgument(
        QStringLiteral("FILE.ift"),
        QStringLiteral("the firmware description whose line settings to check (default: "
                       "QARN.ini's)"),
        QStringLiteral("[FILE.ift]"));
    if (const auto status = parseCommandLine(parser, kCommand, args))
        return *status;
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return usageError(kCommand, QStringLiteral("unexpected argument '%1'").arg(files[1]));
    if (!files.isEmpty() && parser.isSet(probe) && parser.value(probe) != files.first())
        return usageError(kCommand, QStringLiteral("two descriptions given: %1 and --probe %2")
                                        .arg(files.first(), parser.value(probe)));

    Doctor doctor;
    doctor.lowLatency = &lowLatency;
    doctor.appDir =
        parser.isSet(appDir) ? parser.value(appDir) : QCoreApplication::applicationDirPath();
    if (!QFileInfo(doctor.appDir).isDir())
        return usageError(kCommand, QStringLiteral("'%1' is not a folder").arg(doctor.appDir));
    doctor.port = parser.value(port);
    doctor.probe = parser.isSet(probe);
    doctor.description = doctor.probe ? parser.value(probe) : files.value(0);
    doctor.sysfs = parser.value(sysfs);
    doctor.proc = parser.value(proc);
    doctor.lockDirs = parser.isSet(lockDir)
                          ? parser.values(lockDir)
                          : QStringList{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
    return doctor.run(parser.isSet(json));
}
