// qarnctl flash against qarn-target-sim over a real pseudo-terminal: a download per sequence
// variant with the image in the target's saved flash, the failures that only a real line shows,
// SIGTERM stopping a run, and one process flashing device after device.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

constexpr int kWait = 30000; // ms; every time-out of the descriptions is far below it
constexpr int kFlashSize = 0x800;

QByteArray Bytes(int count, int seed) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char((i * seed + 5) & 0xFF);
    return bytes;
}

// Block 0 data, block 1 blank (skipped), block 2 data and a last block the host pads with FF.
const QByteArray kImage = Bytes(256, 1) + QByteArray(256, char(0xFF)) + Bytes(356, 13);
const QByteArray kFlash = kImage + QByteArray(kFlashSize - kImage.size(), char(0xFF));

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
    FlashOverPty() {
        app.write("QARN.ini", "LANGUAGE 1\r\nPORT 1\r\n");
        app.write("fw/kernel.bin", Bytes(300, 7));
        app.write("fw/image.bin", kImage);
        describe("0");
    }
    ~FlashOverPty() override {
        sim.terminate();
        sim.waitForFinished(5000);
    }
    // A description with short time-outs (hexadecimal seconds); later lines win.
    void describe(const QString &cput, const QString &extra = {}) {
        app.write("fw/test.ift",
                  ("CPUT " + cput + "\r\nDF kernel.bin\r\nUT 0.2\r\nUCS " + SumText(Bytes(300, 7)) +
                   "\r\nPFN image.bin\r\nFSA 00020000\r\nFEA 000207FF\r\nFCS " + SumText(kFlash) +
                   "\r\nATO 1\r\nETO 3\r\nSTO 1\r\nTTO 14\r\nDTO 2\r\nWTO 1\r\n"
                   "PDSIZE 256\r\n" +
                   extra)
                      .toLatin1());
    }
    // Starts the target linked as COM1 of the application folder and waits until it listens.
    void startSim(const QStringList &extra) {
        sim.start(TARGET_SIM_PATH, QStringList{"--link", app.filePath("COM1")} + layout + extra);
        QByteArray out;
        while (!out.contains('\n') && sim.waitForReadyRead(5000))
            out += sim.readAllStandardOutput();
        ASSERT_TRUE(out.startsWith("ready /dev/")) << out.constData();
    }
    void startFlash(const QStringList &extra = {}) {
        ctl.start(QARNCTL_PATH,
                  QStringList{"flash", "--app-dir", app.path()} + extra + QStringList{ift});
    }
    // Exit code; standard output and error in `out` and `err`.
    int finishFlash() {
        EXPECT_TRUE(ctl.waitForFinished(kWait)) << "qarnctl did not end";
        out = QString::fromUtf8(ctl.readAllStandardOutput());
        err = QString::fromUtf8(ctl.readAllStandardError());
        return ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
    }
    int flash(const QStringList &extra = {}) {
        startFlash(extra);
        return finishFlash();
    }

    TempAppDir app;
    QProcess sim, ctl;
    QString out, err;
    QString ift = app.filePath("fw/test.ift");
    QStringList layout = {
        "--flash-start", "20000",        "--flash-size", "800",          "--block-size",
        "256",           "--flash-fill", "00",           "--save-flash", app.filePath("flash.bin")};
};

TEST_F(FlashOverPty, EachSequenceVariantWritesTheImageIntoTheTargetsFlash) {
    ASSERT_TRUE(QFile::link(app.filePath("gone"), app.filePath("COM1"))); // a stale link
    // CPUT, the target's variant, description lines, target options (a paced line changing
    // its bit rate between the phases for the last)
    const std::tuple<const char *, const char *, const char *, QStringList> cases[] = {
        {"3", "0", "", {}},
        {"4", "1", "", {}},
        {"6",
         "3",
         "BRATE 9600\r\nBRATE2 38400\r\n",
         {"--boot-rate", "9600", "--data-rate", "38400", "--pace", "--erase-time", "300"}}};
    for (const auto &[cput, variant, lines, options] : cases) {
        SCOPED_TRACE(cput);
        describe(cput, lines);
        startSim(QStringList{"--variant", variant, "--once"} + options);
        EXPECT_EQ(flash(), 0) << qPrintable(out + err);
        EXPECT_EQ(out, "checksum=" + SumText(kFlash) + "\n");
        // Every phase is named once, in the variant's order, however quickly it passed.
        const QStringList phases =
            err.split('\n').filter(QRegularExpression("^\\[\\d/5\\] [^%]*$"));
        EXPECT_EQ(phases.join(','),
                  QString(variant) < "2"
                      ? "[1/5] Setup 1,[2/5] Erase,[3/5] Setup 2,[4/5] Write,[5/5] Complete"
                      : "[1/5] Setup 1,[2/5] Setup 2,[3/5] Erase,[4/5] Write,[5/5] Complete");
        ASSERT_TRUE(sim.waitForFinished(kWait)); // --once: the target ends with the download
        EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
        // The flash started as 00: the blank block and the tail are FF only because of the erase.
        EXPECT_EQ(app.read("flash.bin").toHex(), kFlash.toHex());
    }
    // Standard error is no terminal here: a line per tenth of a transfer.
    EXPECT_TRUE(err.contains("\n[1/5] Setup 1 100% (300/300)\n")) << qPrintable(err);
}

TEST_F(FlashOverPty, TheFailuresOfARealLineEndInTheStepsNumber) {
    // target options, qarnctl options, standard output
    const std::tuple<QStringList, QStringList, QString> cases[] = {
        {{"--drop-at", "kernel"}, {}, "E313\n"},
        {{"--drop-at", "data"}, {}, "E342\n"},
        {{"--data-rate", "19200"}, {}, "E340\n"},
        {{}, {"--port", "77"}, "E301\n"}, // no COM77, no /dev/ttyS76
        {{"--bad-flash-sum", "--extra-byte", "flash-sum"},
         {},
         "E370\nFlash ROM check sum error has happened.\n  Correct value: " + SumText(kFlash) +
             "\n  Obtained value: " + SumText(kFlash + char(1)) +
             "\n\n  Function: CheckFROMCheckSum\n"}};
    describe("5");
    for (const auto &[options, flashOptions, expected] : cases) {
        SCOPED_TRACE(qPrintable(options.join(' ') + flashOptions.join(' ')));
        startSim(QStringList{"--variant", "2"} + options);
        EXPECT_EQ(flash(flashOptions), 1);
        EXPECT_TRUE(out.startsWith(expected)) << qPrintable(out);
        EXPECT_FALSE(out.contains('\r'));
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 0);
        EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
    }
}

TEST_F(FlashOverPty, SigtermStopsTheRunWithTheCancelMessage) {
    describe("0", "ETO 1E\r\n"); // 30 s erase time-out: only the stop can end the wait soon
    startSim({"--variant", "0", "--erase-time", "60000"});
    startFlash();
    ctl.setReadChannel(QProcess::StandardError);
    QDeadlineTimer deadline(kWait);
    while (!err.contains("[2/5] Erase") && !deadline.hasExpired() && ctl.waitForReadyRead(200))
        err += ctl.readAllStandardError();
    ctl.terminate();
    EXPECT_EQ(finishFlash(), 3);
    EXPECT_EQ(out, "Downloading has been canceled.\n");
}

TEST_F(FlashOverPty, OneProcessFlashesDeviceAfterDeviceEachRunReopeningThePort) {
    describe("5", "FSA 00020000\r\nFEA 000200FF\r\nFCS " + SumText(kFlash.left(256)) + "\r\n");
    for (const bool serve : {true, false}) {
        SCOPED_TRACE(serve);
        startSim(serve ? QStringList{"--variant", "2", "--serve"} : QStringList{"--variant", "2"});
        EXPECT_EQ(flash({"--repeat", "3"}), serve ? 0 : 1);
        const QString sum = SumText(kFlash.left(256));
        // Without --serve the second run meets a finished target: the loaded kernel takes the
        // 00 pattern for line noise, and the first failure ends the series.
        const QString runs = serve ? "run 1/3: checksum=%1\nrun 2/3: checksum=%1\nrun 3/3: "
                                     "checksum=%1\nchecksum=%1\n"
                                   : "run 1/3: checksum=%1\nrun 2/3: E302\nE302\n";
        EXPECT_TRUE(out.startsWith(runs.arg(sum))) << qPrintable(out);
        sim.terminate();
        sim.waitForFinished(5000);
    }
}

TEST_F(FlashOverPty, TheDemoFolderHoldsAVersionPerVariantThatDownloads) {
    // option, value, exit status, message: a refusal writes nothing
    const std::tuple<const char *, const char *, int, const char *> refusals[] = {
        {"--rate", "fast", 2, "--rate needs a number"},
        {"--colour", "", 2, "unknown argument '--colour'"},
        {"--out", "a b", 1, "must not contain blanks"}};
    for (const auto &[option, value, status, message] : refusals) {
        QProcess make;
        make.start(MAKE_DEMO_APP_PATH, {"--out", app.filePath("x"), option, app.filePath(value)});
        ASSERT_TRUE(make.waitForFinished(kWait));
        EXPECT_EQ(make.exitCode(), status);
        EXPECT_TRUE(make.readAllStandardError().contains(message)) << option;
        EXPECT_FALSE(app.exists("x/torvane.cha"));
    }
    QProcess make;
    make.start(MAKE_DEMO_APP_PATH, {"--out", app.path(), "--bin", BIN_DIR, "--kernel-size", "1024",
                                    "--image-size", "8192"});
    ASSERT_TRUE(make.waitForFinished(kWait));
    ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(app.filePath("qarn")).isExecutable());
    layout = {"--boot-rate", "115200", "--data-rate", "115200", "--once"};
    const QStringList versions = QString(app.read("demo-versions.txt")).split('\n');
    ASSERT_EQ(versions.size(), 5) << versions.join('\n').toStdString();
    for (int variant = 0; variant < 3; ++variant) {               // 3 runs the same sequence as 2
        const QStringList fields = versions[variant].split('\t'); // version, variant, IFT, FCS
        SCOPED_TRACE(versions[variant].toStdString());
        ASSERT_EQ(fields.value(1), QString::number(variant));
        startSim({"--variant", fields[1]});
        ift = fields[2];
        EXPECT_EQ(flash({"--trace", app.filePath("t.log")}), 0) << qPrintable(out);
        EXPECT_EQ(out, "checksum=" + fields[3] + "\n");
        EXPECT_TRUE(
            app.read("t.log").trimmed().endsWith("outcome ok, checksum " + fields[3].toLatin1()));
        ASSERT_TRUE(sim.waitForFinished(kWait)); // --once: the target ends with the download
    }
    EXPECT_FALSE(app.read(versions[1].section('\t', 2, 2)).contains("CPUT")); // stored protected
}

} // namespace
