// qarnctl flash --repeat against qarn-target-sim --serve over a pseudo-terminal: every run
// opens the port the run before it closed and meets a freshly reset target; the first failure
// ends the series.

#include "temp_app_dir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kWait = 30000; // ms

// Kernel 5 bytes 01 22 33 44 F0 (sum 018A); image 16 bytes 10..1F; flash 0x100 bytes at 0, so
// the flash sum is 0x10 + ... + 0x1F plus 240 bytes of FF: 0x0118 + 0xEF10 = 0xF088.
const QByteArray kDescription = "CPUT 5\r\nDF k.bin\r\nUT 0.1\r\nUCS 018A\r\nPFN i.bin\r\n"
                                "FSA 00000000\r\nFEA 000000FF\r\nFCS F088\r\nATO 1\r\nETO 2\r\n"
                                "STO 1\r\nTTO 3\r\nDTO 1\r\nWTO 1\r\nPDSIZE 16\r\n"
                                "BRATE 115200\r\n";

class RepeatRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "repeat_tests";
            static char *argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    RepeatRun() {
        app.write("QARN.ini", "LANGUAGE 1\r\nPORT 1\r\n");
        app.write("k.bin", QByteArray::fromHex("01223344f0"));
        QByteArray image;
        for (int i = 0; i < 16; ++i)
            image.append(static_cast<char>(0x10 + i));
        app.write("i.bin", image);
        app.write("fw.ift", kDescription);
    }

    ~RepeatRun() override {
        m_sim.terminate();
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
    }

    void startSim(const QStringList &extra) {
        m_sim.start(TARGET_SIM_PATH, QStringList{"--link", app.filePath("COM1"), "--variant", "2",
                                                 "--block-size", "16", "--flash-size", "100",
                                                 "--boot-rate", "115200", "--data-rate", "115200"} +
                                         extra);
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        QDeadlineTimer deadline(5000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired() && m_sim.waitForReadyRead(200))
            out += m_sim.readAllStandardOutput();
        ASSERT_TRUE(out.startsWith("ready ")) << out.constData();
    }

    // Exit code and standard output lines of one qarnctl flash.
    std::pair<int, std::vector<std::string>> flash(const QStringList &extra) {
        QProcess ctl;
        ctl.start(QARNCTL_PATH, QStringList{"flash", "--app-dir", app.path()} + extra +
                                    QStringList{app.filePath("fw.ift")});
        EXPECT_TRUE(ctl.waitForFinished(kWait));
        std::vector<std::string> lines;
        for (const QByteArray &line : ctl.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                lines.push_back(line.toStdString());
        return {ctl.exitCode(), lines};
    }

    TempAppDir app;
    QProcess m_sim;
};

TEST_F(RepeatRun, EveryRunReopensThePortAndFlashesAFreshTarget) {
    startSim({"--serve"});
    const auto [code, lines] = flash({"--repeat", "3"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lines, std::vector<std::string>({"run 1/3: checksum=F088", "run 2/3: checksum=F088",
                                               "run 3/3: checksum=F088", "checksum=F088"}));
}

TEST_F(RepeatRun, WithoutServeTheSecondRunMeetsAFinishedTargetAndTheSeriesEnds) {
    startSim({});
    const auto [code, lines] = flash({"--repeat", "3"});
    EXPECT_EQ(code, 1);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "run 1/3: checksum=F088");
    // The loaded kernel takes the 00 pattern for line noise: no answer.
    EXPECT_EQ(lines[1], "run 2/3: E302");
    EXPECT_EQ(lines[2], "E302");
}

TEST_F(RepeatRun, ACountBelowOneIsAUsageError) {
    for (const char *count : {"0", "-2", "x"}) {
        const auto [code, lines] = flash({"--repeat", count});
        EXPECT_EQ(code, 2) << count;
        EXPECT_TRUE(lines.empty()) << count;
    }
}

} // namespace
