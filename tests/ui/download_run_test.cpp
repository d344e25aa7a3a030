#include "window_fixture.h"

#include "download.h"
#include "link_clock.h"
#include "memory_port.h"
#include "memory_target.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

class DownloadRunTest : public WindowTest {
protected:
    // A window with a firmware of the description variant `cput` chosen and Start available.
    void ready(int cput) {
        writeFirmware("USENv0100", cput);
        if (!window)
            open();
        clickNode("M100=MAIN\\USENv0100");
        ASSERT_TRUE(button("cmdStart")->isEnabled());
    }
    void clickStart() { QTest::mouseClick(button("cmdStart"), Qt::LeftButton); }
    bool waitFor(const std::function<bool()> &condition) {
        return QTest::qWaitFor(condition, 5000);
    }
    void expectIdleAfterReset() {
        EXPECT_EQ(gDownloadState, 0);
        EXPECT_EQ(u8(label("lblDLMsg")->text()),
                  "Select the firmware to be downloaded, then click the [Start] button.");
        EXPECT_EQ(ForeColour(label("lblDLMsg")), 0x00000000u);
        EXPECT_EQ(u8(button("cmdStart")->text()), "Start");
        EXPECT_FALSE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), 0x00C0C0C0);
        EXPECT_FALSE(button("cmdCancel")->isEnabled());
        EXPECT_BACK(button("cmdCancel"), 0x00C0C0C0);
        EXPECT_TRUE(button("cmdExit")->isEnabled());
        EXPECT_BACK(button("cmdExit"), 0x0080FFFF);
        for (int i = 0; i <= 5; ++i) {
            EXPECT_EQ(step(i)->text(), QString()) << i;
            EXPECT_BACK(step(i), 0x00C0C0C0);
        }
        EXPECT_FALSE(bar("prgDownload")->isVisible());
        EXPECT_EQ(bar("prgCPU_0")->value(), 0);
        EXPECT_EQ(bar("prgCPU_1")->value(), 1000);
        EXPECT_FALSE(label("lblCheckSum")->isVisible());
        EXPECT_EQ(gByteCount, 0);
        EXPECT_TRUE(tree()->isEnabled());
    }
    // The simulated run leaves its last transfer total standing, so its bar stays full.
    void expectFinishedRun(bool downloadBarFull = false) {
        EXPECT_BACK(step(0), 0x00C0C0C0);
        for (int i = 1; i <= 4; ++i)
            EXPECT_BACK(step(i), 0x00C0FFC0);
        EXPECT_BACK(step(5), 0x0080FFFF);
        EXPECT_EQ(bar("prgCPU_1")->value(), 1000);
        EXPECT_EQ(bar("prgDownload")->isVisible(), downloadBarFull);
        if (downloadBarFull) {
            EXPECT_EQ(bar("prgDownload")->value(), 1000);
        }
        EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading complete");
        EXPECT_EQ(u8(button("cmdStart")->text()), "O  K");
        EXPECT_TRUE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), 0x00C0FFC0);
        EXPECT_FALSE(button("cmdCancel")->isEnabled());
        EXPECT_BACK(button("cmdCancel"), 0x00C0C0C0);
        EXPECT_FALSE(button("cmdExit")->isEnabled());
        EXPECT_FALSE(tree()->isEnabled());
        EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
        EXPECT_TRUE(label("lblCheckSum")->isVisible());
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_TRUE(errorWindows.isEmpty());
    }
    int runs = 0;
};

TEST_F(DownloadRunTest, SuccessfulRunShowsProgressThenTheCheckSumAndOk) {
    ready(0);
    runner = [this](QString &checkSum) {
        ++runs;
        EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading...");
        EXPECT_FALSE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), 0x00FFFF80);
        EXPECT_TRUE(button("cmdCancel")->isEnabled());
        EXPECT_BACK(button("cmdCancel"), 0x0080FFFF);
        EXPECT_FALSE(button("cmdExit")->isEnabled());
        EXPECT_BACK(button("cmdExit"), 0x00C0C0C0);
        EXPECT_FALSE(tree()->isEnabled());
        EXPECT_TRUE(window->refreshTimer().isActive());
        EXPECT_FALSE(gStopRequested);

        gDownloadState = 1;
        gByteTotal = 3000;
        gByteCount = 1500;
        EXPECT_TRUE(waitFor([this] {
            return bar("prgDownload")->isVisible() && bar("prgDownload")->value() == 500;
        }));
        EXPECT_EQ(bar("prgCPU_0")->value(), 500);

        gByteTotal = 0;
        gDownloadState = 3;
        EXPECT_TRUE(waitFor([this] { return bar("prgCPU_0")->value() == 1000; }));
        EXPECT_FALSE(bar("prgDownload")->isVisible());
        gDownloadState = 4;
        gByteTotal = 7000;
        gByteCount = 1750;
        EXPECT_TRUE(waitFor([this] { return bar("prgCPU_1")->value() == 250; }));
        EXPECT_EQ(bar("prgCPU_0")->value(), 1000);
        EXPECT_BACK(step(0), 0x00C0C0C0);
        for (int i = 1; i <= 3; ++i)
            EXPECT_BACK(step(i), 0x00C0FFC0);

        gByteTotal = 0;
        gDownloadState = 5;
        checkSum = "ABCD";
        return true;
    };
    gByteCount = 99;
    clickStart();
    EXPECT_EQ(runs, 1);
    expectFinishedRun();
    EXPECT_EQ(u8(label("lblCheckSum")->text()), "CheckSum\\r\\nABCD  OK");
    EXPECT_FALSE(window->refreshTimer().isActive());

    clickStart(); // "O  K"
    EXPECT_EQ(runs, 1);
    expectIdleAfterReset();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_TRUE(button("cmdStart")->isEnabled());
}

TEST_F(DownloadRunTest, JapaneseCheckSumLineAndCaptions) {
    writeIni(0, 1);
    gLangBase = 0;
    ready(5);
    runner = [](QString &checkSum) {
        gDownloadState = 5;
        checkSum = "002F";
        return true;
    };
    clickStart();
    EXPECT_EQ(u8(label("lblCheckSum")->text()), "CheckSum\\r\\n002F OK");
    EXPECT_EQ(u8(label("lblDLMsg")->text()), "ダウンロード完了");
    EXPECT_EQ(u8(button("cmdStart")->text()), "O  K");
    clickStart();
    EXPECT_EQ(u8(button("cmdStart")->text()), "開  始");
}

struct TickCase {
    const char *name;
    int cput;
    int16_t state;
    int32_t count;
    int32_t total;
    double seconds; // wall clock since midnight
    bool downloadShown;
    int download;
    int cpu0;
    int cpu1;
    uint32_t currentStep; // back colour of lblStep(state)
};

TEST_F(DownloadRunTest, EachTickShowsTheStateOfTheRun) {
    const TickCase cases[] = {
        {"kernel transfer in variant 0", 0, 1, 1500, 3000, 1.0, true, 500, 500, 1000, 0x00FFFFFF},
        {"kernel transfer, other blink phase", 5, 1, 3000, 3000, 2.0, true, 1000, 1000, 1000,
         0x0080FFFF},
        {"erase blinks the flash bar full", 0, 2, 0, 0, 3.0, false, 0, 0, 1000, 0x00FFFFFF},
        {"erase blinks the flash bar empty", 1, 2, 0, 0, 4.0, false, 0, 0, 0, 0x0080FFFF},
        {"setup 2 after erase empties the flash bar", 0, 3, 0, 0, 4.0, false, 0, 1000, 0,
         0x0080FFFF},
        {"variant 1 sends the kernel at step 3", 1, 3, 300, 3000, 5.0, true, 100, 100, 0,
         0x00FFFFFF},
        {"variant 2 erases at step 3", 5, 3, 0, 0, 5.0, false, 0, 1000, 1000, 0x00FFFFFF},
        {"variant 2 erase, blink off", 6, 3, 0, 0, 6.0, false, 0, 1000, 0, 0x0080FFFF},
        {"variant 2 setup 2 keeps the flash bar", 5, 2, 0, 0, 6.0, false, 0, 0, 1000, 0x0080FFFF},
        {"writing fills the flash bar", 5, 4, 3500, 7000, 6.0, true, 500, 0, 500, 0x0080FFFF},
        {"count past the total shows 1000", 5, 4, 9000, 7000, 6.0, true, 1000, 0, 1000, 0x0080FFFF},
        {"negative count shows 0", 5, 4, -5, 7000, 6.0, true, 0, 0, 0, 0x0080FFFF},
        {"half per mille rounds to even (down)", 5, 4, 1, 2000, 6.0, true, 0, 0, 0, 0x0080FFFF},
        {"half per mille rounds to even (up)", 5, 4, 3, 2000, 6.0, true, 2, 0, 2, 0x0080FFFF},
        {"half second rounds to even: 0.5 is phase 0", 5, 4, 0, 0, 0.5, false, 0, 1000, 1000,
         0x0080FFFF},
        {"1.5 s rounds to 2: phase 0", 5, 4, 0, 0, 1.5, false, 0, 1000, 1000, 0x0080FFFF},
        {"1.4 s rounds to 1: phase 1", 5, 4, 0, 0, 1.4, false, 0, 1000, 1000, 0x00FFFFFF},
        {"every step done", 5, 5, 0, 0, 1.0, false, 0, 1000, 1000, 0x0080FFFF},
    };
    for (const TickCase &c : cases) {
        SCOPED_TRACE(c.name);
        window.reset();
        ready(c.cput);
        gDownloadState = c.state;
        gByteCount = c.count;
        gByteTotal = c.total;
        clockSeconds = c.seconds;
        window->refreshTimer().start();
        window->tmrRefresh_Timer();
        EXPECT_EQ(bar("prgDownload")->isVisible(), c.downloadShown);
        if (c.downloadShown) {
            EXPECT_EQ(bar("prgDownload")->value(), c.download);
        }
        EXPECT_EQ(bar("prgCPU_0")->value(), c.cpu0);
        EXPECT_EQ(bar("prgCPU_1")->value(), c.cpu1);
        EXPECT_BACK(step(c.state), c.currentStep);
        for (int i = 1; i < c.state; ++i)
            EXPECT_BACK(step(i), 0x00C0FFC0);
        if (c.state >= 2)
            EXPECT_BACK(step(0), 0x00C0C0C0);
        EXPECT_EQ(window->refreshTimer().isActive(), c.state != 5);
    }
}

TEST_F(DownloadRunTest, TickAfterAStopRequestOrTheEndOnlySwitchesTheTimerOff) {
    ready(5);
    for (const int16_t state : {8, 9, 2}) {
        gDownloadState = state;
        gStopRequested = state == 2;
        gByteTotal = 1000;
        gByteCount = 500;
        window->refreshTimer().start();
        window->tmrRefresh_Timer();
        EXPECT_FALSE(window->refreshTimer().isActive()) << state;
        EXPECT_FALSE(bar("prgDownload")->isVisible()) << state;
        EXPECT_BACK(step(2), 0x00C0C0C0);
    }
}

TEST_F(DownloadRunTest, StopDuringATransferEndsInTheStoppedState) {
    ready(5);
    runner = [this](QString &checkSum) {
        ++runs;
        gDownloadState = 4;
        gByteTotal = 7000;
        gByteCount = 3500;
        EXPECT_TRUE(waitFor([this] { return bar("prgDownload")->value() == 500; }));
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
        EXPECT_TRUE(child<QGroupBox>("fraMessage")->isVisible());
        EXPECT_FALSE(button("cmdCancel")->isEnabled());
        QTest::mouseClick(button("cmdFwd"), Qt::LeftButton);
        EXPECT_TRUE(gStopRequested);
        // The next tick freezes the display.
        EXPECT_TRUE(waitFor([this] { return !window->refreshTimer().isActive(); }));
        gByteCount = 7000;
        checkSum = "0000";
        return false; // the sequence saw the request in its wait
    };
    gErrNo = 344;
    clickStart();
    EXPECT_EQ(gDownloadState, 8);
    EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading has been canceled.");
    EXPECT_EQ(ForeColour(label("lblDLMsg")), 0x000000FFu);
    EXPECT_EQ(label("lblDLMsg")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(errorWindows.isEmpty());
    EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
    EXPECT_EQ(u8(button("cmdStart")->text()), "O  K");
    EXPECT_TRUE(button("cmdStart")->isEnabled());
    EXPECT_BACK(button("cmdStart"), 0x00C0FFC0);
    EXPECT_FALSE(button("cmdCancel")->isEnabled());
    EXPECT_BACK(button("cmdCancel"), 0x00C0C0C0);
    EXPECT_FALSE(button("cmdExit")->isEnabled());
    EXPECT_TRUE(label("lblCheckSum")->isVisible());
    EXPECT_EQ(label("lblCheckSum")->text(), QString());
    EXPECT_EQ(bar("prgDownload")->value(), 500); // frozen at the request
    EXPECT_FALSE(window->refreshTimer().isActive());

    clickStart();
    expectIdleAfterReset();
    EXPECT_EQ(runs, 1);
}

TEST_F(DownloadRunTest, ContinueAfterCancelLetsTheRunFinish) {
    ready(0);
    runner = [this](QString &checkSum) {
        gDownloadState = 4;
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
        QTest::mouseClick(button("cmdBack"), Qt::LeftButton);
        EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
        EXPECT_TRUE(button("cmdCancel")->isEnabled());
        EXPECT_FALSE(gStopRequested);
        gDownloadState = 5;
        checkSum = "1234";
        return true;
    };
    clickStart();
    expectFinishedRun();
}

struct FailureCase {
    int cput;
    int16_t state;
    int16_t errNo;
    const char *caption;
};

TEST_F(DownloadRunTest, FailureCaptionsTheFailedStepAndOpensTheErrorWindow) {
    const FailureCase cases[] = {
        {0, 1, 302, "Setup 1 Error"}, {0, 2, 350, "Erase Error"},   {0, 3, 340, "Setup 2 Error"},
        {0, 4, 360, "Write Error"},   {1, 2, 350, "Erase Error"},   {1, 3, 310, "Setup 2 Error"},
        {5, 1, 314, "Setup 1 Error"}, {5, 2, 330, "Setup 2 Error"}, {5, 3, 350, "Erase Error"},
        {6, 4, 370, "Write Error"},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "CPUT " << c.cput << " state " << c.state);
        window.reset();
        errorWindows.clear();
        runs = 0;
        ready(c.cput);
        runner = [this, c](QString &checkSum) {
            ++runs;
            for (int16_t s = 1; s <= c.state; ++s)
                gDownloadState = s;
            if (c.state == 4) // the stop question is up when the failure comes
                QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
            gErrNo = c.errNo;
            checkSum = "0000";
            return false;
        };
        clickStart();
        EXPECT_EQ(gDownloadState, 9);
        EXPECT_EQ(errorWindows, QList<int16_t>{c.errNo});
        EXPECT_EQ(u8(step(c.state)->text()), c.caption);
        EXPECT_BACK(step(c.state), 0x008080FF);
        for (int i = 1; i < c.state; ++i)
            EXPECT_BACK(step(i), 0x00C0FFC0);
        EXPECT_FALSE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), 0x00FFFF80);
        EXPECT_FALSE(button("cmdCancel")->isEnabled());
        EXPECT_FALSE(button("cmdExit")->isEnabled());
        EXPECT_FALSE(tree()->isEnabled());
        EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
        EXPECT_TRUE(label("lblCheckSum")->isVisible());
        EXPECT_EQ(label("lblCheckSum")->text(), QString());
        EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading...");

        window->cmdStart_Click(); // state 9: nothing happens
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(gDownloadState, 9);
        EXPECT_EQ(errorWindows.size(), 1);
    }
}

TEST_F(DownloadRunTest, StopClearedByTheSequenceStillShowsTheFinishedRun) {
    ready(5);
    runner = [this](QString &checkSum) {
        gDownloadState = 4;
        gByteTotal = 7000;
        gByteCount = 700;
        EXPECT_TRUE(waitFor([this] { return bar("prgDownload")->value() == 100; }));
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
        QTest::mouseClick(button("cmdFwd"), Qt::LeftButton);
        EXPECT_TRUE(waitFor([this] { return !window->refreshTimer().isActive(); }));
        gStopRequested = false; // a blank block cleared the request
        gByteTotal = 0;
        gDownloadState = 5;
        checkSum = "BEEF";
        return true;
    };
    clickStart();
    expectFinishedRun();
    EXPECT_EQ(u8(label("lblCheckSum")->text()), "CheckSum\\r\\nBEEF  OK");
}

TEST_F(DownloadRunTest, StartCannotRunTwiceAndTheWindowStaysOpenDuringARun) {
    ready(5);
    runner = [this](QString &checkSum) {
        ++runs;
        gDownloadState = 2;
        window->cmdStart_Click();
        EXPECT_EQ(runs, 1);
        EXPECT_TRUE(window->runInProgress());
        EXPECT_FALSE(window->close());
        EXPECT_TRUE(window->isVisible());
        // Closing asks the stop question instead.
        EXPECT_TRUE(child<QGroupBox>("fraMessage")->isVisible());
        QTest::mouseClick(button("cmdBack"), Qt::LeftButton);
        gDownloadState = 5;
        checkSum = "0001";
        return true;
    };
    clickStart();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(window->runInProgress());
    expectFinishedRun();
    EXPECT_TRUE(window->close());
}

// The real download code behind the window.
class WholeRunTest : public DownloadRunTest {
protected:
    frmQARN_UI &openWithPort() {
        auto l = links();
        l.runDownload = frmQARN_UI::DefaultLinks().runDownload;
        l.makeSerialPort = [this]() -> std::unique_ptr<SerialPortInterface> {
            auto owned = std::make_unique<MemoryPort>();
            port = owned.get();
            return owned;
        };
        window = std::make_unique<frmQARN_UI>(l);
        return *window;
    }
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort *port = nullptr;
};

TEST_F(WholeRunTest, SimulatedRunOfEachVariantEndsInOk) {
    for (const int cput : {0, 1, 5}) {
        SCOPED_TRACE(cput);
        window.reset();
        writeIni(1, 1);
        gPrototype = 1;
        openWithPort();
        ready(cput);
        QList<int16_t> states;
        clock.onProcessEvents([&states] {
            if (states.isEmpty() || states.last() != gDownloadState)
                states << gDownloadState;
        });
        clickStart();
        EXPECT_EQ(states, (QList<int16_t>{1, 2, 3, 4}));
        expectFinishedRun(true);
        EXPECT_EQ(u8(label("lblCheckSum")->text()),
                  "CheckSum\\r\\n" + flashSum().toStdString() + "  OK");
        EXPECT_TRUE(label("lblSim_Mode")->isVisible());
        clock.onProcessEvents({});
    }
}

TEST_F(WholeRunTest, StopInTheSimulatedRunEndsStopped) {
    writeIni(1, 1);
    gPrototype = 1;
    openWithPort();
    ready(5);
    clock.onProcessEvents([this] {
        if (gDownloadState == 4 && gByteCount >= 3500 && button("cmdCancel")->isEnabled()) {
            button("cmdCancel")->click();
            button("cmdFwd")->click();
        }
    });
    clickStart();
    clock.onProcessEvents({});
    EXPECT_EQ(gDownloadState, 8);
    EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading has been canceled.");
    EXPECT_EQ(ForeColour(label("lblDLMsg")), 0x000000FFu);
    EXPECT_TRUE(errorWindows.isEmpty());
    clickStart();
    expectIdleAfterReset();
}

struct TargetCase {
    const char *name;
    int cput;
    std::function<void(targetsim::SimConfig &)> fault;
    int16_t errNo;
    int failedStep;
    const char *caption;
};

TEST_F(WholeRunTest, DownloadsAgainstTheSimulatedTarget) {
    using targetsim::Step;
    const TargetCase cases[] = {
        {"success, variant 0", 0, {}, 0, 0, ""},
        {"success, variant 1", 1, {}, 0, 0, ""},
        {"success, variant 2", 5, {}, 0, 0, ""},
        {"no answer to the adjustment", 0,
         [](targetsim::SimConfig &c) { c.faults.noAdjustAnswer = true; }, 302, 1, "Setup 1 Error"},
        {"boot erase fails", 0, [](targetsim::SimConfig &c) { c.faults.eraseFails = true; }, 350, 2,
         "Erase Error"},
        {"kernel ack missing in variant 1", 1,
         [](targetsim::SimConfig &c) { c.faults.silentAt = Step::KernelAck; }, 310, 3,
         "Setup 2 Error"},
        {"kernel erase fails", 5, [](targetsim::SimConfig &c) { c.faults.eraseFails = true; }, 350,
         3, "Erase Error"},
        {"wrong data bit rate in variant 2", 5,
         [](targetsim::SimConfig &c) { c.dataBitRate = 19200; }, 340, 2, "Setup 2 Error"},
        {"write fails", 6, [](targetsim::SimConfig &c) { c.faults.writeFailBlock = 0; }, 360, 4,
         "Write Error"},
        {"flash sum differs", 1, [](targetsim::SimConfig &c) { c.faults.badFlashSum = true; }, 370,
         4, "Write Error"},
    };
    for (const TargetCase &c : cases) {
        SCOPED_TRACE(c.name);
        window.reset();
        errorWindows.clear();
        writeIni(1, 0);
        gPrototype = 0;
        openWithPort();
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(gComm, port);
        ready(c.cput);
        targetsim::SimConfig config;
        config.variant = gSeqType;
        config.blockSize = 16;
        config.flashSize = 0x100;
        config.flashFill = 0x5A;
        if (c.fault)
            c.fault(config);
        MemoryTarget target(*port, config);
        clickStart();
        EXPECT_FALSE(port->isOpen());
        if (c.errNo == 0) {
            expectFinishedRun();
            EXPECT_EQ(u8(label("lblCheckSum")->text()),
                      "CheckSum\\r\\n" + flashSum().toStdString() + "  OK");
            clickStart();
            expectIdleAfterReset();
        } else {
            EXPECT_EQ(errorWindows, QList<int16_t>{c.errNo});
            EXPECT_EQ(gDownloadState, 9);
            EXPECT_EQ(u8(step(c.failedStep)->text()), c.caption);
            EXPECT_BACK(step(c.failedStep), 0x008080FF);
        }
    }
}

TEST_F(WholeRunTest, StopWhileTheTargetIsSilentEndsStopped) {
    writeIni(1, 0);
    gPrototype = 0;
    openWithPort();
    ready(5);
    targetsim::SimConfig config;
    config.variant = 2;
    config.blockSize = 16;
    config.flashSize = 0x100;
    config.faults.silentAt = targetsim::Step::Write;
    MemoryTarget target(*port, config);
    clock.onProcessEvents([this] {
        if (gDownloadState == 4 && button("cmdCancel")->isEnabled()) {
            button("cmdCancel")->click();
            button("cmdFwd")->click();
        }
    });
    clickStart();
    clock.onProcessEvents({});
    EXPECT_EQ(gDownloadState, 8);
    EXPECT_TRUE(errorWindows.isEmpty());
    EXPECT_EQ(u8(label("lblDLMsg")->text()), "Downloading has been canceled.");
    EXPECT_FALSE(port->isOpen());
}

} // namespace
