// qarnctl flash: one download from the command line, as the Start button runs it, with the
// phases and a progress bar per transfer on standard error.

#include "bench_run.h"
#include "catalogue.h"
#include "cli.h"
#include "commands.h"
#include "download.h"
#include "error_messages.h"
#include "history.h"
#include "ift_file.h"
#include "link.h"
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
#include <functional>
#include <optional>

namespace {

const char kFlashDescription[] =
    "Downloads the firmware that FILE.ift describes into the target, as the Start button does:\n"
    "reads QARN.ini from the application folder and the description, opens port N (the file\n"
    "COMn in the application folder when it exists, else /dev/ttyS<n-1>), and runs the\n"
    "description's download sequence. With --simulate it acts the download out instead, without\n"
    "any port, and writes nothing; PROTOTYPE other than 0 in QARN.ini (the simulation mode) is\n"
    "refused without it. The host's hand-off files are not touched. The port runs with the\n"
    "low-latency flag while it is open; a USB adapter whose driver does not take it, with a\n"
    "latency timer above 2 ms, is named on standard error once it is open.\n"
    "\n"
    "Standard error shows each phase by its name in the chosen language and a progress bar for\n"
    "each transfer (one line per phase and per tenth of a transfer when it is not a terminal).\n"
    "\n"
    "Exit status and standard output:\n"
    "  0  the download succeeded; the last line is checksum=XXXX (the target's flash checksum),\n"
    "     or \"simulated: no device was written\" under --simulate\n"
    "  1  it failed; the lines are E<number> and the error text with the step's name\n"
    "  2  usage error, or PROTOTYPE in QARN.ini without --simulate\n"
    "  3  stopped by SIGINT or SIGTERM (Stop Downloading); the line is the message that says so\n"
    "  130 (143 after SIGTERM): a second signal ended it at once, inside any wait; the port is\n"
    "     closed and standard output says nothing more\n"
    "SIGHUP and a reader of the output that goes away do not stop the download: it runs to its\n"
    "end, and what can no longer be written is dropped; after SIGHUP no further run of --repeat\n"
    "starts.\n"
    "With --json, standard output carries JSON lines instead: {\"phase\", \"name\", \"done\",\n"
    "\"total\"} for each phase and each tenth of a transfer, and at the end {\"outcome\": \"ok\",\n"
    "\"simulated\", \"failed\" or \"stopped\", \"errno\", \"error\", \"checksum\", \"kernel_sha256\",\n"
    "\"image_sha256\"} (with \"run\" under --repeat; the checksum empty when simulated, a SHA-256\n"
    "empty unless the run read that whole file); the exit statuses stay the same.";

const QString kCommand = QStringLiteral("qarnctl flash");

constexpr std::chrono::milliseconds kPollInterval{150};

// The seconds of the run just ended, for the JSON line of a port's run under several ports.
std::optional<double> sRunSeconds;

// The outcome of a run as one JSON line: "ok", "simulated", "failed" or "stopped", the error
// number and its text (0 and "" after success), the target's checksum ("" when simulated) and
// the fingerprints of the files the run read; with the run's seconds for a port's run under
// several ports.
void printOutcome(const QString &outcome, const QString &checksum, int run) {
    const bool done = outcome == u"ok" || outcome == u"simulated";
    QJsonObject line{{"outcome", outcome},
                     {"errno", done ? 0 : int(gErrNo)},
                     {"error", done                    ? QString()
                               : outcome == u"stopped" ? Msg(127)
                                                       : windowText(ErrorWindowText())},
                     {"checksum", checksum},
                     {"kernel_sha256", gKernelSha256},
                     {"image_sha256", gImageSha256}};
    if (run > 0)
        line.insert("run", run);
    if (sRunSeconds)
        line.insert("seconds", *sRunSeconds);
    printJsonLine(line);
}

int reportFailure(bool json, const QString &checksum) {
    if (json)
        printOutcome("failed", checksum, 0);
    else
        printOut(QString("E%1\n%2\n").arg(gErrNo).arg(windowText(ErrorWindowText())));
    sayErrorNotes(kCommand);
    return 1;
}

int reportStopped(bool json, const QString &checksum) {
    if (json)
        printOutcome("stopped", checksum, 0);
    else
        printOut(Msg(127) + "\n");
    return 3;
}

} // namespace

int runFlash(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kFlashDescription) +
                                     QString::fromLatin1(SignalStop::helpNote()));
    const RunOptions shared;
    const QCommandLineOption repeatOption(
        "repeat",
        "run the download N times in this one process, one device after another; a line "
        "\"run I/N: checksum=XXXX\" or \"run I/N: E<number>\" on standard output after each, "
        "and the first failure ends the series",
        "N");
    const QCommandLineOption traceOption(
        "trace",
        "write a serial trace of the run to FILE (replaced): every exchange with its time, "
        "direction, bytes and step, and the outcome",
        "FILE");
    const QCommandLineOption simulateOption(
        "simulate", "act the download out without any port (the simulation mode that PROTOTYPE "
                    "in QARN.ini selects): nothing is written, and no checksum is reported");
    const QCommandLineOption sysfsOption(
        "sysfs", "sysfs root where the adapter's latency timer is read (default /sys)", "DIR",
        "/sys");
    parser.addOptions(shared.list() + QList<QCommandLineOption>{repeatOption, traceOption,
                                                                simulateOption, sysfsOption});
    parser.addPositionalArgument("FILE.ift", "the firmware description to download");
    if (const auto status = parseCommandLine(parser, kCommand, args))
        return *status;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(kCommand, files.isEmpty() ? QString("no description file given")
                                                    : QString("only one description file"));
    const QString iftPath = files.first();
    const QString port = parser.value(shared.port);
    const bool json = parser.isSet(shared.json);
    const bool simulated = parser.isSet(simulateOption);
    int repeat = 1;
    if (parser.isSet(repeatOption)) {
        bool number = false;
        repeat = parser.value(repeatOption).toInt(&number);
        if (!number || repeat < 1)
            return usageError(kCommand, "--repeat needs a count of 1 or more");
    }
    if (const QStringList ports = parser.values(shared.port); ports.size() > 1) {
        TakeAppDir(parser.value(shared.appDir));
        BenchRun bench{"flash", ports, {"--app-dir", gAppDir, "--sysfs", parser.value(sysfsOption)},
                       parser.value(traceOption), parser.value(sysfsOption), repeat, json};
        for (const QCommandLineOption &option : {shared.stream, simulateOption})
            if (parser.isSet(option))
                bench.options << "--" + option.names().constFirst();
        if (repeat > 1)
            bench.options << "--repeat" << QString::number(repeat);
        bench.options << QFileInfo(iftPath).absoluteFilePath();
        return RunBenchPorts(bench);
    }
    const bool child = parser.isSet(shared.benchChild);

    SerialTrace trace;
    if (const int status = OpenRunTrace(kCommand, parser.value(traceOption), trace))
        return status;
    ScopedLinkObserver watching(trace.isOpen() ? &trace : nullptr);

    SignalStop stop;
    TakeAppDir(parser.value(shared.appDir));
    const QString firmware = QFileInfo(iftPath).absoluteFilePath();
    if (!ReadIftFile(firmware)) {
        trace.noteOutcome(false, QStringLiteral("0000"));
        noteHistoryProblem(kCommand, RunHistory("qarnctl", "flash", firmware).finish("failed"));
        return reportFailure(json, QStringLiteral("0000"));
    }
    // The simulation mode writes nothing: a script must ask for it by name, or its log would
    // show a device flashed that was never touched.
    if (gPrototype != 0 && !simulated) {
        std::fprintf(stderr,
                     "qarnctl flash: QARN.ini in %s sets PROTOTYPE %d, the simulation mode: no "
                     "device would be written. Give --simulate to act the download out, or set "
                     "PROTOTYPE 0 in QARN.ini.\n",
                     qPrintable(gAppDir), int(gPrototype));
        return 2;
    }
    if (!port.isEmpty())
        gPort = port;
    if (parser.isSet(shared.stream))
        gStreamKernel = true;

    SystemSerialPort serial;
    LatencyWarning latency(kCommand, parser.value(sysfsOption), serial);
    gComm = simulated ? nullptr : &serial;
    gStopRequested = false;
    gDownloadState = 0;
    gByteCount = 0;
    gByteTotal = 0;

    ProgressReport progress(StandardErrorIsTerminal(), json);
    QTimer refresh;
    refresh.setInterval(kPollInterval);
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        stop.reassert();
        progress.poll();
    });
    refresh.start();
    QObject::connect(&refresh, &QTimer::timeout, [&] { latency.poll(); });

    std::optional<RunHistory> history; // of the run under way
    // The first signal stops the run at its next wait, a second ends the command at once.
    stop.onSignal([&](int signal, int count) {
        AnswerSignal(kCommand, signal, count, progress, trace, history);
    });

    QString checksum;
    bool ok = true;
    // The data phase leaves the data bit rate behind: every run starts at the boot bit rate.
    const QString bootBitRate = gBitRate;
    const QString okOutcome = simulated ? QStringLiteral("simulated") : QStringLiteral("ok");
    for (int run = 1; run <= repeat && ok && !stop.hungUp(); ++run) {
        gBitRate = bootBitRate;
        gStopRequested = false;
        gDownloadState = 0;
        gByteCount = 0;
        gByteTotal = 0;
        history.emplace("qarnctl", "flash", firmware, parser.value(sysfsOption));
        // A signal that came while the description was read (or the last run ended) stops the
        // run before it starts; after a hang-up no further run starts.
        QCoreApplication::processEvents();
        if (run > 1 && stop.hungUp()) {
            history.reset();
            break;
        }
        ok = !stop.signalled() && (simulated ? SimulateDownload(checksum) : RunDownload(checksum));
        if (simulated)
            checksum.clear(); // the description's FCS, not a target's
        noteHistoryProblem(kCommand, history->finish(ok                 ? okOutcome
                                                     : stop.signalled() ? "stopped"
                                                                        : "failed"));
        if (child)
            sRunSeconds = history->record().seconds;
        history.reset();
        if (repeat > 1 && json) {
            progress.poll();
            printOutcome(ok ? okOutcome : stop.signalled() ? "stopped" : "failed", checksum, run);
        } else if (repeat > 1) {
            progress.poll();
            printOut(QString("run %1/%2: %3\n")
                         .arg(run)
                         .arg(repeat)
                         .arg(ok ? (simulated ? okOutcome : "checksum=" + checksum)
                                 : QString("E%1").arg(gErrNo)));
        }
    }
    refresh.stop();
    latency.poll();
    progress.poll();
    progress.finish();
    gComm = nullptr;
    trace.noteOutcome(ok, simulated ? QStringLiteral("none (simulated)") : checksum);
    trace.close();

    if (ok && json && repeat == 1)
        printOutcome(okOutcome, checksum, 0);
    else if (ok && !json)
        printOut(simulated ? QString("simulated: no device was written\n")
                           : QString("checksum=%1\n").arg(checksum));
    if (ok)
        return 0;
    if (stop.signalled())
        return json && repeat > 1 ? 3 : reportStopped(json, checksum);
    if (json && repeat > 1) {
        sayErrorNotes(kCommand);
        return 1;
    }
    return reportFailure(json, checksum);
}
