// qarnctl verify: does a device hold the firmware of a description? The steps of a download that
// erase nothing, then the target's flash checksum against FCS.

#include "bench_run.h"
#include "catalogue.h"
#include "cli.h"
#include "commands.h"
#include "download.h"
#include "error_messages.h"
#include "history.h"
#include "ift_file.h"
#include "link.h"
#include "number_text.h"
#include "system_serial_port.h"
#include "run_output.h"
#include "run_report.h"
#include "shared_state.h"
#include "signal_stop.h"
#include "trace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <optional>

namespace {

const char kVerifyDescription[] =
    "Tells whether the target already holds the firmware that FILE.ift describes, without\n"
    "erasing or writing anything: opens the boot port, adjusts the bit rate, sends the write\n"
    "kernel, reopens the port at the data bit rate, checks the kernel against UCS, and asks the\n"
    "kernel for the checksum of the flash from FSA to FEA, which it compares with FCS. No erase,\n"
    "block or blank-block command is sent.\n"
    "\n"
    "Only descriptions whose kernel erases on command (CPUT 5 and 6) can be checked: with CPUT 0\n"
    "to 4 the boot program erases the flash when it takes the kernel or right after the\n"
    "bit-rate adjustment. They are refused before the port is opened, as is PROTOTYPE other\n"
    "than 0 in QARN.ini (the simulation mode) without --simulate, which acts the check out\n"
    "without any port and reads nothing.\n"
    "\n"
    "Standard error shows each phase and the kernel transfer's progress, as for flash.\n"
    "\n"
    "Exit status and standard output:\n"
    "  0  checksum=XXXX matches: the target's flash checksum equals FCS (\"simulated: no device\n"
    "     was read\" under --simulate)\n"
    "  4  checksum=XXXX differs from FCS YYYY\n"
    "  1  a step failed; the lines are E<number> and the error text with the step's name\n"
    "  2  usage error, a CPUT that erases in the boot program, or PROTOTYPE without --simulate\n"
    "  3  stopped by SIGINT or SIGTERM; a second signal ends it at once (130, 143)\n"
    "With --json, standard output carries JSON lines instead: {\"phase\", \"name\", \"done\",\n"
    "\"total\"} for each phase and each tenth of a transfer, and at the end {\"outcome\":\n"
    "\"matches\", \"differs\", \"failed\", \"stopped\" or \"simulated\", \"errno\", \"error\",\n"
    "\"checksum\", \"fcs\", \"kernel_sha256\"} (the kernel's SHA-256 as the check read it, empty when\n"
    "it did not); the exit statuses stay the same.";

const QString kCommand = QStringLiteral("qarnctl verify");

constexpr std::chrono::milliseconds kPollInterval{150};
constexpr int kDiffers = 4;

// Phases of the check: the boot program and the kernel, the data port and the kernel's
// checksum, the flash checksum.
QString verifyPhaseName(int phase) {
    switch (phase) {
    case 1:
        return Msg(139);
    case 2:
        return Msg(140);
    case 3:
        return Msg(152);
    default:
        return {};
    }
}

QString expectedSum() {
    const std::optional<uint32_t> fcs = HexDigits(gFlashCheckSum, 8);
    return fcs ? Hex4(*fcs) : gFlashCheckSum;
}

// The end of the check: a line for people, or a JSON line (with the check's seconds when it is
// one port's among several); returns the exit status.
int report(const QString &outcome, const QString &checksum, bool json,
           std::optional<double> seconds = {}) {
    const bool failed = outcome == u"failed" || outcome == u"stopped";
    if (json) {
        QJsonObject line{{"outcome", outcome},
                         {"errno", failed ? int(gErrNo) : 0},
                         {"error", outcome == u"stopped" ? Msg(127)
                                   : failed              ? windowText(ErrorWindowText())
                                                         : QString()},
                         {"checksum", failed || outcome == u"simulated" ? QString() : checksum},
                         {"fcs", expectedSum()},
                         {"kernel_sha256", gKernelSha256}};
        if (seconds)
            line.insert("seconds", *seconds);
        printJsonLine(line);
    } else if (outcome == u"matches") {
        printOut(QString("checksum=%1 matches\n").arg(checksum));
    } else if (outcome == u"differs") {
        printOut(QString("checksum=%1 differs from FCS %2\n").arg(checksum, expectedSum()));
    } else if (outcome == u"simulated") {
        printOut(QStringLiteral("simulated: no device was read\n"));
    } else if (outcome == u"stopped") {
        printOut(Msg(127) + u'\n');
    } else {
        printOut(QString("E%1\n%2\n").arg(gErrNo).arg(windowText(ErrorWindowText())));
    }
    if (outcome == u"failed")
        sayErrorNotes(kCommand);
    if (outcome == u"differs")
        return kDiffers;
    return outcome == u"stopped" ? 3 : failed ? 1 : 0;
}

// Why a description cannot be checked without erasing, or "".
QString refusal(const QString &file, bool simulated) {
    if (gPrototype != 0 && !simulated)
        return QString("QARN.ini in %1 sets PROTOTYPE %2, the simulation mode: no device would be "
                       "read. Give --simulate to act the check out, or set PROTOTYPE 0 in "
                       "QARN.ini.")
            .arg(gAppDir, QString::number(gPrototype));
    if (gSeqType == 0)
        return file + " sets CPUT 0 or 3: the boot program erases the flash when it takes the "
                      "kernel, so a check would erase what it checks. Only CPUT 5 and 6 (the "
                      "kernel erases on command) can be checked.";
    if (gSeqType == 1)
        return file + " sets CPUT 1, 2 or 4: the boot program erases the flash right after the "
                      "bit-rate adjustment, so a check would erase what it checks. Only CPUT 5 "
                      "and 6 (the kernel erases on command) can be checked.";
    return VerifyErasesNothing(gSeqType) ? QString() : QStringLiteral("unknown CPUT");
}

} // namespace

int runVerify(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kVerifyDescription) +
                                     QString::fromLatin1(SignalStop::helpNote()));
    const RunOptions shared;
    const QCommandLineOption traceOption(
        "trace", "write a serial trace of the run to FILE (replaced)", "FILE");
    const QCommandLineOption simulateOption(
        "simulate", "act the check out without any port (the simulation mode that PROTOTYPE in "
                    "QARN.ini selects): nothing is read, and no checksum is reported");
    const QCommandLineOption sysfsOption(
        "sysfs", "sysfs root where the adapter is looked up (default /sys)", "DIR", "/sys");
    parser.addOptions(shared.list() +
                      QList<QCommandLineOption>{traceOption, simulateOption, sysfsOption});
    parser.addPositionalArgument("FILE.ift", "the firmware description to check against");
    if (const auto status = parseCommandLine(parser, kCommand, args))
        return *status;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(kCommand, files.isEmpty() ? QString("no description file given")
                                                    : QString("only one description file"));
    const bool json = parser.isSet(shared.json);
    const bool simulated = parser.isSet(simulateOption);
    const QString sysfs = parser.value(sysfsOption);
    if (const QStringList ports = parser.values(shared.port); ports.size() > 1) {
        TakeAppDir(parser.value(shared.appDir));
        BenchRun bench{"verify", ports, {"--app-dir", gAppDir, "--sysfs", sysfs},
                       parser.value(traceOption), sysfs, 1, json};
        for (const QCommandLineOption &option : {shared.stream, simulateOption})
            if (parser.isSet(option))
                bench.options << "--" + option.names().constFirst();
        bench.options << QFileInfo(files.first()).absoluteFilePath();
        return RunBenchPorts(bench);
    }

    SerialTrace trace;
    if (const int status = OpenRunTrace(kCommand, parser.value(traceOption), trace))
        return status;
    ScopedLinkObserver watching(trace.isOpen() ? &trace : nullptr);

    SignalStop stop;
    TakeAppDir(parser.value(shared.appDir));
    const QString firmware = QFileInfo(files.first()).absoluteFilePath();
    if (!ReadIftFile(firmware)) {
        trace.noteOutcome(false, QStringLiteral("0000"));
        noteHistoryProblem(kCommand, RunHistory("qarnctl", "verify", firmware).finish("failed"));
        return report("failed", {}, json);
    }
    // Refused before the port is opened: the target has not been touched.
    if (const QString why = refusal(firmware, simulated); !why.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(kCommand), qPrintable(why));
        return 2;
    }
    if (parser.isSet(shared.port))
        gPort = parser.value(shared.port);
    if (parser.isSet(shared.stream))
        gStreamKernel = true;

    SystemSerialPort serial;
    LatencyWarning latency(kCommand, sysfs, serial);
    gComm = simulated ? nullptr : &serial;
    gStopRequested = false;
    gDownloadState = 0;
    gByteCount = 0;
    gByteTotal = 0;

    ProgressReport progress(StandardErrorIsTerminal(), json, 3, verifyPhaseName);
    QTimer refresh;
    refresh.setInterval(kPollInterval);
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        stop.reassert();
        progress.poll();
        latency.poll();
    });
    refresh.start();

    std::optional<RunHistory> history;
    // As qarnctl flash: the first signal stops the check at its next wait, a second ends it at
    // once with the port closed.
    stop.onSignal([&](int signal, int count) {
        AnswerSignal(kCommand, signal, count, progress, trace, history);
    });

    history.emplace("qarnctl", "verify", firmware, sysfs);
    // A signal that came while the description was read stops the check before it starts.
    QCoreApplication::processEvents();
    QString checksum;
    QString outcome = QStringLiteral("failed");
    if (!stop.signalled()) {
        if (simulated) {
            outcome = SimulateVerify() ? QStringLiteral("simulated") : outcome;
        } else {
            const VerifyResult result = RunVerify(checksum);
            outcome = result == VerifyResult::Matches   ? QStringLiteral("matches")
                      : result == VerifyResult::Differs ? QStringLiteral("differs")
                                                        : outcome;
        }
    }
    if (outcome == u"failed" && stop.signalled())
        outcome = QStringLiteral("stopped");
    noteHistoryProblem(kCommand, history->finish(outcome));
    const double seconds = history->record().seconds;
    history.reset();

    refresh.stop();
    latency.poll();
    progress.poll();
    progress.finish();
    gComm = nullptr;
    trace.noteOutcome(outcome == u"matches" || outcome == u"simulated", checksum);
    trace.close();
    return report(outcome, checksum, json,
                  parser.isSet(shared.benchChild) ? std::optional(seconds) : std::nullopt);
}
