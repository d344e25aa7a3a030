// qarnctl doctor: what stands between this computer and the chip, checked one thing after
// another before a download, each with what was found and what to do.

#include "cli.h"
#include "commands.h"
#include "doctor_checks.h"
#include "doctor_probe.h"
#include "error_messages.h"
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
#include <cstdio>
#include <optional>

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

using doctor::Check;
using doctor::Status;

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
    doctor::PortSetup setup; // what the system's checks of the port go by

    int run(bool json) {
        readSettings();
        if (const std::optional<int> number = portNumber()) {
            // Each check runs even when the one before failed: together they say all that is
            // wrong. Only opening the port waits until nothing stands in its way.
            setup.number = *number;
            setup.kernelBytes = m_kernelBytes;
            setup.kernelName = m_kernelName;
            const doctor::PortState state = doctor::CheckPort(setup, m_checks);
            const bool opens = state == doctor::PortState::Usable && checkLine();
            if (probe && state != doctor::PortState::Missing)
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

    // The number of the port to check, once QARN.ini or --port gives one.
    std::optional<int> portNumber() {
        const QString name = QStringLiteral("port");
        if (!m_settingsOk && port.isEmpty()) {
            add(name, Status::Fail, m_settingsError,
                QStringLiteral("put QARN.ini with a PORT line in %1, or give --port N")
                    .arg(gAppDir));
            return std::nullopt;
        }
        const std::optional<int16_t> number = ToInt16(gPort);
        if (!number || *number < 1) {
            add(name, Status::Fail,
                gPort.isEmpty() ? QStringLiteral("QARN.ini gives no port (no PORT line)")
                                : QStringLiteral("PORT '%1' is not a port number").arg(gPort),
                QStringLiteral("put PORT n in QARN.ini (%1), or give --port N").arg(PortNaming()));
            return std::nullopt;
        }
        return *number;
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
        add(name, Status::Fail,
            QStringLiteral("it does not open at %1: run-time code %2 (%3)")
                .arg(settings)
                .arg(failure)
                .arg(RunErrorDescription(failure)),
            doctor::LineAdvice(failure));
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
    parser.setApplicationDescription(QString::fromLatin1(kDoctorDescription) +
                                     QString::fromLatin1(doctor::HelpNote()));
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
    parser.addOptions(QList<QCommandLineOption>{appDir, port, probe, json} + doctor::PortOptions());
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
    doctor.setup.lowLatency = &lowLatency;
    doctor.appDir =
        parser.isSet(appDir) ? parser.value(appDir) : QCoreApplication::applicationDirPath();
    if (!QFileInfo(doctor.appDir).isDir())
        return usageError(kCommand, QStringLiteral("'%1' is not a folder").arg(doctor.appDir));
    doctor.port = parser.value(port);
    doctor.probe = parser.isSet(probe);
    doctor.description = doctor.probe ? parser.value(probe) : files.value(0);
    doctor::TakePortOptions(parser, doctor.setup);
    return doctor.run(parser.isSet(json));
}
