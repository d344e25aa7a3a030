#include "app_windows.h"
#include "firm_tree.h"
#include "frmError.h"
#include "link_clock.h"
#include "window_fixture.h"

#include <QFontDatabase>

namespace {

const char *const kSelect = "Select the firmware to be downloaded, then click the [Start] button.";
constexpr uint32_t kGrey = 0xC0C0C0, kGreen = 0xC0FFC0, kYellow = 0x80FFFF, kCyan = 0xFFFF80,
                   kWhite = 0xFFFFFF, kLightRed = 0x8080FF;

// What the window shows in one state: the three buttons, the tree and the run message.
// clang-format off
struct WindowState {
    const char *name; bool startOn; uint32_t startBack; const char *startText; bool cancelOn;
    uint32_t cancelBack; bool exitOn; uint32_t exitBack; bool treeOn; const char *message;
    int16_t state; // gDownloadState, -1 while a run is under way
};
const WindowState kIdle     {"idle",      false, kGrey,  "Start", false, kGrey,   true,  kYellow, true,  kSelect, 0};
const WindowState kReady    {"ready",     true,  kGreen, "Start", false, kGrey,   true,  kYellow, true,  kSelect, 0};
const WindowState kRunning  {"running",   false, kCyan,  "Start", true,  kYellow, false, kGrey,   false, "Downloading...", -1};
const WindowState kSucceeded{"succeeded", true,  kGreen, "O  K",  false, kGrey,   false, kGrey,   false, "Downloading complete", 5};
const WindowState kStopped  {"stopped",   true,  kGreen, "O  K",  false, kGrey,   false, kGrey,   false, "Downloading has been canceled.", 8};
const WindowState kFailed   {"failed",    false, kCyan,  "Start", false, kYellow, false, kGrey,   false, "Downloading...", 9};
// clang-format on

class MainWindow : public WindowTest {
protected:
    void expectState(const WindowState &s) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(button("cmdStart")->isEnabled(), s.startOn);
        EXPECT_BACK(button("cmdStart"), s.startBack);
        EXPECT_EQ(button("cmdStart")->text(), s.startText);
        EXPECT_EQ(button("cmdCancel")->isEnabled(), s.cancelOn);
        EXPECT_BACK(button("cmdCancel"), s.cancelBack);
        EXPECT_EQ(button("cmdExit")->isEnabled(), s.exitOn);
        EXPECT_BACK(button("cmdExit"), s.exitBack);
        EXPECT_EQ(tree()->isEnabled(), s.treeOn);
        EXPECT_EQ(label("lblDLMsg")->text(), s.message);
        EXPECT_EQ(ForeColour(label("lblDLMsg")), s.state == 8 ? 0x0000FFu : 0u);
        EXPECT_TRUE(s.state < 0 || gDownloadState == s.state) << gDownloadState;
    }
    void expectSteps(const std::vector<uint32_t> &backs) {
        for (size_t i = 0; i < backs.size(); ++i)
            EXPECT_BACK(step(int(i)), backs[i]);
    }
    void ready(int cput, const QString &version = "USENv0100") {
        writeFirmware(version, cput);
        open();
        clickNode("M100=MAIN\\" + version);
    }
};

TEST_F(MainWindow, LoadFollowsTheSettingsAndTheCatalogue) {
    struct Case {
        int16_t prototype;
        const char *port, *setupInfo;
        bool catalogue;
    };
    for (const Case c :
         {Case{1, "1", "0", true}, Case{2, "12", "1", false}, Case{0, "3", "", true}}) {
        SCOPED_TRACE(c.port);
        gPrototype = c.prototype;
        gPort = c.port;
        gSetupInfo = c.setupInfo;
        if (!c.catalogue)
            QFile::remove(app.filePath("torvane.conf"));
        open();
        EXPECT_EQ(label("lblPortNo")->text(), QString("Port COM") + c.port);
        EXPECT_EQ(label("lblSim_Mode")->isVisible(), c.prototype == 1);
        EXPECT_EQ(gComm != nullptr, c.prototype == 0);
        EXPECT_EQ(w("fraSetup")->isVisible(), gSetupInfo != "0");
        EXPECT_EQ(errorWindows.count(160), c.catalogue ? 0 : 1);
        EXPECT_EQ(tree()->topLevelItemCount(), c.catalogue ? 1 : 0);
        WindowState loaded = kIdle;
        loaded.treeOn = gSetupInfo == "0";
        expectState(loaded);
        EXPECT_EQ(window->focusWidget(), button("cmdSetupOK"));
        EXPECT_FALSE(button("cmdDownload")->isEnabled());
        expectSteps({kGrey, kGrey, kGrey, kGrey, kGrey, kGrey});
        EXPECT_EQ(step(0)->text() + step(5)->text() + QString::number(ForeColour(step(5))), "0");
        EXPECT_FALSE(bar("prgDownload")->isVisible() || label("lblCheckSum")->isVisible() ||
                     w("fraMessage")->isVisible() || label("lblStatus")->isVisible() ||
                     label("lblByteCount")->isVisible() || window->refreshTimer().isActive());
        EXPECT_EQ(bar("prgDownload")->maximum() + bar("prgCPU_0")->value(), 1000);
        EXPECT_EQ(bar("prgCPU_1")->value() + bar("prgCPU_1")->isVisible(), 1001);
        EXPECT_EQ(label("lblStatus")->text() + label("lblByteCount")->text(), "Initial");
        EXPECT_EQ(window->refreshTimer().interval(), 200);
    }
    QTreeWidgetItem *board = tree()->topLevelItem(0)->child(0);
    EXPECT_TRUE(board->isExpanded() && tree()->topLevelItem(0)->isExpanded());
    EXPECT_EQ(board->child(1)->data(0, Qt::UserRole), "M100=MAIN\\JPJAv0210");
    window.reset();
    EXPECT_EQ(gComm, nullptr); // the window's port goes with the window
}

TEST_F(MainWindow, CaptionsFollowTheLanguageAndFramesTheLayout) {
    open();
    // clang-format off
    const std::pair<const char *, const char *> english[] = {
        {"cmdDownload", "Download Firmware"}, {"cmdCancel", "Cancel"}, {"cmdExit", "Return to Main Menu"},
        {"cmdFwd", "Stop Downloading"}, {"cmdBack", "Continue Downloading"}, {"cmdSetupOK", "O    K"},
        {"lblFirmlist", "Selectable Firmware"}, {"lblControlMsg", "Click the button of the task to be executed."},
        {"lblSetupMsg", "1. Connect PC and the device with Downloader PCB (QX4-7710).\r\n2. Trun on the device.\r\n3. Push the Start/Stop button."},
        {"lblMessage", "Downloading the firmware.\r\nIf downloading is stopped, the device will not work until downloading is completed. "}};
    struct Frame { const char *name, *title; QRect rect; uint32_t back; };
    const Frame frames[] = {
        {"fraTop", "", {0, 0, 785, 97}, 0x808000},       {"fraDownload", "SelectableFirmware", {0, 104, 257, 441}, 0x808000},
        {"fraInfo", "Information", {544, 104, 241, 441}, 0x808000}, {"fraControl", "Control", {264, 104, 273, 441}, kGrey},
        {"fraSetup", "Connection", {162, 109, 473, 353}, 0xFF8080}, {"fraMessage", "Caution", {242, 109, 321, 289}, 0x0080FF},
        {"fraCommand", "", {8, 160, 305, 113}, 0}};
    // clang-format on
    EXPECT_EQ(window->windowTitle(), "Velmora QARN (Ver.3.31E) Download");
    for (const auto &[name, text] : english)
        EXPECT_EQ(w<QWidget>(name)->property("text").toString(), text) << name;
    for (const Frame &f : frames) {
        EXPECT_EQ(w(f.name)->title(), f.title) << f.name;
        EXPECT_EQ(w(f.name)->geometry(), f.rect) << f.name;
        const QPoint inside = f.rect.bottomRight() - f.rect.topLeft() - QPoint(4, 4);
        EXPECT_TRUE(!f.back || painted(w(f.name), inside) == f.back) << f.name;
    }
    writeIni(0);
    open();
    EXPECT_EQ(window->windowTitle(), "Velmora QARN (Ver.3.31J)  Download");
    EXPECT_EQ(button("cmdStart")->text(), QString::fromUtf16(u"開  始"));
    EXPECT_TRUE(label("lblSetupMsg")->text().startsWith(u"1. PCとアクセサリをダウンローダ"));
    EXPECT_EQ(w("fraSetup")->title(), "Connection");
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
    for (QPushButton *b : w<QWidget>("fraControl")->findChildren<QPushButton *>())
        EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 8);
}

TEST_F(MainWindow, ButtonsMoveBetweenTheOverlaysAndExitHandsSubEndBack) {
    app.write("torvane.cha", "MAIN SET\r\n");
    open();
    EXPECT_TRUE(window->close()); // an idle window closes without handing anything back
    open();
    button("cmdSetupOK")->click();
    EXPECT_FALSE(w("fraSetup")->isVisible());
    EXPECT_TRUE(tree()->isEnabled());
    button("cmdCancel")->setEnabled(true);
    for (const bool stop : {false, true}) {
        button("cmdCancel")->click();
        EXPECT_TRUE(w("fraMessage")->isVisible() && button("cmdFwd")->isEnabled() &&
                    button("cmdBack")->isEnabled() && !button("cmdCancel")->isEnabled());
        button(stop ? "cmdFwd" : "cmdBack")->click();
        EXPECT_EQ(w("fraMessage")->isVisible(), stop);
        EXPECT_EQ(gStopRequested, stop);
        EXPECT_EQ(button("cmdCancel")->isEnabled(), !stop);
        EXPECT_FALSE(button("cmdFwd")->isEnabled() || button("cmdBack")->isEnabled());
    }
    EXPECT_EQ(app.read("torvane.cha"), "MAIN SET\r\n");
    button("cmdExit")->click();
    EXPECT_EQ(app.read("torvane.cha") + app.read("torvane.cha.bak"), "SUB END\r\nMAIN SET\r\n");
    EXPECT_EQ(host.events, QStringList({"message: Can not continue (Torvane.exe does not exist)",
                                        "close", "end"}));
    EXPECT_FALSE(button("cmdExit")->isEnabled() || button("cmdSetupOK")->isEnabled());
}

TEST_F(MainWindow, VersionClickShowsTheFirmwareAndItsStepsAndModelClickClearsThem) {
    // clang-format off
    struct Case { int language; const char *version; int cput; QString board; const char16_t *info, *step2, *step3; };
    const Case cases[] = {
        {1, "JPJAv0210", 1, "MAIN", u"Main board\r\n  Country/Region: Japan\r\n  Language: Japanese\r\n  Version: 02.10", u"Erase", u"Setup 2"},
        {0, "USENv0100", 5, "MAIN", u"Main board\r\n\u3000国/地域:United States\r\n\u3000言語:English\r\n\u3000バージョン:01.00", u"セットアップ 2", u"消  去"},
        {1, "XXYYv0304", 6, "OTHER", u"MAIN\r\n  Country/Region: XX\r\n  Language: YY\r\n  Version: 03.04", u"Setup 2", u"Erase"},
        {1, "USJAv0000", 0, "MAIN", u"Main board\r\n  Country/Region: United States\r\n  Language: Japanese\r\n  Version: 00.00", u"Erase", u"Setup 2"}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version);
        writeIni(c.language);
        gTgbnList = {"", c.board};
        catalogue({c.version});
        ready(c.cput, c.version);
        EXPECT_EQ(label("lblFirmInfo")->text(), QString::fromUtf16(c.info));
        EXPECT_EQ(readFolder(), c.version);
        EXPECT_BACK(button("cmdStart"), kGreen);
        EXPECT_TRUE(button("cmdStart")->isEnabled() && button("cmdStart")->hasFocus());
        EXPECT_EQ(step(2)->text(), QString::fromUtf16(c.step2));
        EXPECT_EQ(step(3)->text(), QString::fromUtf16(c.step3));
        EXPECT_EQ(step(5)->text(), c.language ? "Complete" : QString::fromUtf16(u"完  了"));
        expectSteps({kWhite, kGrey, kGrey, kGrey, kGrey, kGrey});
        clickNode("M100");
        EXPECT_EQ(label("lblFirmInfo")->text(), "");
        EXPECT_FALSE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), kGrey);
    }
}

TEST_F(MainWindow, BoardClickPicksTheNewestWellFormedVersion) {
    const std::pair<QStringList, QString> cases[] = {
        {{"USENv0100", "JPJAv0210", "USJAv0000"}, "JPJAv0210"},
        {{"USENv0210", "JPJAv0210"}, "USENv0210"}, // equal numbers keep the earlier
        {{"USENv1000", "USENv0999"}, "USENv1000"},
        {{"USENv9x99", "USENv0001", "USENv1.2"}, "USENv0001"}, // malformed ones rank lowest
        {{"USENv0000", "USENv0a00"}, ""},
    };
    for (const auto &[versions, picked] : cases) {
        SCOPED_TRACE(picked.toStdString());
        catalogue(versions);
        for (const QString &v : versions)
            writeFirmware(v, 5);
        gIrdFile.clear();
        open();
        clickNode("M100=MAIN");
        EXPECT_EQ(readFolder(), picked);
        EXPECT_EQ(button("cmdStart")->isEnabled(), !picked.isEmpty());
        EXPECT_EQ(label("lblFirmInfo")->text(),
                  picked.isEmpty() ? "Main board" : "Main board\r\n" + FirmwareInfoText(picked));
    }
    EXPECT_TRUE(errorWindows.isEmpty());
}

TEST_F(MainWindow, ArrowKeysSelectANodeLikeAClick) {
    writeFirmware("JPJAv0210", 5);
    open();
    button("cmdSetupOK")->click();
    tree()->setCurrentItem(tree()->topLevelItem(0));
    QTest::keyClick(tree(), Qt::Key_Down); // the board: its newest version
    EXPECT_EQ(readFolder(), "JPJAv0210");
    EXPECT_TRUE(button("cmdStart")->isEnabled());
    QTest::keyClick(tree(), Qt::Key_Up); // the model
    EXPECT_EQ(label("lblFirmInfo")->text(), "");
    EXPECT_FALSE(button("cmdStart")->isEnabled());
    QTest::keyClick(tree(), Qt::Key_End); // a version without a folder
    EXPECT_EQ(errorWindows, QList<int16_t>{120});
}

TEST_F(MainWindow, DescriptionIsTheFirstIftByNameInAFolderOfAnyLetterCase) {
    const QString folder = storeFolder("USENv0100");
    for (const QString name : {"b.ift", "A.IFT", "c.Ift"}) {
        writeFirmware("USENv0100", 5, name, "DF " + name.left(1).toLatin1() + ".BIN\r\n");
        app.write(folder + name.left(1) + ".BIN", "k");
    }
    QDir().mkpath(app.filePath(folder + "0.ift"));           // a folder, not a file
    app.write(folder + ".0.ift", "CPUT 5\r\nDF HIDDEN\r\n"); // a hidden file
    QDir store(app.filePath("torvane"));
    ASSERT_TRUE(store.rename("FieldKit", "FIELDKIT"));
    ASSERT_TRUE(QDir(store.filePath("FIELDKIT/M100/MAIN")).rename("USENv0100", "usenV0100"));
    gFdir = app.path() + "\\torvane\\fieldKIT\\host"; // the host's separator and letter case
    open();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_EQ(QFileInfo(gIrdFile).fileName(), "A.BIN");
    EXPECT_EQ(readFolder(), "usenV0100");
    EXPECT_TRUE(errorWindows.isEmpty() && boxes.isEmpty());
    EXPECT_EQ(ToolPrefix("C:\\t\\FieldKit\\a\\fieldkit\\"), "C:\\t\\FieldKit\\");
    EXPECT_EQ(ToolPrefix("/s/fieldkits/fieldkit/x"), "/s/fieldkits/fieldkit/");
    EXPECT_EQ(ToolPrefix("/s/fieldkit"), "");
}

TEST_F(MainWindow, SelectionWithoutAUsableDescriptionReportsItsError) {
    catalogue({"USENv0100", "JPJAv0210", "USJAv0000", "XXYYv0100"});
    writeFirmware("JPJAv0210", 5);
    QFile::remove(app.filePath(storeFolder("JPJAv0210") + "KERNEL.BIN"));
    app.write(storeFolder("XXYYv0100") + "readme.txt", "no description here");
    const QString fdir = gFdir;
    ready(5);
    const std::tuple<QString, const char *, const char *> cases[] = {
        {fdir, "XXYYv0100", "XXYYv0100/*.ift"},
        {fdir, "USJAv0000", "USJAv0000/*.ift"},
        {app.path() + "/torvane/kit/", "USENv0100", "/torvane/kit/"},
        {app.path() + "/torvane/FieldKit2/", "USENv0100", "/torvane/FieldKit2/"},
    };
    for (const auto &[folder, version, fileEnd] : cases) {
        errorWindows.clear();
        gFdir = folder;
        gRunErrNo = 7;
        clickNode(QString("M100=MAIN\\") + version);
        EXPECT_EQ(errorWindows, QList<int16_t>{120}) << version;
        EXPECT_EQ(gRunErrNo, 0);
        EXPECT_TRUE(gErrFileName.endsWith(fileEnd)) << gErrFileName.toStdString();
        EXPECT_TRUE(button("cmdStart")->isEnabled());
    }
    gFdir = fdir;
    clickNode("M100=MAIN\\JPJAv0210");
    EXPECT_EQ(boxes, QStringList("Velmora QARN (Ver.3.31E) | Could not find the necessary file."
                                 "\r\n  File name: " +
                                 gErrFileName + " | 0 | 1024")); // OK only
    EXPECT_FALSE(button("cmdStart")->isEnabled());
    EXPECT_BACK(button("cmdStart"), kGrey);
    EXPECT_EQ(errorWindows.size(), 1);
}

TEST_F(MainWindow, EachRunEndsInItsStateAndOkResetsTheWindow) {
    const auto stopAndWait = [this] {
        button("cmdFwd")->click();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->refreshTimer().isActive(); }));
    };
    struct Run {
        std::function<bool(QString &)> act;
        const WindowState &end;
        const char *checkSum;
    };
    const Run cases[] = {
        {[&](QString &sum) { // a stop that the sequence cleared again
             gDownloadState = 4;
             EXPECT_FALSE(window->close()); // closing asks the stop question instead
             window->cmdStart_Click();      // nor does Start run twice
             stopAndWait();
             gStopRequested = false;
             gDownloadState = 5;
             sum = "ABCD";
             return true;
         },
         kSucceeded, "CheckSum\r\nABCD  OK"},
        {[&](QString &) {
             gDownloadState = 4;
             gByteTotal = 7000;
             gByteCount = 3500;
             EXPECT_TRUE(QTest::qWaitFor([this] { return bar("prgDownload")->value() == 500; }));
             button("cmdCancel")->click();
             stopAndWait();
             gByteCount = 7000;
             gErrNo = 344;
             return false;
         },
         kStopped, ""},
        {[&](QString &) { // a failure while the stop question is up
             gDownloadState = 2;
             button("cmdCancel")->click();
             // A Continue click still waiting when the run fails cannot bring Cancel back.
             QMetaObject::invokeMethod(button("cmdBack"), &QAbstractButton::click,
                                       Qt::QueuedConnection);
             gErrNo = 350;
             return false;
         },
         kFailed, ""},
    };
    for (const Run &c : cases) {
        ready(0);
        expectState(kReady);
        runs = 0;
        runner = [&](QString &sum) {
            expectState(kRunning);
            EXPECT_TRUE(window->refreshTimer().isActive());
            EXPECT_FALSE(gStopRequested);
            return c.act(sum);
        };
        gStopRequested = true;
        gByteCount = 99;
        button("cmdStart")->click();
        expectState(c.end);
        EXPECT_FALSE(w("fraMessage")->isVisible() || window->refreshTimer().isActive());
        EXPECT_TRUE(label("lblCheckSum")->isVisible());
        EXPECT_EQ(label("lblCheckSum")->text(), c.checkSum);
        if (c.end.state == 5)
            expectSteps({kGrey, kGreen, kGreen, kGreen, kGreen, kYellow});
        EXPECT_TRUE(c.end.state != 8 || bar("prgDownload")->value() == 500); // frozen at the stop
        if (c.end.state == 9)
            expectSteps({kGrey, kGreen, kLightRed});
        EXPECT_EQ(errorWindows, c.end.state == 9 ? QList<int16_t>{350} : QList<int16_t>{});
        window->cmdStart_Click(); // "O  K"; nothing after a failure
        EXPECT_EQ(runs, 1);
        expectState(c.end.state == 9 ? kFailed : kIdle);
        if (c.end.state == 9)
            continue;
        expectSteps({kGrey, kGrey, kGrey, kGrey, kGrey, kGrey});
        EXPECT_EQ(step(0)->text() + step(5)->text(), "");
        EXPECT_FALSE(label("lblCheckSum")->isVisible() || bar("prgDownload")->isVisible());
        EXPECT_EQ(bar("prgCPU_0")->value() + gByteCount, 0);
    }
}

TEST_F(MainWindow, FailureCaptionsTheFailedStepByVariant) {
    const std::tuple<int, int16_t, const char *> cases[] = {
        {0, 1, "Setup 1 Error"}, {1, 2, "Erase Error"},   {0, 3, "Setup 2 Error"},
        {0, 4, "Write Error"},   {5, 2, "Setup 2 Error"}, {6, 3, "Erase Error"},
    };
    for (const auto &[cput, state, caption] : cases) {
        ready(cput);
        runner = [state = state](QString &) { return (gDownloadState = state) == 0; };
        window->cmdStart_Click();
        EXPECT_EQ(step(state)->text(), caption) << cput << " " << state;
        EXPECT_BACK(step(state), kLightRed);
        EXPECT_BACK(step(state - 1), state == 1 ? kWhite : kGreen);
    }
}

TEST_F(MainWindow, EachTickShowsTheStateOfTheRun) {
    // clang-format off
    struct Tick {
        int16_t variant, state; int32_t count, total;
        double seconds; // wall clock since midnight
        int download, cpu0, cpu1; // bar values, -1 for a hidden bar
        uint32_t current; // back colour of the step under way
    };
    const Tick ticks[] = {
        {0, 1, 1500, 3000, 1.0, 500, 500, 1000, kWhite}, // the kernel goes over
        {2, 1, 3000, 3000, 2.0, 1000, 1000, 1000, kYellow},
        {0, 2, 0, 0, 3.0, -1, 0, 1000, kWhite}, {1, 2, 0, 0, 4.0, -1, 0, 0, kYellow}, // the erase blinks
        {0, 3, 0, 0, 4.0, -1, 1000, 0, kYellow}, // setup 2 after the erase
        {1, 3, 300, 3000, 5.0, 100, 100, 0, kWhite}, // variant 1 sends the kernel at step 3
        {2, 3, 0, 0, 5.0, -1, 1000, 1000, kWhite}, {3, 3, 0, 0, 6.0, -1, 1000, 0, kYellow}, // erase at 3
        {2, 2, 0, 0, 6.0, -1, 0, 1000, kYellow},
        {2, 4, 3500, 7000, 6.0, 500, 0, 500, kYellow}, // writing fills the flash bar
        {2, 4, 9000, 7000, 6.0, 1000, 0, 1000, kYellow}, {2, 4, -5, 7000, 6.0, 0, 0, 0, kYellow},
        {2, 4, 1, 2000, 6.0, 0, 0, 0, kYellow}, {2, 4, 3, 2000, 6.0, 2, 0, 2, kYellow}, // half to even
        {2, 4, 0, 0, 0.5, -1, 1000, 1000, kYellow}, {2, 4, 0, 0, 1.5, -1, 1000, 1000, kYellow},
        {2, 4, 0, 0, 1.4, -1, 1000, 1000, kWhite},
        {2, 5, 0, 0, 1.0, -1, 1000, 1000, kYellow}, // every step done
    };
    // clang-format on
    open();
    for (const Tick &t : ticks) {
        SCOPED_TRACE(testing::Message() << t.variant << " " << t.state << " " << t.count);
        window->ResetProgressBars();
        window->ResetStepLabels();
        window->ShowStepCaptions(gSeqType = t.variant);
        gDownloadState = t.state;
        gByteCount = t.count;
        gByteTotal = t.total;
        clockSeconds = t.seconds;
        window->refreshTimer().start();
        window->tmrRefresh_Timer();
        EXPECT_EQ(bar("prgDownload")->isVisible() ? bar("prgDownload")->value() : -1, t.download);
        EXPECT_EQ(bar("prgCPU_0")->value(), t.cpu0);
        EXPECT_EQ(bar("prgCPU_1")->value(), t.cpu1);
        EXPECT_BACK(step(t.state), t.current);
        for (int i = 1; i < t.state; ++i)
            EXPECT_BACK(step(i), kGreen);
        EXPECT_BACK(step(0), t.state >= 2 ? kGrey : kWhite);
        EXPECT_EQ(window->refreshTimer().isActive(), t.state != 5);
    }
    for (const int16_t state : {8, 9, 2}) { // after the end or a stop request the tick only stops
        window->ResetStepLabels();
        gDownloadState = state;
        gStopRequested = state == 2;
        window->refreshTimer().start();
        window->tmrRefresh_Timer();
        EXPECT_FALSE(window->refreshTimer().isActive() || bar("prgDownload")->isVisible());
        EXPECT_BACK(step(2), kGrey);
    }
}

TEST_F(MainWindow, SimulatedRunOfEachVariantEndsWithTheDescriptionsCheckSum) {
    FakeLinkClock clock;
    ScopedLinkClock useClock(&clock);
    // clang-format off
    struct Case { int cput, language; bool stop; const char16_t *message, *checkSum; };
    const Case cases[] = {{0, 1, false, u"Downloading complete", u"CheckSum\r\nBEEF  OK"},
                          {1, 0, false, u"ダウンロード完了", u"CheckSum\r\nBEEF OK"},
                          {5, 1, false, u"Downloading complete", u"CheckSum\r\nBEEF  OK"},
                          {6, 1, true, u"Downloading has been canceled.", u""}};
    // clang-format on
    for (const Case &c : cases) {
        writeIni(c.language);
        ready(c.cput);
        runner = frmQARN_UI::DefaultLinks().runDownload;
        QList<int16_t> states;
        clock.onProcessEvents([&] {
            if (states.isEmpty() || states.last() != gDownloadState)
                states << gDownloadState;
            if (c.stop && gDownloadState == 4 && button("cmdCancel")->isEnabled()) {
                button("cmdCancel")->click();
                button("cmdFwd")->click();
            }
        });
        window->cmdStart_Click();
        clock.onProcessEvents({});
        EXPECT_EQ(states, QList<int16_t>({1, 2, 3, 4})) << c.cput;
        EXPECT_EQ(label("lblDLMsg")->text(), QString::fromUtf16(c.message));
        EXPECT_EQ(label("lblCheckSum")->text(), QString::fromUtf16(c.checkSum));
        EXPECT_EQ(gDownloadState, c.stop ? 8 : 5);
    }
}

TEST_F(WindowTest, ErrorWindowShowsTheErrorInTheCurrentLanguageAndOkHandsBackSubError) {
    // clang-format off
    struct Case { int32_t base; int16_t errNo; const char *file, *function, *title, *code, *message, *button; };
    const Case cases[] = {
        {0, 130, "/app/QARN.ini", "", "Velmora QARN (Ver.3.31J)  Error", "E130",
         "指定されたファイルがオープンできませんでした。\n  ファイル名: /app/QARN.ini", "メインメニューへ戻る"},
        {100, 302, "", "AdjBitRate", "Velmora QARN (Ver.3.31E) Error", "E302",
         "Could not complete serial communication adjustment within the time limit.\nCheck the following items:\n"
         "  Cable connection\n  Power of the connected device\n  If the Start LED of the control box is lit\n\n"
         "  Function: AdjBitRate", "Return to Main Menu"}};
    // clang-format on
    app.write("torvane.cha", "MAIN SET\r\n");
    for (const Case &c : cases) {
        gLangBase = c.base;
        gErrNo = c.errNo;
        gErrFileName = c.file;
        gFuncName = c.function;
        frmError window(host);
        window.show();
        EXPECT_EQ(window.windowTitle(), c.title);
        EXPECT_EQ(window.findChild<QLabel *>("lblErrorCode")->text(), c.code);
        EXPECT_EQ(window.findChild<QLabel *>("lblError")->text(), QString::fromUtf8(c.message));
        auto *ok = window.findChild<QPushButton *>("cmdErrorOK");
        EXPECT_EQ(ok->text(), QString::fromUtf8(c.button));
        EXPECT_EQ(painted(ok, {4, ok->height() / 2}), kYellow); // the shared yellow
        if (c.base == 100)
            ok->click();
    }
    EXPECT_EQ(app.read("torvane.cha"), "SUB ERROR\r\n");
    EXPECT_EQ(host.events.mid(1), QStringList({"close", "end"}));
    for (const int16_t n : {331, 302, 149}) { // the longest texts fit the window
        gErrNo = n;
        gRunErrNo = n == 149 ? 6 : 0;
        gErrFileName = "/opt/velmora/qarn/application/folder/FirmDesc.txt";
        frmError window(host);
        window.show();
        auto *text = window.findChild<QLabel *>("lblError");
        EXPECT_LE(text->heightForWidth(text->width()), text->height()) << n;
        EXPECT_LE(text->minimumSizeHint().width(), text->width()) << n;
    }
}

TEST_F(WindowTest, ToolWindowsAreDumpedAndClosedMostRecentFirst) {
    qputenv("QARN_DUMP_WINDOWS", app.filePath("windows.txt").toUtf8());
    QFile::remove(app.filePath("torvane.conf"));
    AppStartupWindows().showMainWindow(); // its load fails: the error window opens first
    AppHostReturnUi().showMessage("one\r\ntwo");
    qunsetenv("QARN_DUMP_WINDOWS");
    EXPECT_EQ(boxes, QStringList("Velmora QARN (Ver.3.31E) | one\ntwo | 0 | 1024"));
    const QString dump = QString::fromUtf8(app.read("windows.txt"));
    EXPECT_TRUE(dump.startsWith("window: Velmora QARN (Ver.3.31E) Error\n  lblErrorCode: E160\n"));
    EXPECT_TRUE(dump.contains("\nwindow: Velmora QARN (Ver.3.31E) Download\n"));
    EXPECT_TRUE(dump.contains("  qt_msgbox_label: one\\ntwo\n")) << dump.toStdString();
    QStringList closed;
    for (QWidget *shown : QApplication::topLevelWidgets()) {
        EXPECT_TRUE(!shown->isVisible() || !shown->isModal());
        QObject::connect(shown, &QObject::destroyed,
                         [&closed, n = shown->objectName()] { closed << n; });
    }
    AppHostReturnUi().closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(closed, QStringList({"frmQARN_UI", "frmError"}));
}

} // namespace
