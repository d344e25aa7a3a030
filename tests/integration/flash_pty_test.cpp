// qarnctl flash against qarn-target-sim over a real pseudo-terminal: each variant to success
// with the image in the target's flash, the target's faults ending in their error numbers, a
// dropped line failing at once, and SIGTERM stopping a run.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>

namespace {

constexpr uint32_t kFlashStart = 0x20000;
constexpr int kFlashSize = 0x800;
constexpr int kBlock = 256;
constexpr int kWait = 20000; // ms; every time-out of the descriptions is far below it

QByteArray kernelBytes() {
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(static_cast<char>((i * 13 + 5) & 0xFF));
    return bytes;
}

// Block 0 data, block 1 all FF (skipped with the blank command), block 2 data, and a last
// block of 100 bytes that the host pads with FF.
QByteArray imageBytes() {
    QByteArray bytes;
    for (int i = 0; i < kBlock; ++i)
        bytes.append(static_cast<char>(i));
    bytes.append(QByteArray(kBlock, static_cast<char>(0xFF)));
    for (int i = 0; i < kBlock + 100; ++i)
        bytes.append(static_cast<char>(0xC0 ^ (i & 0x3F)));
    return bytes;
}

QByteArray expectedFlash() {
    QByteArray flash = imageBytes();
    flash.append(QByteArray(kFlashSize - flash.size(), static_cast<char>(0xFF)));
    return flash;
}

QString sumText(const QByteArray &bytes) {
    uint32_t sum = 0;
    for (char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    return QString::number(sum & 0xFFFF, 16).toUpper().rightJustified(4, '0');
}

struct FlashResult {
    int exitCode = -1;
    bool exitedNormally = false;
    QString out;
    QString err;
    QStringList outLines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

class FlashOverPty : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "integration_tests";
            static char *argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    FlashOverPty() { writeFiles("0"); }

    ~FlashOverPty() override {
        for (QProcess *process : {&m_ctl, &m_sim}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
    }

    // QARN.ini (port 1, English unless told) and a description with short time-outs (hex
    // seconds) beside its kernel and image.
    void writeFiles(const QString &cput, const QStringList &extraLines = {}, int language = 1) {
        app.write("QARN.ini", QString("LANGUAGE %1\r\nPORT 1\r\n").arg(language).toLatin1());
        app.write("fw/kernel.bin", kernelBytes());
        app.write("fw/image.bin", imageBytes());
        QStringList lines = {
            "CPUT " + cput,
            "DF kernel.bin",
            "UT 0.2",
            "UCS " + sumText(kernelBytes()),
            "PFN image.bin",
            QString("FSA %1").arg(kFlashStart, 8, 16, QChar('0')),
            QString("FEA %1").arg(kFlashStart + kFlashSize - 1, 8, 16, QChar('0')),
            "FCS " + sumText(expectedFlash()),
            "ATO 1",
            "ETO 3",
            "STO 1",
            "TTO 14",
            "DTO 2",
            "WTO 1",
            QString("PDSIZE %1").arg(kBlock),
        };
        lines += extraLines; // later lines win
        app.write("fw/test.ift", (lines.join("\r\n") + "\r\n").toLatin1());
    }

    // Starts the target on COM1 of the application folder and waits until it listens.
    void startSim(const QStringList &extra) {
        QStringList args = {"--link",        app.filePath("COM1"),
                            "--flash-start", QString::number(kFlashStart, 16),
                            "--flash-size",  QString::number(kFlashSize, 16),
                            "--block-size",  QString::number(kBlock),
                            "--flash-fill",  "00",
                            "--save-flash",  app.filePath("flash.bin")};
        m_sim.start(TARGET_SIM_PATH, args + extra);
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        QDeadlineTimer deadline(5000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired() && m_sim.waitForReadyRead(200))
            out += m_sim.readAllStandardOutput();
        ASSERT_TRUE(out.startsWith("ready /dev/")) << out.constData();
        ASSERT_TRUE(QFileInfo(app.filePath("COM1")).isSymLink());
    }

    void startFlash(const QStringList &extra = {}) {
        m_ctl.start(QARNCTL_PATH, QStringList{"flash", "--app-dir", app.path()} + extra +
                                      QStringList{app.filePath("fw/test.ift")});
        ASSERT_TRUE(m_ctl.waitForStarted(5000));
    }

    // Waits until qarnctl has written `text` on standard error (or has ended); all of it so far.
    QByteArray waitForStderr(const QByteArray &text) {
        m_ctl.setReadChannel(QProcess::StandardError);
        QDeadlineTimer deadline(kWait);
        QByteArray err;
        while (!err.contains(text) && !deadline.hasExpired() &&
               m_ctl.state() == QProcess::Running) {
            m_ctl.waitForReadyRead(200);
            err += m_ctl.readAllStandardError();
        }
        return err;
    }

    FlashResult finishFlash() {
        FlashResult result;
        EXPECT_TRUE(m_ctl.waitForFinished(kWait)) << "qarnctl did not end";
        result.exitedNormally = m_ctl.exitStatus() == QProcess::NormalExit;
        result.exitCode = m_ctl.exitCode();
        result.out = QString::fromUtf8(m_ctl.readAllStandardOutput());
        result.err = QString::fromUtf8(m_ctl.readAllStandardError());
        return result;
    }

    FlashResult flash(const QStringList &extra = {}) {
        startFlash(extra);
        return finishFlash();
    }

    // SIGTERM to the target: it saves its flash, removes its link and exits 0.
    QByteArray stopSimAndReadFlash() {
        m_sim.terminate();
        EXPECT_TRUE(m_sim.waitForFinished(5000));
        EXPECT_EQ(m_sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_sim.exitCode(), 0);
        EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
        return app.read("flash.bin");
    }

    TempAppDir app;
    QProcess m_sim;
    QProcess m_ctl;
};

struct VariantCase {
    const char *cput;
    const char *variant;
};

class FlashVariant : public FlashOverPty, public ::testing::WithParamInterface<VariantCase> {};

void PrintTo(const VariantCase &c, std::ostream *os) {
    *os << "CPUT " << c.cput;
}

TEST_P(FlashVariant, WritesTheImageAndPrintsTheFlashChecksumLast) {
    writeFiles(GetParam().cput);
    app.write("torvane.cha", "MODEL X\r\n");
    startSim({"--variant", GetParam().variant});
    const FlashResult result = flash();
    // The host's hand-off file is not qarnctl's business.
    EXPECT_EQ(app.read("torvane.cha"), "MODEL X\r\n");
    EXPECT_FALSE(app.exists("torvane.cha.bak"));
    EXPECT_FALSE(app.exists("torvane.cha.buk"));
    EXPECT_EQ(result.exitCode, 0) << qPrintable(result.out + result.err);
    ASSERT_FALSE(result.outLines().isEmpty());
    EXPECT_EQ(result.outLines().last(), "checksum=" + sumText(expectedFlash()));
    // Every phase is named once, in the variant's order, however quickly it passed.
    const QStringList eraseFirst = {"[1/5] Setup 1", "[2/5] Erase", "[3/5] Setup 2", "[4/5] Write",
                                    "[5/5] Complete"};
    const QStringList eraseLater = {"[1/5] Setup 1", "[2/5] Setup 2", "[3/5] Erase", "[4/5] Write",
                                    "[5/5] Complete"};
    const QStringList phases = result.err.split('\n', Qt::SkipEmptyParts)
                                   .filter(QRegularExpression("^\\[\\d/5\\] [^%]*$"));
    EXPECT_EQ(phases, QString(GetParam().variant) < "2" ? eraseFirst : eraseLater)
        << qPrintable(result.err);

    const QByteArray flash = stopSimAndReadFlash();
    ASSERT_EQ(flash.size(), kFlashSize);
    // The flash started as 00: the blank block and the tail are FF only because of the erase.
    EXPECT_EQ(flash.mid(kBlock, kBlock), QByteArray(kBlock, static_cast<char>(0xFF)));
    EXPECT_EQ(flash.toHex(), expectedFlash().toHex());
}

INSTANTIATE_TEST_SUITE_P(Variants, FlashVariant,
                         ::testing::Values(VariantCase{"0", "0"}, VariantCase{"3", "0"},
                                           VariantCase{"1", "1"}, VariantCase{"4", "1"},
                                           VariantCase{"5", "2"}, VariantCase{"6", "3"}));

TEST_F(FlashOverPty, DataPhaseRunsAtTheSecondBitRateOnAPacedLine) {
    // At 9600 bit/s every kernel byte and its echo take about 2 ms on the wire: the kernel
    // transfer lasts long enough for the progress display to see it.
    writeFiles("5", {"BRATE 9600", "BRATE2 38400"});
    startSim({"--variant", "2", "--boot-rate", "9600", "--data-rate", "38400", "--pace",
              "--erase-time", "300", "--write-time", "20"});
    const FlashResult result = flash();
    EXPECT_EQ(result.exitCode, 0) << qPrintable(result.out + result.err);
    EXPECT_EQ(stopSimAndReadFlash().toHex(), expectedFlash().toHex());

    // Standard error is no terminal here: a line per phase and per tenth of a transfer.
    const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
    const QStringList kernel = lines.filter(QRegularExpression("^\\[1/5\\] Setup 1 \\d+%"));
    ASSERT_GE(kernel.size(), 2) << qPrintable(result.err);
    EXPECT_EQ(kernel.last(), "[1/5] Setup 1 100% (300/300)");
    int previous = -10;
    for (const QString &line : kernel) {
        const int percent = line.section(' ', 3, 3).chopped(1).toInt();
        EXPECT_GT(percent / 10, previous / 10) << qPrintable(line);
        previous = percent;
    }
    EXPECT_EQ(lines.first(), "[1/5] Setup 1");
    EXPECT_TRUE(lines.contains("[3/5] Erase")) << qPrintable(result.err);
    EXPECT_EQ(lines.last(), "[5/5] Complete");
}

TEST_F(FlashOverPty, OnceEndsTheTargetAfterOneDownloadAndAStaleLinkIsReplaced) {
    ASSERT_TRUE(QFile::link(app.filePath("gone"), app.filePath("COM1")));
    startSim({"--variant", "0", "--once"});
    const FlashResult result = flash();
    EXPECT_EQ(result.exitCode, 0) << qPrintable(result.out + result.err);
    ASSERT_TRUE(m_sim.waitForFinished(kWait));
    EXPECT_EQ(m_sim.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
    EXPECT_EQ(app.read("flash.bin").toHex(), expectedFlash().toHex());
}

struct FaultCase {
    const char *name;
    const char *cput;
    QStringList simArgs;
    int errNo;
    const char *function; // step named in the error text ("" when none is)
};

class FlashFault : public FlashOverPty, public ::testing::WithParamInterface<FaultCase> {};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

TEST_P(FlashFault, FailsWithTheStepsErrorNumber) {
    const FaultCase &c = GetParam();
    writeFiles(c.cput);
    const QString variant = QString(c.cput) == "5" ? "2" : QString(c.cput);
    startSim(QStringList{"--variant", variant} + c.simArgs);
    const FlashResult result = flash();
    EXPECT_TRUE(result.exitedNormally);
    EXPECT_EQ(result.exitCode, 1) << qPrintable(result.out + result.err);
    const QStringList lines = result.outLines();
    ASSERT_GE(lines.size(), 2) << qPrintable(result.out);
    EXPECT_EQ(lines.first(), QString("E%1").arg(c.errNo)) << qPrintable(result.out);
    if (QString(c.function).isEmpty())
        EXPECT_FALSE(result.out.contains("Function:")) << qPrintable(result.out);
    else
        EXPECT_EQ(lines.last(), QString("  Function: %1").arg(c.function))
            << qPrintable(result.out);
    EXPECT_FALSE(result.out.contains('\r'));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFault,
    ::testing::Values(
        FaultCase{"NoAdjustAnswer", "0", {"--no-adjust-answer"}, 302, "AdjBitRate"},
        FaultCase{"WrongAdjustAnswer", "0", {"--adjust-answer", "80"}, 303, "AdjBitRate"},
        FaultCase{"ExtraByteAfterAdjust", "0", {"--extra-byte", "adjust"}, 304, "AdjBitRate"},
        FaultCase{"WrongAnswerTo55", "0", {"--ack-answer", "11"}, 312, ""},
        FaultCase{"CorruptEcho", "0", {"--corrupt-echo", "17"}, 314, "DownloadIrd"},
        FaultCase{"BootEraseFails", "0", {"--erase-fail"}, 350, "WaitErase"},
        FaultCase{"EraseBeforeKernelFails", "1", {"--erase-fail"}, 350, "WaitErase"},
        FaultCase{"KernelEraseFails", "5", {"--erase-fail"}, 350, "EraseFROM"},
        FaultCase{"WriteFailsFFFF", "0", {"--write-fail", "0"}, 360, "DownloadPrg"},
        FaultCase{"WriteFails0001", "5", {"--write-fail", "2:0001"}, 361, "DownloadPrg"},
        FaultCase{"WrongBlockSum", "1", {"--bad-block-sum", "2"}, 341, "DownloadPrg"},
        FaultCase{"NoWriteAnswer", "0", {"--silent-at", "write"}, 344, "DownloadPrg"},
        FaultCase{"WrongDataBitRate", "5", {"--data-rate", "19200"}, 340, "CheckIrd"},
        FaultCase{"LineDroppedInTheKernel", "0", {"--drop-at", "kernel"}, 313, "DownloadIrd"},
        FaultCase{"LineDroppedInABlock", "5", {"--drop-at", "data"}, 342, "DownloadPrg"}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

TEST_F(FlashOverPty, WrongFlashChecksumShowsTheCorrectAndTheObtainedValue) {
    startSim({"--variant", "0", "--bad-flash-sum"});
    const FlashResult result = flash();
    EXPECT_EQ(result.exitCode, 1);
    const QString good = sumText(expectedFlash());
    const QString obtained = QString::number((good.toUInt(nullptr, 16) + 1) & 0xFFFF, 16)
                                 .toUpper()
                                 .rightJustified(4, '0');
    const QString expected = "E370\n"
                             "Flash ROM check sum error has happened.\n"
                             "  Correct value: " +
                             good +
                             "\n"
                             "  Obtained value: " +
                             obtained +
                             "\n"
                             "\n"
                             "  Function: CheckFROMCheckSum\n";
    EXPECT_EQ(result.out, expected);
}

TEST_F(FlashOverPty, SigtermStopsTheRunWithTheCancelMessage) {
    writeFiles("0", {"ETO 1E"}); // 30 s erase time-out: only the stop can end the wait soon
    startSim({"--variant", "0", "--erase-time", "60000"});
    startFlash();
    const QByteArray err = waitForStderr("[2/5] Erase");
    ASSERT_TRUE(err.contains("[2/5] Erase")) << err.constData();
    m_ctl.terminate(); // SIGTERM
    const FlashResult result = finishFlash();
    EXPECT_TRUE(result.exitedNormally);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, "Downloading has been canceled.\n");
}

TEST_F(FlashOverPty, JapaneseNamesThePhasesAndTheFailureInJapanese) {
    writeFiles("0", {}, 0);
    startSim({"--variant", "0", "--adjust-answer", "80"});
    const FlashResult result = flash();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith(QString::fromUtf8("[1/5] セットアップ 1\n")))
        << qPrintable(result.err);
    EXPECT_TRUE(result.out.endsWith(QString::fromUtf8("  関数: AdjBitRate\n")))
        << qPrintable(result.out);
}

TEST_F(FlashOverPty, PortOptionOverridesTheSettingsFile) {
    startSim({"--variant", "0"});
    const FlashResult wrongPort = flash({"--port", "77"}); // COM77 is not there
    EXPECT_EQ(wrongPort.exitCode, 1);
    EXPECT_TRUE(wrongPort.out.startsWith("E301\n")) << qPrintable(wrongPort.out);

    app.write("QARN.ini", "LANGUAGE 1\r\nPORT 5\r\n");
    const FlashResult rightPort = flash({"--port", "1"});
    EXPECT_EQ(rightPort.exitCode, 0) << qPrintable(rightPort.out + rightPort.err);
}

TEST_F(FlashOverPty, UnreadableDescriptionFailsBeforeAnyPortIsOpened) {
    ASSERT_TRUE(QFile::remove(app.filePath("fw/test.ift")));
    const FlashResult result = flash();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.startsWith("E120\nCould not open the selected file.\n"))
        << qPrintable(result.out);
}

TEST_F(FlashOverPty, UsageErrorsExitWithTwoAndHelpWithZero) {
    QProcess ctl;
    ctl.start(QARNCTL_PATH, {"flash"});
    ASSERT_TRUE(ctl.waitForFinished(kWait));
    EXPECT_EQ(ctl.exitCode(), 2);
    ctl.start(QARNCTL_PATH, {"flash", "a.ift", "b.ift"});
    ASSERT_TRUE(ctl.waitForFinished(kWait));
    EXPECT_EQ(ctl.exitCode(), 2);
    ctl.start(QARNCTL_PATH, {"flash", "--help"});
    ASSERT_TRUE(ctl.waitForFinished(kWait));
    EXPECT_EQ(ctl.exitCode(), 0);
    EXPECT_TRUE(ctl.readAllStandardOutput().contains("checksum=XXXX"));
}

TEST_F(FlashOverPty, SimulationModeStopsOnSigtermWithoutAnyPort) {
    app.write("QARN.ini", "LANGUAGE 1\r\nPORT 1\r\nPROTOTYPE 1\r\n");
    startFlash(); // no target, no COM1: the simulated run needs neither
    const QByteArray err = waitForStderr("[1/5] Setup 1");
    ASSERT_TRUE(err.contains("[1/5] Setup 1")) << err.constData();
    m_ctl.terminate();
    const FlashResult result = finishFlash();
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, "Downloading has been canceled.\n");
}

TEST_F(FlashOverPty, DroppedLineTakesTheLinkAwayAndTheTargetStaysUntilTerminated) {
    startSim({"--variant", "0", "--drop-at", "kernel"});
    const FlashResult result = flash();
    EXPECT_TRUE(result.out.startsWith("E313\n")) << qPrintable(result.out);
    EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
    EXPECT_EQ(m_sim.state(), QProcess::Running);
    m_sim.terminate();
    ASSERT_TRUE(m_sim.waitForFinished(5000));
    EXPECT_EQ(m_sim.exitCode(), 0);
}

TEST_F(FlashOverPty, TargetEndsOnSigintAndRemovesItsLink) {
    startSim({"--variant", "2"});
    ::kill(static_cast<pid_t>(m_sim.processId()), SIGINT);
    ASSERT_TRUE(m_sim.waitForFinished(5000));
    EXPECT_EQ(m_sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_sim.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(app.filePath("COM1")).isSymLink());
}

TEST_F(FlashOverPty, TargetRefusesBadOptionsAndAFileInPlaceOfTheLink) {
    QProcess sim;
    sim.start(TARGET_SIM_PATH, {"--link", app.filePath("COM1"), "--variant", "7"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_TRUE(sim.readAllStandardError().contains("--variant"));

    app.write("COM1", "not a link");
    sim.start(TARGET_SIM_PATH, {"--link", app.filePath("COM1")});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 1);
    EXPECT_EQ(app.read("COM1"), "not a link");
}

} // namespace
