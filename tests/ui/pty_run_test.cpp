// The whole tool path behind the window: the real serial port on a pseudo-terminal, with the
// simulated target process answering on its other end.

#include "window_fixture.h"

#include <QProcess>

namespace {

class PtyRunTest : public WindowTest {
protected:
    void TearDown() override {
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate();
            sim.waitForFinished(5000);
        }
        WindowTest::TearDown();
    }

    // Starts qarn-target-sim linked as COM1 of the application folder; false when it fails.
    bool startTarget(const QStringList &extra) {
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(QStringLiteral(TARGET_SIM_PATH),
                  QStringList{"--link", app.filePath("COM1"), "--variant", "2", "--block-size",
                              "16", "--flash-size", "100", "--boot-rate", "115200", "--data-rate",
                              "115200", "--once"} +
                      extra);
        QByteArray said;
        while (sim.waitForReadyRead(10000)) {
            said += sim.readAll();
            if (said.contains("ready "))
                return true;
        }
        ADD_FAILURE() << said.toStdString();
        return false;
    }

    frmQARN_UI &openReal() {
        auto l = links();
        const frmQARN_UI::Links real = frmQARN_UI::DefaultLinks();
        l.runDownload = real.runDownload;
        l.makeSerialPort = real.makeSerialPort;
        window = std::make_unique<frmQARN_UI>(l);
        return *window;
    }

    QProcess sim;
};

TEST_F(PtyRunTest, WindowDownloadsIntoTheSimulatedTarget) {
    writeIni(1, 0);
    gPrototype = 0;
    writeFirmware("USENv0100", 5, "FIRM.IFT", "BRATE 115200\r\nUT 0\r\n");
    ASSERT_TRUE(startTarget({}));
    openReal();
    ASSERT_NE(gComm, nullptr);
    clickNode("M100=MAIN\\USENv0100");
    ASSERT_TRUE(button("cmdStart")->isEnabled());
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);

    EXPECT_TRUE(errorWindows.isEmpty()) << (errorWindows.isEmpty() ? 0 : errorWindows[0]);
    EXPECT_EQ(gDownloadState, 5);
    EXPECT_EQ(u8(label("lblCheckSum")->text()),
              "CheckSum\\r\\n" + flashSum().toStdString() + "  OK");
    EXPECT_EQ(u8(button("cmdStart")->text()), "O  K");
    EXPECT_BACK(step(5), 0x0080FFFF);
    EXPECT_FALSE(gComm->isOpen());
    EXPECT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 0);
}

TEST_F(PtyRunTest, TargetFaultEndsInTheFailedStepAndTheErrorWindow) {
    writeIni(1, 0);
    gPrototype = 0;
    writeFirmware("USENv0100", 5, "FIRM.IFT", "BRATE 115200\r\nUT 0\r\n");
    ASSERT_TRUE(startTarget({"--erase-fail"}));
    openReal();
    clickNode("M100=MAIN\\USENv0100");
    QTest::mouseClick(button("cmdStart"), Qt::LeftButton);

    EXPECT_EQ(errorWindows, QList<int16_t>{350});
    EXPECT_EQ(gDownloadState, 9);
    EXPECT_EQ(u8(step(3)->text()), "Erase Error");
    EXPECT_BACK(step(3), 0x008080FF);
    EXPECT_FALSE(gComm->isOpen());
}

} // namespace
