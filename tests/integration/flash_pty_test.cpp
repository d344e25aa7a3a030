// qarnctl flash against qarn-target-sim over a real pseudo-terminal: the demo folder's version of
// each sequence variant into the target's saved flash, what only a real line shows (one process
// flashing device after device among it), and SIGTERM.
//
// With QARN_WINDOWS_QARNCTL naming the Windows qarnctl.exe and QARN_WINE_RUN the Wine runner,
// the same runs are made by the Windows program under Wine, the folder's COM1 given to it as
// the Wine prefix's COM1. There a signal to Wine's process is what Windows makes of it: SIGINT
// is Ctrl-C; nothing sends a Ctrl-Break or closes a console.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWait = 30000; // ms; every time-out of the descriptions is far below it

const QString kWindowsQarnctl = qEnvironmentVariable("QARN_WINDOWS_QARNCTL");
const bool kOnWindows = !kWindowsQarnctl.isEmpty();
// The signal that asks for Stop: SIGTERM here, Ctrl-C under Wine.
const int kStopSignal = kOnWindows ? SIGINT : SIGTERM;

// Starts qarnctl with `arguments`: this system's, or the Windows one under Wine with the COMn
// links of `appDir` as the prefix's COM ports.
void StartQarnctl(QProcess &process, const QString &appDir, const QStringList &arguments) {
    if (!kOnWindows)
        return process.start(QARNCTL_PATH, arguments);
    QStringList wine;
    for (const QString &com : QDir(appDir).entryList({"COM*"}, QDir::System | QDir::Files))
        wine << "--com" << com.mid(3) + "=" + appDir + "/" + com;
    process.start(qEnvironmentVariable("QARN_WINE_RUN"), wine << kWindowsQarnctl << arguments);
}

QByteArray Bytes(int count, int seed) {
    QByteArray bytes(count, 0);
    for (int i = 0; i < count; ++i)
        bytes[i] = char((i * seed + 5) & 0xFF);
    return bytes;
}

// Block 0 data, block 1 blank (skipped), block 2 data and a last block the host pads with FF.
const QByteArray kImage = Bytes(256, 1) + QByteArray(256, char(0xFF)) + Bytes(356, 13);
const QByteArray kFlash = kImage + QByteArray(0x800 - kImage.size(), char(0xFF));

QString SumText(const QByteArray &bytes) {
    uint32_t sum = 0;
    for (const char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    return QString::number(sum & 0xFFFF, 16).toUpper().rightJustified(4, '0');
}

class FlashOverPty : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "integration_tests", *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    // A description of variant 2 with short time-outs (hexadecimal seconds) and a data phase at
    // 38400 bit/s.
    FlashOverPty() {
        app.write("QARN.ini", "LANGUAGE 1\r\nPORT 1\r\n");
        app.write("kernel.bin", Bytes(300, 7));
        app.write("image.bin", kImage);
        app.write("test.ift",
                  ("CPUT 5\r\nDF kernel.bin\r\nUT 0.2\r\nUCS " + SumText(Bytes(300, 7)) +
                   "\r\nPFN image.bin\r\nFSA 00020000\r\nFEA 000207FF\r\nFCS " + SumText(kFlash) +
                   "\r\nATO 1\r\nETO 3\r\nSTO 1\r\nTTO 14\r\nDTO 2\r\nWTO 1\r\n"
                   "PDSIZE 256\r\nBRATE2 38400\r\n")
                      .toLatin1());
    }
    ~FlashOverPty() override {
        for (QProcess *target : {&sim, &others[0], &others[1], &others[2]})
            target->terminate(), target->waitForFinished(5000);
    }
    // Starts the target linked as COM1 of the application folder and waits until it listens.
    void startSim(const QStringList &options) { startSimAt(sim, 1, options); }
    // The same as COMn, its flash and steps in flash-n.bin and steps-n.txt (n > 1).
    void startSimAt(QProcess &target, int port, const QStringList &options) {
        const QString n = port == 1 ? "" : QString("-%1").arg(port);
        target.start(TARGET_SIM_PATH,
                     QStringList{"--link", app.filePath(QString("COM%1").arg(port)), "--flash-fill",
                                 "00", "--save-flash", app.filePath("flash" + n + ".bin"),
                                 "--steps", app.filePath("steps" + n + ".txt")} +
                         options);
        QByteArray said;
        while (!said.contains('\n') && target.waitForReadyRead(kWait))
            said += target.readAllStandardOutput();
        ASSERT_TRUE(said.startsWith("ready /dev/")) << said.constData();
    }
    // qarnctl flash, or the command the options begin with ("verify").
    void startFlash(QStringList options) {
        const QString command = options.value(0) == "verify" ? options.takeFirst() : "flash";
        err.clear();
        ctl.setReadChannel(QProcess::StandardError);
        StartQarnctl(ctl, app.path(), QStringList{command, "--app-dir", app.path()} + options);
    }
    // Whether standard error has shown `text` (read into `err`) before qarnctl ended.
    bool awaitErr(const char *text) {
        for (QDeadlineTimer end(kWait); !err.contains(text) && ctl.state() && !end.hasExpired();)
            ctl.waitForReadyRead(100), err += ctl.readAllStandardError();
        return (err += ctl.readAllStandardError()).contains(text);
    }
    // Sends `signal` to qarnctl once standard error has shown `text`; whether both happened.
    bool signalAt(const char *text, int signal) {
        return awaitErr(text) && ctl.processId() > 0 && ::kill(ctl.processId(), signal) == 0;
    }
    // The exit code; standard output in `out`, standard error of the run in `err`.
    int finishFlash() {
        EXPECT_TRUE(ctl.waitForFinished(kWait)) << "qarnctl did not end";
        out = QString::fromUtf8(ctl.readAllStandardOutput());
        err += QString::fromUtf8(ctl.readAllStandardError());
        return ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
    }

    // Columns `from` to `to` of each line of the run history in `folder`, the header left out.
    QStringList history(int from, int to, const QString &folder = {}) const {
        QStringList lines = QString(app.read(folder + "qarn-history.csv")).split("\r\n");
        for (QString &line : lines)
            line = line.section(',', from, to);
        return lines.mid(1, lines.size() - 2);
    }

    TempAppDir app;
    QProcess sim, ctl;
    QProcess others[3]; // the targets on further ports
    QString out, err;
    const QStringList layout =
        QString(
            "--variant 2 --flash-start 20000 --flash-size 800 --block-size 256 --data-rate 38400")
            .split(' ');
};

TEST_F(FlashOverPty, TheDemoFolderHoldsAVersionPerVariantThatWritesTheTargetsFlash) {
    // Refusals write nothing: the demo builder's (x stands for the folder to build) and the
    // target's, for a variant it does not know and a file where its link should go.
    app.write("COM1", "not a link");
    const QString x = app.filePath("x"), link = app.filePath("COM1");
    const std::tuple<const char *, QStringList, int, const char *> refusals[] = {
        {MAKE_DEMO_APP_PATH, {"--out", x, "--rate", "fast"}, 2, "--rate needs a number"},
        {MAKE_DEMO_APP_PATH, {"--out", x, "--kernel-size", "32766"}, 2, "--kernel-size needs a"},
        {MAKE_DEMO_APP_PATH, {"--out", x, "--colour"}, 2, "unknown argument '--colour'"},
        {MAKE_DEMO_APP_PATH, {"--out", x, "--ut"}, 2, "--ut needs a value"},
        {MAKE_DEMO_APP_PATH, {"--out", app.filePath("a b")}, 1, "must not contain blanks"},
        {TARGET_SIM_PATH, {"--link", link, "--variant", "7"}, 2, "'7' is not a decimal number"},
        {TARGET_SIM_PATH, {"--link", link, "--variant", "2"}, 1, "exists and is not a link"}};
    QProcess make;
    for (const auto &[program, options, status, message] : refusals) {
        make.start(program, options);
        EXPECT_EQ(make.waitForFinished(kWait) ? make.exitCode() : -1, status);
        EXPECT_TRUE(make.readAllStandardError().contains(message)) << message;
    }
    EXPECT_FALSE(app.exists("x/torvane.cha") || app.exists("a b/torvane.cha"));
    EXPECT_EQ(app.read("COM1"), "not a link");
    QFile::remove(link);
    make.start(MAKE_DEMO_APP_PATH,
               {"--out", app.path(), "--bin", BIN_DIR, "--kernel-size", "1024", "--image-size",
                "8192", "--rate", "115200", "--ut", "0", "--trace"});
    ASSERT_TRUE(make.waitForFinished(kWait) && make.exitCode() == 0)
        << make.readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(app.filePath("qarn")).isExecutable());
    ASSERT_TRUE(QFile::link(app.filePath("gone"), app.filePath("COM1"))); // a stale link
    const QStringList versions = QString(app.read("demo-versions.txt")).split('\n');
    ASSERT_EQ(versions.size(), 5) << versions.join('\n').toStdString();
    EXPECT_FALSE(app.read(versions[1].section('\t', 2, 2)).contains("CPUT")); // stored protected
    for (int variant = 0; variant < 3; ++variant) {               // 3 runs the same sequence as 2
        const QStringList fields = versions[variant].split('\t'); // version, variant, IFT, FCS
        SCOPED_TRACE(versions[variant].toStdString());
        ASSERT_EQ(fields.value(1), QString::number(variant));
        startSim(
            {"--variant", fields[1], "--boot-rate", "115200", "--data-rate", "115200", "--once"});
        startFlash({"--trace", app.filePath("t.log"), fields[2]});
        EXPECT_EQ(finishFlash(), 0) << qPrintable(out);
        EXPECT_EQ(out, "checksum=" + fields[3] + "\n");
        EXPECT_TRUE(
            app.read("t.log").trimmed().endsWith("outcome ok, checksum " + fields[3].toLatin1()));
        // A pseudo-terminal has no serial settings: both opens say so, and nothing changes.
        // Windows has no such flag.
        EXPECT_EQ(app.read("t.log").count("--  OpenPort            low-latency flag: not readable "
                                          "on this port (ENOTTY), nothing changed\n"),
                  kOnWindows ? 0 : 2);
        // Every phase is named once, in the variant's order, however quickly it passed.
        EXPECT_EQ(err.split('\n').filter(QRegularExpression("^\\[\\d/5\\] [^%]*$")).join(','),
                  variant < 2
                      ? "[1/5] Setup 1,[2/5] Erase,[3/5] Setup 2,[4/5] Write,[5/5] Complete"
                      : "[1/5] Setup 1,[2/5] Setup 2,[3/5] Erase,[4/5] Write,[5/5] Complete");
        ASSERT_TRUE(sim.waitForFinished(kWait)); // --once: the target ends with the download
        EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
        // The flash started as 00: what is not image is FF only because of the erase.
        const QByteArray image = app.read(QFileInfo(fields[2]).dir().filePath("IMAGE.BIN"));
        EXPECT_EQ(app.read("flash.bin"), image + QByteArray(0x40000 - image.size(), char(0xFF)));
    }
}

TEST_F(FlashOverPty, ARealLineRunsTheDataPhaseAtItsOwnRateAndFailsWhenItDrops) {
    // target options after the layout (a later option wins), qarnctl options, standard output.
    // One process flashes device after device, each run reopening the port at the boot rate.
    const QString sum = SumText(kFlash);
    const std::tuple<QStringList, QStringList, QString> cases[] = {
        {{"--pace"}, {}, "checksum=" + sum + "\n"},
        {{"--serve"},
         {"--repeat", "2"},
         QString("run 1/2: checksum=%1\nrun 2/2: checksum=%1\nchecksum=%1\n").arg(sum)},
        {{"--drop-at", "data"}, {}, "E342\n"},
        {{"--data-rate", "19200"}, {}, "E340\n"},
        {{}, {"--port", "77"}, "E301\n"}, // no COM77, no /dev/ttyS76
        {{"--bad-flash-sum", "--extra-byte", "flash-sum"},
         {},
         "E370\nFlash ROM check sum error has happened.\n  Correct value: " + sum +
             "\n  Obtained value: " + SumText(kFlash + char(1)) +
             "\n\n  Function: CheckFROMCheckSum\n"}};
    for (const auto &[options, flashOptions, expected] : cases) {
        SCOPED_TRACE(qPrintable(options.join(' ') + flashOptions.join(' ')));
        startSim(layout + options);
        startFlash(flashOptions + QStringList{app.filePath("test.ift")});
        EXPECT_EQ(finishFlash(), expected.startsWith('E') ? 1 : 0);
        EXPECT_TRUE(out.startsWith(expected)) << qPrintable(out);
        // A line that went away reads as a time-out in the system's text: a line says so.
        EXPECT_EQ(err.contains("\nqarnctl flash: the port went away during the step (run-time "
                               "code 8018)"),
                  options.contains("--drop-at"))
            << qPrintable(err);
        sim.terminate();
        EXPECT_TRUE(sim.waitForFinished(5000) && sim.exitCode() == 0);
        EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
        if (out.startsWith("checksum")) {
            EXPECT_EQ(app.read("flash.bin").toHex(), kFlash.toHex());
            // Standard error is no terminal here: a line per tenth of a transfer.
            EXPECT_TRUE(err.contains("\n[1/5] Setup 1 100% (300/300)\n")) << qPrintable(err);
        }
    }
    // A line per run: port and device, outcome, error, the target's checksum, FCS.
    const QString fcs = "0x" + sum, ok = "ok,0," + fcs + "," + fcs;
    const QString pty = kOnWindows ? "COM1,COM1" : "COM1,/dev/pts/";
    EXPECT_EQ(history(4, 5).filter(pty).size(), 6);
    EXPECT_EQ(
        history(11, 14),
        QStringList({ok, ok, ok, "failed,342,," + fcs, "failed,340,," + fcs, "failed,301,," + fcs,
                     "failed,370,0x" + SumText(kFlash + char(1)) + "," + fcs}));
    EXPECT_EQ(history(4, 5)[5], kOnWindows ? "COM77,COM77" : "COM77,");
}

TEST_F(FlashOverPty, AStreamedKernelComparesEveryEchoAndSendsTheLastByteOnlyWhenAllMatched) {
    app.write("test.ift", app.read("test.ift") + "TTO 3\r\n"); // later lines win
    // What the boot program receives for the kernel: its length 012C, then its 300 bytes.
    const QByteArray transfer = QByteArray::fromHex("012C") + Bytes(300, 7);
    struct Case {
        const char *name;
        QStringList sim;    // target options after the layout
        bool stop;          // SIGTERM once the transfer shows progress
        QString out;        // standard output begins so
        QString trace;      // the trace holds this
        qsizetype received; // bytes of the transfer the target received; -1: not all of them
    };
    const QString back = "; line back to 9600,N,8,1\n";
    const QStringList slow{"--pace", "--clock-error", "-30"}; // overruns: silent from then on
    // clang-format off
    const Case cases[] = {
        {"a chip 5 % slow behind an adapter at 16 ms", {"--pace", "--adapter-latency", "16",
         "--clock-error", "-5"}, false, "checksum=" + SumText(kFlash),
         "streamed kernel transfer: every echo matched" + back, 302},
        {"a clean transfer, unpaced", {}, false, "checksum=",
         "DownloadIrd         streamed kernel transfer at 9600,N,8,2: up to ", 302},
        {"a wrong echo in the middle", {"--corrupt-echo", "100"}, false, "E314\n",
         " 102 echoed correctly, the last kernel byte not sent", -1},
        {"a wrong echo of the byte before the last", {"--corrupt-echo", "298"}, false, "E314\n",
         "stopped: 301 bytes sent, 300 echoed correctly, the last kernel byte not sent", 301},
        {"a silent chip", {"--silent-at", "kernel"}, false, "E310\n",
         "outcome failed, error number 310", 1},
        {"a chip 30 % slow", slow, false, "E310\n", "the chip stopped echoing during a streamed "
         "transfer", -1},
        {"Stop", slow, true, "Downloading has been canceled.\n",
         "the last kernel byte not sent", -1}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        startSim(layout + c.sim + QStringList{"--record", app.filePath("rec.bin")});
        startFlash({"--stream", "--trace", app.filePath("t.log"), app.filePath("test.ift")});
        if (c.stop) {
            ASSERT_TRUE(signalAt("% (", kStopSignal)); // once the transfer shows progress
        }
        EXPECT_EQ(finishFlash(), c.stop ? 3 : c.out.startsWith('E') ? 1 : 0);
        EXPECT_TRUE(out.startsWith(c.out)) << qPrintable(out);
        const QString trace = app.read("t.log");
        EXPECT_TRUE(trace.contains(c.trace)) << qPrintable(trace);
        // A transfer cut short puts the line back (after what it learnt of the window, if any).
        if (c.trace.contains("not sent")) {
            EXPECT_TRUE(trace.contains(back)) << qPrintable(trace);
        }
        // An overrun ends the transfer at once, not at the TTO, and says how to download safely.
        if (c.trace.contains("stopped echoing")) {
            EXPECT_TRUE(trace.contains(back)) << qPrintable(trace);
            EXPECT_TRUE(err.contains("qarnctl flash: " + c.trace)) << qPrintable(err);
            EXPECT_TRUE(err.contains("again with STREAM 0 in QARN.ini")) << qPrintable(err);
        }
        sim.terminate(), sim.waitForFinished(5000);
        // After the 00 pattern and 55: the transfer from its start, up to the byte received last.
        const QByteArray record = app.read("rec.bin");
        const QByteArray got = record.mid(record.indexOf('\x55') + 1).left(transfer.size());
        EXPECT_EQ(got.toHex(), transfer.left(got.size()).toHex());
        if (c.received >= 0) {
            EXPECT_EQ(got.size(), c.received);
        } else {
            EXPECT_LT(got.size(), transfer.size());
        }
        if (c.sim == slow) {
            EXPECT_TRUE(sim.readAllStandardError().contains("receive overrun"));
        }
    }
}

TEST_F(FlashOverPty, ASignalStopsARunAtItsNextWaitWithStatusThreeAndTheRunIsRecordedStopped) {
    app.write("test.ift", app.read("test.ift") + "ETO 1E\r\n"); // later lines win
    app.write("verify.ift", app.read("test.ift") + "UT 2\r\nSTO 1E\r\n");
    app.write("sim/QARN.ini", "LANGUAGE 1\r\nPROTOTYPE 1\r\n");
    // In the erase wait, in a simulated run and in the settling pause of a check, each signalled
    // at its phase's line. Only the Stop can end the waits: the target erases for 60 s (ETO
    // 30 s) and does not answer the check's first command after the pause (STO 30 s).
    const std::tuple<QStringList, const char *, QStringList> cases[] = {
        {{app.filePath("test.ift")}, "[3/5] Erase", {}},
        {{"--simulate", "--app-dir", app.filePath("sim"), app.filePath("test.ift")},
         "[1/5] Setup 1",
         {}},
        {{"verify", app.filePath("verify.ift")}, "[2/3] Setup 2", {"--silent-at", "kernel-sum"}}};
    for (const auto &[options, phase, target] : cases) {
        SCOPED_TRACE(phase);
        sim.terminate(), sim.waitForFinished(kWait); // a fresh target for every run
        startSim(layout + QStringList{"--erase-time", "60000"} + target);
        startFlash(options);
        ASSERT_TRUE(signalAt(phase, kStopSignal)) << qPrintable(err);
        EXPECT_TRUE(awaitErr("Ctrl-C again ends it at once")); // the signal has been seen
        EXPECT_EQ(finishFlash(), 3) << qPrintable(err);
        EXPECT_EQ(out, "Downloading has been canceled.\n");
    }
    EXPECT_EQ(history(2, 2) + history(11, 11),
              QStringList({"flash", "verify", "stopped", "stopped"}));
    EXPECT_EQ(history(2, 2, "sim/") + history(11, 11, "sim/"), QStringList({"flash", "stopped"}));
}

TEST_F(FlashOverPty, ASecondSignalEndsARunAtOnceEvenInTheSettlingPauseAndTheRunIsRecorded) {
    // Neither the first signal nor any deadline shortens the pause of 600 s: only the second
    // signal ends the run inside it.
    app.write("pause.ift", app.read("test.ift") + "UT 600\r\n"); // later lines win
    startSim(layout);
    startFlash({"--trace", app.filePath("t.log"), app.filePath("pause.ift")});
    ASSERT_TRUE(signalAt("[2/5] Setup 2", SIGINT)) << qPrintable(err);
    ASSERT_TRUE(signalAt("Ctrl-C again ends it at once", SIGINT)) << qPrintable(err);
    EXPECT_EQ(finishFlash(), 130);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(err.endsWith("qarnctl flash: ended at once, the port closed\n")) << qPrintable(err);
    EXPECT_TRUE(app.read("t.log").contains(" outcome stopped, error number 0, ")); // at the end
    EXPECT_EQ(history(2, 2) + history(11, 11), QStringList({"flash", "stopped"}));
}

TEST_F(FlashOverPty, SimulatedRunsActADownloadAndACheckOutToTheirEndWithoutAChecksum) {
    app.write("sim/QARN.ini", "LANGUAGE 1\r\nPROTOTYPE 1\r\n");
    const QStringList simulate{"--simulate", "--app-dir", app.filePath("sim"),
                               app.filePath("test.ift")};
    // Side by side, each on its own timetable (17 s, 8 s); only their ends are awaited.
    QProcess runs[3];
    StartQarnctl(runs[0], app.path(), QStringList{"flash"} + simulate);
    StartQarnctl(runs[1], app.path(), QStringList{"flash", "--json"} + simulate);
    StartQarnctl(runs[2], app.path(), QStringList{"verify", "--json"} + simulate);
    for (QProcess &run : runs)
        EXPECT_TRUE(run.waitForFinished(2 * kWait) && run.exitCode() == 0);
    const QByteArray flashed = runs[1].readAllStandardOutput();
    EXPECT_EQ(flashed.count("\"outcome\""), 1) << flashed.constData(); // one run, one outcome
    // A simulated run reads neither file: no fingerprint.
    const QByteArray outcome =
        R"({"checksum":"","errno":0,"error":"","image_sha256":"","kernel_sha256":"","outcome":)"
        R"("simulated"})"
        "\n";
    EXPECT_EQ(runs[0].readAllStandardOutput() + flashed.right(outcome.size()),
              "simulated: no device was written\n" + outcome);
    const QByteArray verified = runs[2].readAllStandardOutput(); // the check acted out
    EXPECT_TRUE(verified.contains(R"("total":3000})")) // the checksum read acted out
        << verified.constData();
    EXPECT_TRUE(verified.endsWith(R"({"checksum":"","errno":0,"error":"","fcs":")" +
                                  SumText(kFlash).toLatin1() +
                                  R"(","kernel_sha256":"","outcome":"simulated"})" + '\n'))
        << verified.constData();
    EXPECT_EQ(history(11, 11, "sim/"), QStringList(3, "simulated"));
}

TEST_F(FlashOverPty, AHangUpAndAReaderOfTheOutputGoneOrStandingEndNothingAndHoldUpNothing) {
    // A hang-up in the erase wait, a reader of the output that has gone away and one that stands
    // (standard error a pipe already full, nobody reading) end nothing and hold up nothing: the
    // download runs to its end and the trace has its outcome. No further run of the series
    // starts: nobody is there to put the next device in boot mode.
    if (kOnWindows)
        GTEST_SKIP() << "Windows has no hang-up signal: its hang-up is a closed console window, "
                        "and nothing closes one under Wine";
    startSim(layout + QStringList{"--erase-time", "1500", "--record", app.filePath("got.bin")});
    const QByteArray fifo = QFile::encodeName(app.filePath("stderr.fifo"));
    ASSERT_EQ(::mkfifo(fifo, 0600), 0);
    const int reader = ::open(fifo, O_RDONLY | O_NONBLOCK), filler = ::open(fifo, O_WRONLY);
    ::fcntl(filler, F_SETFL, O_NONBLOCK);
    while (::write(filler, QByteArray(4096, 'x').constData(), 4096) > 0) {
    }
    ::close(filler);
    ctl.setStandardErrorFile(app.filePath("stderr.fifo"));
    startFlash({"--repeat", "2", "--trace", app.filePath("t.log"), app.filePath("test.ift")});
    ctl.closeReadChannel(QProcess::StandardOutput);
    for (QDeadlineTimer end(kWait);
         !app.read("got.bin").contains(QByteArray::fromHex("10012c15")) && !end.hasExpired();)
        ctl.waitForFinished(20); // until the erase command has gone out
    ASSERT_TRUE(ctl.processId() > 0 && ::kill(ctl.processId(), SIGHUP) == 0);
    const QByteArray done = "outcome ok, checksum " + SumText(kFlash).toLatin1();
    for (QDeadlineTimer end(kWait); !app.read("t.log").contains(done) && !end.hasExpired();)
        ctl.waitForFinished(20);
    EXPECT_TRUE(app.read("t.log").trimmed().endsWith(done));
    for (QDeadlineTimer end(kWait); ctl.state() != QProcess::NotRunning && !end.hasExpired();) {
        char drain[4096]; // now the reader reads again
        ctl.waitForFinished(10), void(::read(reader, drain, sizeof drain));
    }
    ::close(reader);
    EXPECT_EQ(ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1, 0);
    sim.terminate(), sim.waitForFinished(kWait);
    EXPECT_EQ(app.read("flash.bin").toHex(), kFlash.toHex());
    EXPECT_EQ(history(11, 11), QStringList{"ok"});
}

TEST_F(FlashOverPty, AResetTargetAnswersTheNextDownloadOnTheSameLink) {
    // SIGUSR1 is the device's reset. A run stopped in the erase wait leaves the chip in its
    // kernel, deaf to the boot rate; once reset it takes the next download. A dropped line comes
    // back under the link, so the next run meets the target again (and its fault), not no port.
    const auto reset = [this] {
        ASSERT_TRUE(sim.processId() > 0 && ::kill(sim.processId(), SIGUSR1) == 0);
        QByteArray said;
        while (!said.contains('\n') && sim.waitForReadyRead(5000))
            said += sim.readAllStandardOutput();
        EXPECT_TRUE(said.startsWith("ready /dev/")) << said.constData();
    };
    startSim(layout + QStringList{"--serve", "--erase-time", "2000"}); // ETO is 3 s
    startFlash({app.filePath("test.ift")});
    ctl.setReadChannel(QProcess::StandardError);
    for (QDeadlineTimer end(kWait); !err.contains("[3/5] Erase") && !end.hasExpired();)
        ctl.waitForReadyRead(100), err += ctl.readAllStandardError();
    ASSERT_TRUE(ctl.processId() > 0 && ::kill(ctl.processId(), kStopSignal) == 0);
    EXPECT_EQ(finishFlash(), 3);
    reset();
    const QString done = "checksum=" + SumText(kFlash) + "\n";
    const std::pair<QStringList, QString> runs[] = {{{}, done}, {{"--drop-at", "data"}, "E342\n"}};
    for (const auto &[fault, expected] : runs) {
        if (!fault.isEmpty()) {
            sim.terminate(), sim.waitForFinished(5000);
            startSim(layout + QStringList{"--serve"} + fault);
        }
        for (int run = 0; run < 2; ++run) {
            ctl.setReadChannel(QProcess::StandardOutput);
            startFlash({app.filePath("test.ift")});
            EXPECT_EQ(finishFlash(), expected == done ? 0 : 1);
            EXPECT_TRUE(out.startsWith(expected)) << qPrintable(out);
            reset();
        }
    }
    EXPECT_TRUE(QFileInfo(app.filePath("COM1")).isSymLink());
}

TEST_F(FlashOverPty, VerifyTellsWhetherTheFlashHoldsTheReleaseAndNeitherErasesNorWrites) {
    // The flash holds 5A throughout: 800 bytes of 5A sum to 2D000, whose last digits are D000.
    const QString sum = SumText(kFlash), read = "adjust adjust-end kernel kernel-sum";
    app.write("match.ift", app.read("test.ift") + "FCS D000\r\n");
    app.write("ucs.ift", app.read("test.ift") + "UCS 0001\r\n");
    app.write("boot.ift", app.read("test.ift") + "CPUT 2\r\n");
    // description, target faults, exit status, the start of standard output (or error), the
    // target's steps (the first with the kernel streamed); a reply with a stray byte behind it
    // gives no verdict, whatever its sum
    const std::tuple<const char *, QString, int, QString, QString> cases[] = {
        {"match.ift", "", 0, "checksum=D000 matches\n", read + " flash-sum"},
        {"test.ift", "", 4, "checksum=D000 differs from FCS " + sum + "\n", read + " flash-sum"},
        {"test.ift", "--extra-byte flash-sum", 1, "E342\n", read + " flash-sum"},
        {"ucs.ift", "", 1, "E371\n", read},
        {"boot.ift", "", 2,
         // Under Wine the folder is on drive Z:, the machine's root.
         "qarnctl verify: " + QString(kOnWindows ? "Z:" : "") + app.filePath("boot.ift") +
             " sets CPUT 1, 2 or 4: the boot program erases the flash right after the bit-rate",
         ""}};
    for (const auto &[ift, faults, status, output, steps] : cases) {
        SCOPED_TRACE(ift + faults.toStdString());
        startSim(layout + QStringList{"--flash-fill", "5A"} +
                 faults.split(' ', Qt::SkipEmptyParts));
        const bool stream = ift == QString("match.ift");
        startFlash({"verify", "--trace", app.filePath("v.log"), app.filePath(ift),
                    stream ? "--stream" : "--port=1"});
        EXPECT_EQ(finishFlash(), status);
        EXPECT_TRUE((out + err).startsWith(output)) << qPrintable(out + err);
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(app.read("steps.txt").replace('\n', ' ').trimmed(), steps.toLatin1());
        EXPECT_EQ(app.read("flash.bin"), QByteArray(0x800, 0x5A));
        EXPECT_EQ(app.read("v.log").contains("streamed kernel transfer at"), stream);
    }
    EXPECT_EQ(history(1, 2), QStringList(4, "qarnctl,verify"));
    EXPECT_EQ(history(11, 14), QStringList({"matches,0,0xD000,0xD000", "differs,0,0xD000,0x" + sum,
                                            "failed,342,,0x" + sum, "failed,371,,0x" + sum}));
}

QString Sha256(const QByteArray &bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

TEST_F(FlashOverPty, SeveralPortsRunAtOnceEachOnItsOwnAndTheSummaryNamesEveryDevice) {
    const QString sum = SumText(kFlash), kernel = Sha256(Bytes(300, 7)), image = Sha256(kImage);
    struct Case {
        const char *name;
        QStringList options;     // qarnctl's, before the description
        QStringList faults[3];   // of the targets on ports 1, 2 and 5
        int status;
        QStringList out;         // lines standard output holds
        QStringList outcomes;    // the history's port, outcome and error, in the order of ports
    };
    const QStringList serve{"--serve"}; // a fresh device after each download
    const Case cases[] = {
        {"a dropped line on port 2, no device on port 7",
         {"--port", "1", "--port", "2", "--port=5", "--port", "7", "--trace", app.filePath("t.log")},
         {{}, {"--drop-at", "data"}, {}},
         1,
         {"COM1: checksum=" + sum, "COM2: E342", "COM5: checksum=" + sum, "COM7: E301",
          "summary: 4 devices: 2 ok, 2 failed"},
         {"COM1,ok,0", "COM2,failed,342", "COM5,ok,0", "COM7,failed,301"}},
        {"JSON lines, two devices after another on each port, a failure ending one series",
         {"--json", "--repeat", "2", "--port", "1", "--port", "5"},
         {serve, {}, serve + QStringList{"--drop-at", "data"}},
         1,
         {R"({"checksum":")" + sum + R"(","errno":0,"error":"","image_sha256":")" + image +
              R"(","kernel_sha256":")" + kernel + R"(","outcome":"ok","port":"COM1","run":2,)"},
         {"COM1,ok,0", "COM1,ok,0", "COM5,failed,342"}},
        {"a check on two ports",
         {"verify", "--port", "1", "--port", "2"},
         {{"--flash-fill", "5A"}, {"--flash-fill", "5A"}, {}},
         4,
         {"COM1: checksum=D000 differs from FCS " + sum, "COM2: checksum=D000 differs from FCS",
          "summary: 2 devices: 2 differs"},
         {"COM1,differs,0", "COM2,differs,0"}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(app.filePath("qarn-history.csv"));
        QProcess *targets[] = {&sim, &others[0], &others[1]};
        for (int i = 0; i < 3; ++i) {
            targets[i]->terminate(), targets[i]->waitForFinished(kWait);
            startSimAt(*targets[i], i == 2 ? 5 : i + 1, layout + c.faults[i]);
        }
        startFlash(c.options + QStringList{app.filePath("test.ift")});
        EXPECT_EQ(finishFlash(), c.status) << qPrintable(err);
        const QStringList lines = out.split('\n');
        for (const QString &line : c.out)
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const QString &l) { return l.startsWith(line); }))
                << qPrintable(line + "\n in \n" + out);
        QStringList outcomes = history(4, 4) + QStringList();
        for (int i = 0; i < outcomes.size(); ++i)
            outcomes[i] += "," + history(11, 12)[i];
        outcomes.sort();
        EXPECT_EQ(outcomes, c.outcomes);
        // The fingerprints of what each run read, against the files' own: the image's only when
        // the run read it whole.
        const QStringList sums = history(16, 17);
        for (int i = 0; i < sums.size(); ++i) {
            const bool whole = history(11, 11)[i] == "ok";
            EXPECT_EQ(sums[i], history(12, 12)[i] == "301" ? "," : kernel + "," + (whole ? image : ""));
        }
        if (c.options.contains("--json")) {
            // Every line carries its port, the summary's too.
            for (const QString &line : lines.mid(0, lines.size() - 1)) {
                const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
                EXPECT_TRUE(object.value("port").toString().startsWith("COM")) << qPrintable(line);
            }
            EXPECT_EQ(out.count(R"("summary":true)"), 3);
        } else if (c.options.contains("--trace")) {
            // Each port's trace carries the port's name; each device got the whole image.
            for (const char *port : {"COM1", "COM2", "COM5", "COM7"})
                EXPECT_TRUE(app.read(QString("t-%1.log").arg(port)).contains(" outcome ")) << port;
            EXPECT_EQ(app.read("flash.bin").toHex(), kFlash.toHex());
            EXPECT_TRUE(err.contains("\nCOM2: qarnctl flash: the port went away during the step"))
                << qPrintable(err);
            EXPECT_TRUE(out.contains(QRegularExpression(
                "\nCOM5 +1 +- +ok +0 +" + sum + " +[0-9.]+ +" + kernel + " +" + image + "\n")))
                << qPrintable(out);
        }
    }
}

TEST_F(FlashOverPty, StopReachesEveryPortASecondSignalEndsEveryRunAndAHangUpStopsNone) {
    if (kOnWindows)
        GTEST_SKIP() << "under Wine the Ctrl-Break handed to the process group of a port's run "
                        "(GenerateConsoleCtrlEvent) does not arrive: the command takes "
                        "the Stop, its ports never see it";
    // The erase of 60 s outlasts ETO (30 s): only a Stop ends it. One of 1.5 s ends by itself.
    app.write("test.ift", app.read("test.ift") + "ETO 1E\r\n"); // later lines win
    const std::tuple<const char *, std::vector<int>, int, const char *> cases[] = {
        {"60000", {SIGTERM}, 3, "stopped"},
        {"60000", {SIGINT, SIGINT}, 130, "stopped"},
        {"1500", {SIGHUP}, 0, "ok"}};
    for (const auto &[eraseTime, sent, status, outcome] : cases) {
        SCOPED_TRACE(int(sent.size()) * 100 + sent[0]);
        QFile::remove(app.filePath("qarn-history.csv"));
        QProcess *targets[] = {&sim, &others[0], &others[1]};
        for (int port = 1; port <= 3; ++port) {
            targets[port - 1]->terminate(), targets[port - 1]->waitForFinished(kWait);
            startSimAt(*targets[port - 1], port, layout + QStringList{"--erase-time", eraseTime});
        }
        startFlash({"--port", "1", "--port", "2", "--port", "3", app.filePath("test.ift")});
        for (const char *port : {"COM1: [3/5] Erase", "COM2: [3/5] Erase", "COM3: [3/5] Erase"})
            ASSERT_TRUE(awaitErr(port)) << qPrintable(err);
        for (size_t i = 0; i < sent.size(); ++i) {
            ASSERT_TRUE(ctl.processId() > 0 && ::kill(ctl.processId(), sent[i]) == 0);
            if (sent[i] != SIGHUP && i + 1 < sent.size()) {
                // Each port has taken the first.
                for (const char *port : {"COM1: qarnctl flash: stopping", "COM2: qarnctl flash: "
                                         "stopping", "COM3: qarnctl flash: stopping"})
                    ASSERT_TRUE(awaitErr(port)) << qPrintable(err);
            }
        }
        EXPECT_EQ(finishFlash(), status) << qPrintable(err);
        EXPECT_EQ(history(11, 11), QStringList(3, outcome));
        EXPECT_EQ(out.count(QRegularExpression(QString("\nCOM[123] +1 +- +") + outcome + " ")), 3)
            << qPrintable(out);
    }
}

TEST_F(FlashOverPty, APortNamedTwiceOrTwoPortsOnOneDeviceAreRefusedBeforeAnyPortOpens) {
    if (kOnWindows)
        GTEST_SKIP() << "two links to one device are this system's; on Windows each COMn is "
                        "a device of its own";
    startSim(layout);
    const QString device = QFileInfo(app.filePath("COM1")).canonicalFilePath();
    ASSERT_TRUE(QFile::link(device, app.filePath("COM3"))); // a second name of the same line
    const std::pair<QStringList, QString> cases[] = {
        {{"--port", "1", "--port", "2", "--port", "1"},
         "qarnctl flash: port 1 is named twice: two runs on one line would garble both\n"},
        {{"--port", "01", "--port", "1"},
         "qarnctl flash: port 1 is named twice: two runs on one line would garble both\n"},
        {{"--port", "1", "--port", "3", "--trace", app.filePath("t.log")},
         "qarnctl flash: ports 1 and 3 both lead to " + device +
             ": two runs on one line would garble both\n"},
        {{"verify", "--port", "3", "--port", "1"},
         "qarnctl verify: ports 3 and 1 both lead to " + device +
             ": two runs on one line would garble both\n"},
        {{"--port", "COM2", "--port", "1"},
         "qarnctl flash: --port needs a port number of 1 to 32767, not 'COM2'\n"}};
    for (const auto &[options, message] : cases) {
        SCOPED_TRACE(qPrintable(options.join(' ')));
        startFlash(options + QStringList{app.filePath("test.ift")});
        EXPECT_EQ(finishFlash(), 2);
        EXPECT_EQ(err, message);
        EXPECT_EQ(out, "");
    }
    // Nothing reached the line, nothing was recorded or traced.
    sim.terminate(), sim.waitForFinished(kWait);
    EXPECT_EQ(app.read("steps.txt"), "");
    EXPECT_FALSE(app.exists("qarn-history.csv") || app.exists("t-COM1.log"));
}

TEST_F(FlashOverPty, ANarrowTerminalAndAReaderThatWentAwayChangeNothingOfTheRuns) {
    if (kOnWindows)
        GTEST_SKIP() << "the narrow terminal is a pseudo-terminal, which a Windows program "
                        "does not see as a console";
    startSimAt(sim, 1, layout);
    startSimAt(others[0], 2, layout);
    // Standard error a terminal 12 columns wide, narrower than a port's line, standard output a
    // pipe whose reader goes away once the runs are under way.
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    struct winsize size = {};
    size.ws_row = 24, size.ws_col = 12;
    ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
    const QByteArray fifo = QFile::encodeName(app.filePath("stdout.fifo"));
    ASSERT_EQ(::mkfifo(fifo, 0600), 0);
    int reader = ::open(fifo, O_RDONLY | O_NONBLOCK);
    ctl.setStandardErrorFile(QString::fromLatin1(::ptsname(terminal)));
    ctl.setStandardOutputFile(app.filePath("stdout.fifo"));
    startFlash({"--port", "1", "--port", "2", app.filePath("test.ift")});
    QByteArray drawn;
    for (QDeadlineTimer end(kWait); !end.hasExpired();) {
        const bool ended = ctl.state() == QProcess::NotRunning;
        char bytes[4096];
        for (ssize_t n; (n = ::read(terminal, bytes, sizeof bytes)) > 0;)
            drawn.append(bytes, n);
        if (reader >= 0 && drawn.contains("COM2"))
            ::close(reader), reader = -1; // the reader goes away once the lines are drawn
        if (ended)
            break;
        ctl.waitForFinished(20);
    }
    EXPECT_LT(reader, 0) << "the runs were never seen writing";
    ::close(terminal);
    EXPECT_EQ(ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1, 0);
    EXPECT_EQ(history(11, 11), QStringList(2, "ok"));
    // The port's lines, redrawn in place, never reach the last column: the last ones were
    // "COM1   -  ok" and "COM2   -  ok".
    const QStringList lines = QString::fromUtf8(drawn)
                                  .remove(QRegularExpression("\x1b\\[\\d*[AJ]|\r"))
                                  .split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"COM1   -  o", "COM2   -  o"}));
    for (const QString &line : lines)
        EXPECT_LE(line.size(), 11) << qPrintable(line);
    for (QProcess *target : {&sim, &others[0]})
        target->terminate(), target->waitForFinished(kWait);
    EXPECT_EQ(app.read("flash.bin").toHex(), kFlash.toHex());
    EXPECT_EQ(app.read("flash-2.bin").toHex(), kFlash.toHex());
}

} // namespace
