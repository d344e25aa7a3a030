// The main and error windows on the offscreen platform, in a temporary application folder with the
// host's catalogue and a firmware store; their links to the rest of the tool record what is asked.
#include "app_windows.h"
#include "firm_tree.h"
#include "frmError.h"
#include "frmQARN_UI.h"
#include "link_clock.h"
#include "qarn_main.h"
#include "recording_host.h"
#include "temp_app_dir.h"
#include "widget_colours.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace {

const char *const kSelect = "Select the firmware to be downloaded, then click the [Start] button.";
constexpr uint32_t kGrey = 0xC0C0C0, kGreen = 0xC0FFC0, kYellow = 0x80FFFF, kCyan = 0xFFFF80,
                   kWhite = 0xFFFFFF, kLightRed = 0x8080FF;
const QStringList kSteps = {"lblStep_0", "lblStep_1", "lblStep_2",
                            "lblStep_3", "lblStep_4", "lblStep_5"};
const QList<uint32_t> kAllGrey(6, kGrey);

// clang-format off
// What the window shows in one state: Start, Cancel, Exit and the tree available or not, the colours
// of the three buttons, Start's caption, the run message and gDownloadState (-1: a run is under way).
struct WindowState { const char *onOff; uint32_t start, cancel, exit; const char *startText, *message; int16_t state; };
const WindowState kIdle     {"0011", kGrey,  kGrey,   kYellow, "Start", kSelect, 0};
const WindowState kReady    {"1011", kGreen, kGrey,   kYellow, "Start", kSelect, 0};
const WindowState kRunning  {"0100", kCyan,  kYellow, kGrey,   "Start", "Downloading...", -1};
const WindowState kSucceeded{"1000", kGreen, kGrey,   kGrey,   "O  K",  "Downloading complete", 5};
const WindowState kStopped  {"1000", kGreen, kGrey,   kGrey,   "O  K",  "Downloading has been canceled.", 8};
const WindowState kFailed   {"0000", kCyan,  kYellow, kGrey,   "Start", "Downloading...", 9};
// clang-format on

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitColours();
        std::tie(gPort, gPrototype, gSelectedModel, gSelectedPcb, gFdir) =
            std::tuple("1", 1, "M100", "MAIN", app.path() + "/torvane/FieldKit/");
        gCountryList = {"US", "United States", "JP", "Japan"};
        gLangList = {"EN", "English", "JA", "Japanese"};
        std::tie(gTgbnList, gTgbnDescList) =
            std::tuple(QStringList{"", "SUB", "MAIN"}, QStringList{"", "Sub board", "Main board"});
        catalogue({"USENv0100", "JPJAv0210", "USJAv0000"});
        writeIni(1);
        // Every message box is closed with OK once it is up; what it showed is kept.
        boxWatch.callOnTimeout([this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + " | " + box->text() + " | " +
                             QString::number(box->icon() + box->standardButtons().toInt());
                box->button(QMessageBox::Ok)->click();
            }
        });
        boxWatch.start(10);
    }
    void open() {
        frmQARN_UI::Links l = frmQARN_UI::DefaultLinks();
        l.showErrorWindow = [this] { errorWindows << gErrNo; };
        l.hostReturnUi = [this]() -> HostReturnUi & { return host; };
        l.runDownload = [this](QString &sum) { return runner ? (++runs, runner(sum)) : false; };
        l.secondsSinceMidnight = [this] { return clockSeconds; };
        window.reset();
        window = std::make_unique<frmQARN_UI>(l);
    }
    template <typename T = QWidget> T *w(const QString &name) const {
        T *found = window->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    QPushButton *button(const char *name) const { return w<QPushButton>(name); }
    QString text(const QString &name) const { return w(name)->property("text").toString(); }
    int value(const char *bar) const { return w<QProgressBar>(bar)->value(); }
    QTreeWidget *tree() const { return w<QTreeWidget>("treFirmList"); }
    // For each named widget "1" when it is visible (or enabled), else "0".
    QString shown(const QStringList &names, bool enabled = false) const {
        QString bits;
        for (const QString &name : names)
            bits += (enabled ? w(name)->isEnabled() : w(name)->isVisible()) ? u'1' : u'0';
        return bits;
    }
    // The colour the widget really paints at a point, as 0x00BBGGRR.
    static uint32_t painted(QWidget *w, QPoint at = {4, 4}) {
        const QColor c = w->grab().toImage().pixelColor(at);
        return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
    }
    // The back colour each widget keeps; each must also paint it.
    QList<uint32_t> backs(const QStringList &names) const {
        QList<uint32_t> kept;
        for (const QString &name : names) {
            kept << BackColour(w(name));
            EXPECT_EQ(painted(w(name)), kept.last()) << name.toStdString();
        }
        return kept;
    }
    void expectState(const WindowState &s) {
        EXPECT_EQ(shown({"cmdStart", "cmdCancel", "cmdExit", "treFirmList"}, true), s.onOff);
        EXPECT_EQ(backs({"cmdStart", "cmdCancel", "cmdExit"}), QList({s.start, s.cancel, s.exit}));
        EXPECT_EQ(text("cmdStart") + " | " + text("lblDLMsg") + " | " +
                      QString::number(ForeColour(w("lblDLMsg"))), // red after a stop
                  QString(s.startText) + " | " + s.message + " | " + (s.state == 8 ? "255" : "0"));
        EXPECT_TRUE(s.state < 0 || gDownloadState == s.state) << gDownloadState;
    }
    // QARN.ini, which the description reader reads again at every selection.
    void writeIni(int language) {
        app.write("QARN.ini", "LANGUAGE " + QByteArray::number(language) + "\r\nPROTOTYPE 1\r\n");
        gLangBase = language * 100;
    }
    void catalogue(const QStringList &versions) {
        app.write("torvane.conf", "machine=M100\r\nboard=MAIN\r\nversion=" +
                                      versions.join("\r\nversion=").toLatin1() + "\r\nend\r\n");
    }
    static QString store(const QString &v) { return "torvane/FieldKit/M100/MAIN/" + v + "/"; }
    // A firmware folder: a description of the given CPUT with its kernel and program image.
    void writeFirmware(const QString &version, int cput, const QString &file = "FIRM.IFT",
                       const QByteArray &extra = {}) {
        app.write(store(version) + file,
                  "CPUT " + QByteArray::number(cput) +
                      "\r\nDF KERNEL.BIN\r\nPFN PROG.BIN\r\nUCS 018A\r\nFSA "
                      "00000000\r\nFEA 000000FF\r\nFCS BEEF\r\nPDSIZE 16\r\n" +
                      extra);
        app.write(store(version) + "KERNEL.BIN", QByteArray::fromHex("01223344f0"));
        app.write(store(version) + "PROG.BIN", QByteArray(40, char(0x5A)));
    }
    // The version folder the last successful read took its kernel from.
    static QString readFolder() {
        return gIrdFile.isEmpty() ? "" : QFileInfo(gIrdFile).dir().dirName();
    }
    void clickNode(const QString &key) {
        QTreeWidgetItemIterator it(tree());
        while (*it && (*it)->data(0, Qt::UserRole).toString() != key)
            ++it;
        ASSERT_TRUE(*it) << key.toStdString();
        button("cmdSetupOK")->click();
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                          tree()->visualItemRect(*it).center());
    }
    void ready(int cput, const QString &version = "USENv0100") {
        writeFirmware(version, cput);
        open();
        clickNode("M100=MAIN\\" + version);
    }

    TempAppDir app;
    QTimer boxWatch;
    QStringList boxes; // "title | text | icon + buttons" of each message box
    RecordingHostReturn host;
    QList<int16_t> errorWindows; // gErrNo each time the error window was opened
    std::function<bool(QString &)> runner;
    int runs = 0;
    double clockSeconds = 0.0;
    std::unique_ptr<frmQARN_UI> window;
};

TEST_F(WindowTest, LoadFollowsTheSettingsAndTheCatalogueInEitherLanguage) {
    // clang-format off
    struct Case { int16_t prototype; const char *port, *setupInfo; int language; const char *shown, *title; WindowState s; };
    const Case cases[] = {
        {1, "1", "0", 1, "10", "Velmora QARN (Ver.3.31E) Download", kIdle},
        {2, "12", "1", 0, "01", "Velmora QARN (Ver.3.31J)  Download", {"0010", kGrey, kGrey, kYellow, "開  始", "ダウンロードするシステムソフトを選んで[開始]ボタンをクリックしてください。", 0}},
        {0, "3", "", 1, "01", "Velmora QARN (Ver.3.31E) Download", {"0010", kGrey, kGrey, kYellow, "Start", kSelect, 0}}};
    // clang-format on
    for (const Case &c : cases) {
        std::tie(gPrototype, gPort, gSetupInfo) = std::tie(c.prototype, c.port, c.setupInfo);
        writeIni(c.language);
        open();
        EXPECT_EQ(text("lblPortNo") + shown({"lblSim_Mode", "fraSetup"}) + window->windowTitle(),
                  QString("Port COM") + c.port + c.shown + c.title);
        EXPECT_EQ(gComm != nullptr, c.prototype == 0);
        expectState(c.s);
        EXPECT_EQ(window->focusWidget(), c.shown[1] == '1' ? w("cmdSetupOK") : w("treFirmList"));
        EXPECT_EQ(backs(kSteps), kAllGrey);
        EXPECT_EQ(text("lblStep_0") + text("lblStep_5") +
                      QString::number(ForeColour(w("lblStep_5"))) + text("lblByteCount") +
                      text("lblStatus"),
                  c.language ? "0Initial" : "0イニシャル");
        EXPECT_EQ(shown({"prgDownload", "lblCheckSum", "fraMessage", "lblStatus", "lblByteCount",
                         "prgCPU_0", "prgCPU_1"}) +
                      shown({"cmdDownload"}, true),
                  "00000110");
        EXPECT_EQ(QList<int>({w<QProgressBar>("prgDownload")->maximum(), value("prgCPU_0"),
                              value("prgCPU_1"), window->refreshTimer().interval(),
                              window->refreshTimer().isActive()}),
                  QList<int>({1000, 0, 1000, 200, 0}));
        const QTreeWidgetItem *board = tree()->topLevelItem(0)->child(0);
        EXPECT_TRUE(board->isExpanded() &&
                    board->child(1)->data(0, Qt::UserRole) == "M100=MAIN\\JPJAv0210");
    }
    window.reset();
    EXPECT_EQ(gComm, nullptr); // the window's port goes with the window
    QFile::remove(app.filePath("torvane.conf"));
    open();
    EXPECT_EQ(errorWindows, QList<int16_t>{160});
    EXPECT_TRUE(window->isVisible() && tree()->topLevelItemCount() == 0);
}

TEST_F(WindowTest, CaptionsAndOverlaysAndExitHandsSubEndBack) {
    // clang-format off
    const char *const english[] = { // name, caption
        "cmdDownload", "Download Firmware", "cmdCancel", "Cancel", "cmdExit", "Return to Main Menu", "cmdFwd", "Stop Downloading",
        "cmdBack", "Continue Downloading", "cmdSetupOK", "O    K", "lblFirmlist", "Selectable Firmware",
        "lblControlMsg", "Click the button of the task to be executed.", "fraSetup", "Connection", "fraMessage", "Caution",
        "lblSetupMsg", "1. Connect PC and the device with Downloader PCB (QX4-7710).\r\n2. Trun on the device.\r\n3. Push the Start/Stop button.",
        "lblMessage", "Downloading the firmware.\r\nIf downloading is stopped, the device will not work until downloading is completed. "};
    // clang-format on
    app.write("torvane.cha", "MAIN SET\r\n");
    open();
    for (size_t i = 0; i < std::size(english); i += 2)
        EXPECT_EQ(english[i][0] == 'f' ? w<QGroupBox>(english[i])->title() : text(english[i]),
                  english[i + 1]);
    EXPECT_EQ(QList<QPoint>({w("fraSetup")->pos(), w("fraMessage")->pos()}),
              QList<QPoint>({{162, 109}, {242, 109}})); // in twips 2425, 3637 and 1641
    EXPECT_TRUE(window->close()); // an idle window closes without handing anything back
    open();
    button("cmdSetupOK")->click();
    EXPECT_EQ(shown({"fraSetup", "treFirmList"}) + shown({"treFirmList"}, true), "011");
    // During a run no handler changes what the run has set, however it is reached: hidden
    // controls are disabled (an accessibility client's press does nothing), and a call returns.
    runner = [this](QString &) {
        for (const char *hidden : {"cmdSetupOK", "cmdFwd", "cmdBack"}) {
            QAccessible::queryAccessibleInterface(button(hidden))
                ->actionInterface()
                ->doAction(QAccessibleActionInterface::pressAction());
        }
        QTest::qWait(300); // a press clicks once its animation has run
        window->cmdSetupOK_Click(), window->cmdExit_Click(), window->cmdBack_Click();
        EXPECT_EQ(shown({"treFirmList", "cmdExit", "cmdCancel"}, true) + shown({"fraMessage"}) +
                      QString::number(gStopRequested),
                  "00100");
        for (const bool stop : {false, true}) {
            button("cmdCancel")->click();
            EXPECT_EQ(shown({"fraMessage"}) + shown({"cmdCancel", "cmdFwd", "cmdBack"}, true),
                      "1011");
            button(stop ? "cmdFwd" : "cmdBack")->click();
            EXPECT_EQ(shown({"fraMessage"}) + shown({"cmdCancel", "cmdFwd", "cmdBack"}, true) +
                          QString::number(gStopRequested),
                      stop ? "10001" : "01000");
        }
        return false;
    };
    window->cmdStart_Click();
    EXPECT_EQ(shown({"fraMessage"}) + shown({"cmdSetupOK", "cmdFwd", "cmdBack"}, true), "0000");
    gStopRequested = false; // without a run the stop question has nothing to stop
    window->cmdCancel_Click(), window->cmdFwd_Click();
    EXPECT_EQ(shown({"fraMessage"}) + QString::number(gStopRequested), "00");
    window->cmdStart_Click(); // "O  K" after the stop
    EXPECT_EQ(app.read("torvane.cha"), "MAIN SET\r\n");
    button("cmdExit")->click();
    EXPECT_EQ(app.read("torvane.cha") + app.read("torvane.cha.bak"), "SUB END\r\nMAIN SET\r\n");
    EXPECT_EQ(host.events.mid(1), QStringList({"close", "end"})); // no host here: message 190
    EXPECT_EQ(shown({"cmdExit", "cmdSetupOK"}, true), "00");
}

TEST_F(WindowTest, NodeClickShowsTheFirmwareAndItsStepsAndTheKeyboardSelectsAsWell) {
    // clang-format off
    struct Case { int language; const char *key, *read; int cput; QString board; const char16_t *info, *steps; };
    const Case cases[] = {
        {1, "JPJAv0210", "JPJAv0210", 1, "MAIN", u"Main board\r\n  Country/Region: Japan\r\n  Language: Japanese\r\n  Version: 02.10", u"Initial Setup 1 Erase Setup 2 Write Complete"},
        {0, "USENv0100", "USENv0100", 5, "MAIN", u"Main board\r\n\u3000国/地域:United States\r\n\u3000言語:English\r\n\u3000バージョン:01.00", u"イニシャル セットアップ 1 セットアップ 2 消  去 書込み 完  了"},
        {1, "XXYYv0304", "XXYYv0304", 6, "OTHER", u"MAIN\r\n  Country/Region: XX\r\n  Language: YY\r\n  Version: 03.04", u"Initial Setup 1 Setup 2 Erase Write Complete"},
        {1, "USJAv0000", "USJAv0000", 0, "MAIN", u"Main board\r\n  Country/Region: United States\r\n  Language: Japanese\r\n  Version: 00.00", u"Initial Setup 1 Erase Setup 2 Write Complete"},
        // A board click picks the highest number, the earlier of equals; malformed ones rank lowest.
        {1, "", "USENv0210", 5, "MAIN", u"Main board\r\n  Country/Region: United States\r\n  Language: English\r\n  Version: 02.10", u"Initial Setup 1 Setup 2 Erase Write Complete"}};
    // clang-format on
    for (const Case &c : cases) {
        writeIni(c.language);
        std::tie(gTgbnList, gTgbnDescList) =
            std::tuple(QStringList{"", c.board}, QStringList{"", "Main board"});
        catalogue(
            *c.key ? QStringList(c.key)
                   : QStringList({"USENv0100", "USENv0210", "JPJAv0210", "USENv9x99", "USENv1.2"}));
        for (const char *v : {c.read, "JPJAv0210"})
            writeFirmware(v, c.cput);
        open();
        clickNode(QString("M100=MAIN") + (*c.key ? "\\" : "") + c.key);
        QStringList seen = {text("lblFirmInfo"), readFolder()};
        for (const QString &name : kSteps)
            seen << text(name);
        EXPECT_EQ(seen.join(' '),
                  QString::fromUtf16(c.info) + " " + c.read + " " + QString::fromUtf16(c.steps));
        EXPECT_EQ(backs(kSteps + QStringList("cmdStart")),
                  QList({kWhite, kGrey, kGrey, kGrey, kGrey, kGrey, kGreen}));
        EXPECT_TRUE(button("cmdStart")->isEnabled() && window->focusWidget() == button("cmdStart"));
        clickNode("M100");
        EXPECT_EQ(text("lblFirmInfo") + shown({"cmdStart"}, true), "0");
        EXPECT_EQ(backs({"cmdStart"}), QList{kGrey});
    }
    QTest::keyClick(tree(), Qt::Key_Down); // the board: its newest version
    EXPECT_EQ(readFolder() + shown({"cmdStart"}, true), "USENv02101");
    QTest::keyClick(tree(), Qt::Key_Up); // the model
    EXPECT_EQ(text("lblFirmInfo") + shown({"cmdStart"}, true), "0");
    QTest::keyClick(tree(), Qt::Key_End); // a version without a folder
    EXPECT_EQ(errorWindows, QList<int16_t>{120});
    catalogue({"USENv0000", "USENv0a00"}); // nothing to pick: the board's description alone,
    writeFirmware("USENv0000", 5);         // and Start no longer writes the version before
    open();
    clickNode("M100=MAIN\\USENv0000");
    ASSERT_TRUE(button("cmdStart")->isEnabled());
    clickNode("M100=MAIN");
    EXPECT_EQ(text("lblFirmInfo") + shown({"cmdStart"}, true), "Main board0");
    EXPECT_EQ(errorWindows.size() + boxes.size(), 1);
}

TEST_F(WindowTest, DescriptionIsTheFirstIftOfAFolderOrItsErrorIsShown) {
    catalogue({"USENv0100", "JPJAv0210", "USJAv0000", "XXYYv0100"});
    const QString folder = store("USENv0100");
    for (const QString name : {"b.ift", "A.IFT", "c.Ift"}) {
        writeFirmware("USENv0100", 5, name, "DF " + name.left(1).toLatin1() + ".BIN\r\n");
        app.write(folder + name.left(1) + ".BIN", "k");
    }
    QDir().mkpath(app.filePath(folder + "0.ift"));           // a folder, not a file
    app.write(folder + ".0.ift", "CPUT 5\r\nDF HIDDEN\r\n"); // a hidden file
    writeFirmware("JPJAv0210", 5);
    QFile::remove(app.filePath(store("JPJAv0210") + "KERNEL.BIN"));
    app.write(store("XXYYv0100") + "readme.txt", "no description here");
    // The host's folder named with another letter case and the other separator.
    ASSERT_TRUE(QDir(app.filePath("torvane")).rename("FieldKit", "FIELDKIT"));
    const QString fdir = gFdir = app.path() + "\\torvane\\fieldKIT\\host";
    open();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_EQ(QFileInfo(gIrdFile).fileName(), "A.BIN");
    const std::tuple<QString, const char *, const char *> noDescription[] = {
        {fdir, "XXYYv0100", "XXYYv0100/*.ift"},
        {fdir, "USJAv0000", "USJAv0000/*.ift"},
        {app.path() + "/torvane/FIELDKIT2/", "USENv0100", "/torvane/FIELDKIT2/"}};
    for (const auto &[tool, version, fileEnd] : noDescription) {
        errorWindows.clear();
        gFdir = tool;
        gRunErrNo = 7;
        clickNode(QString("M100=MAIN\\") + version);
        EXPECT_EQ(errorWindows, QList<int16_t>{120}) << version;
        EXPECT_TRUE(gRunErrNo == 0 && gErrFileName.endsWith(fileEnd)) << gErrFileName.toStdString();
    }
    // The screen shows the version clicked last: Start no longer writes the one read before.
    EXPECT_EQ(text("lblFirmInfo").right(5) + shown({"cmdStart"}, true), "01.000");
    EXPECT_EQ(backs({"cmdStart"}), QList{kGrey});
    gFdir = fdir;
    clickNode("M100=MAIN\\USENv0100");
    clickNode("M100=MAIN\\JPJAv0210");
    EXPECT_EQ(boxes, QStringList("Velmora QARN (Ver.3.31E) | Could not find the necessary file."
                                 "\r\n  File name: " +
                                 gErrFileName + " | 1024")); // OK, no icon
    EXPECT_EQ(shown({"cmdStart"}, true) + QString::number(errorWindows.size()), "01");
    EXPECT_EQ(backs({"cmdStart"}), QList{kGrey});
    EXPECT_EQ(ToolPrefix("C:\\t\\FieldKit\\a\\fieldkit\\"), "C:\\t\\FieldKit\\");
}

TEST_F(WindowTest, EachRunEndsInItsStateAndOkResetsTheWindow) {
    const auto stopAndWait = [this] {
        button("cmdFwd")->click();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->refreshTimer().isActive(); }));
    };
    const std::pair<std::function<bool(QString &)>, const WindowState &> cases[] = {
        {[&](QString &sum) { // a stop that the sequence cleared again
             gDownloadState = 4;
             EXPECT_FALSE(window->close()); // closing asks the stop question instead
             window->cmdStart_Click();      // nor does Start run twice
             stopAndWait();
             std::tie(gStopRequested, gDownloadState, sum) = std::tuple(false, 5, "ABCD");
             return true;
         },
         kSucceeded},
        {[&](QString &) {
             std::tie(gDownloadState, gByteTotal, gByteCount) = std::tuple(4, 7000, 3500);
             EXPECT_TRUE(QTest::qWaitFor([this] { return value("prgDownload") == 500; }));
             button("cmdCancel")->click();
             stopAndWait();
             gByteCount = 7000;
             return false;
         },
         kStopped},
        {[&](QString &) { // a failure while the stop question is up; a Continue click still waiting
                          // when the run fails cannot bring Cancel back
             std::tie(gDownloadState, gErrNo) = std::tuple(2, 350);
             button("cmdCancel")->click();
             QMetaObject::invokeMethod(button("cmdBack"), &QAbstractButton::click,
                                       Qt::QueuedConnection);
             return false;
         },
         kFailed}};
    for (const auto &[act, end] : cases) {
        ready(0);
        expectState(kReady);
        runs = 0;
        runner = [&](QString &sum) {
            expectState(kRunning);
            EXPECT_TRUE(window->refreshTimer().isActive() && !gStopRequested);
            return act(sum);
        };
        std::tie(gStopRequested, gByteCount) = std::tuple(true, 99);
        const QPointer<QWidget> stale = new frmError(host); // from an earlier selection
        OpenToolWindow(stale);
        button("cmdStart")->click();
        EXPECT_TRUE(!stale || !stale->isVisible()); // Start closed it
        expectState(end);
        // Only after a failure may an error window's OK end the tool before O K is clicked.
        frmError(host).findChild<QPushButton *>("cmdErrorOK")->click();
        EXPECT_EQ(host.events.size(), end.state == 9 ? 3 : 0);
        EXPECT_EQ(shown({"fraMessage", "lblCheckSum"}) + text("lblCheckSum"),
                  end.state == 5 ? "01CheckSum\r\nABCD  OK" : "01");
        EXPECT_FALSE(window->refreshTimer().isActive());
        if (end.state != 8) {
            EXPECT_EQ(backs(kSteps.mid(0, end.state == 5 ? 6 : 3)),
                      end.state == 5 ? QList({kGrey, kGreen, kGreen, kGreen, kGreen, kYellow})
                                     : QList({kGrey, kGreen, kLightRed}));
        }
        EXPECT_TRUE(end.state != 8 || value("prgDownload") == 500); // frozen at the stop request
        EXPECT_EQ(errorWindows, end.state == 9 ? QList<int16_t>{350} : QList<int16_t>{});
        window->cmdStart_Click(); // "O  K"; nothing after a failure
        EXPECT_EQ(runs, 1);
        expectState(end.state == 9 ? kFailed : kIdle);
        if (end.state == 9)
            continue;
        EXPECT_EQ(backs(kSteps), kAllGrey);
        EXPECT_EQ(text("lblStep_0") + shown({"lblCheckSum", "prgDownload"}), "00");
        EXPECT_EQ(value("prgCPU_0") + gByteCount, 0);
    }
}

TEST_F(WindowTest, FailureCaptionsTheFailedStepByVariant) {
    const std::tuple<int, int16_t, const char *> cases[] = {
        {0, 1, "Setup 1 Error"}, {1, 2, "Erase Error"},   {0, 3, "Setup 2 Error"},
        {0, 4, "Write Error"},   {5, 2, "Setup 2 Error"}, {6, 3, "Erase Error"}};
    for (const auto &[cput, state, caption] : cases) {
        ready(cput);
        runner = [state = state](QString &) { return (gDownloadState = state) == 0; };
        window->cmdStart_Click();
        EXPECT_EQ(text(kSteps[state]), caption) << cput << " " << state;
        EXPECT_EQ(backs(kSteps.mid(state - 1, 2)),
                  QList({state == 1 ? kWhite : kGreen, kLightRed}));
    }
}

TEST_F(WindowTest, EachTickShowsTheStateOfTheRun) {
    // clang-format off
    // The seconds are the wall clock since midnight; -1 stands for a hidden bar; the colour is the
    // back colour of the step under way.
    struct Tick { int16_t variant, state; int32_t count, total; double seconds; int download, cpu0, cpu1; uint32_t current; };
    const Tick ticks[] = {
        {0, 1, 1500, 3000, 1.0, 500, 500, 1000, kWhite}, // the kernel goes over
        // The flash bar blinks with the step during the erase of every variant, and only then.
        {0, 2, 0, 0, 3.0, -1, 0, 1000, kWhite}, {0, 2, 0, 0, 4.0, -1, 0, 0, kYellow}, {1, 2, 0, 0, 4.0, -1, 0, 0, kYellow},
        {0, 3, 0, 0, 4.0, -1, 1000, 0, kYellow}, // setup 2 after the erase
        {1, 3, 300, 3000, 5.0, 100, 100, 0, kWhite}, // variant 1 sends the kernel at step 3
        {2, 2, 0, 0, 4.0, -1, 0, 1000, kYellow}, {3, 2, 0, 0, 4.0, -1, 0, 1000, kYellow}, // setup 2 first
        {2, 3, 0, 0, 6.0, -1, 1000, 0, kYellow}, {3, 3, 0, 0, 6.0, -1, 1000, 0, kYellow}, {3, 3, 0, 0, 5.0, -1, 1000, 1000, kWhite},
        {2, 4, 3500, 7000, 6.0, 500, 0, 500, kYellow}, // writing fills the flash bar
        {2, 4, 9000, 7000, 6.0, 1000, 0, 1000, kYellow}, {2, 4, -5, 7000, 6.0, 0, 0, 0, kYellow},
        {2, 4, 1, 2000, 6.0, 0, 0, 0, kYellow}, {2, 4, 3, 2000, 6.0, 2, 0, 2, kYellow}, // half to even
        {2, 4, 0, 0, 0.5, -1, 1000, 1000, kYellow}, {2, 4, 0, 0, 1.4, -1, 1000, 1000, kWhite},
        {2, 5, 0, 0, 1.0, -1, 1000, 1000, kYellow}, // every step done
        {2, 8, 1, 2, 1.0, -1, 0, 1000, kGrey}, {2, 9, 1, 2, 1.0, -1, 0, 1000, kGrey}}; // ended
    // clang-format on
    open();
    for (const Tick &t : ticks) {
        SCOPED_TRACE(testing::Message() << t.variant << " " << t.state << " " << t.count);
        window->ResetProgressBars();
        window->ResetStepLabels();
        window->ShowStepCaptions(gSeqType = t.variant);
        std::tie(gDownloadState, gByteCount, gByteTotal, clockSeconds) =
            std::tie(t.state, t.count, t.total, t.seconds);
        window->refreshTimer().start();
        window->tmrRefresh_Timer();
        EXPECT_EQ(QList<int>({shown({"prgDownload"}) == "1" ? value("prgDownload") : -1,
                              value("prgCPU_0"), value("prgCPU_1")}),
                  QList<int>({t.download, t.cpu0, t.cpu1}));
        QList<uint32_t> want = {t.state >= 2 && t.state <= 5 ? kGrey : kWhite};
        for (int i = 1; i < 6; ++i) // the steps done, the one under way, the ones to come
            want << (t.state > 5 ? kGrey : i < t.state ? kGreen : i == t.state ? t.current : kGrey);
        EXPECT_EQ(backs(kSteps), want);
        EXPECT_EQ(window->refreshTimer().isActive(), t.state < 5);
    }
}

TEST_F(WindowTest, EveryRunIsRecordedInTheHistoryAndASimulatedOneEndsWithTheDescriptionsSum) {
    FakeLinkClock clock;
    ScopedLinkClock useClock(&clock);
    // QARN.ini, a folder in the history's place, the checksum shown, the history's line from
    // its tool to its FCS ("": none)
    const std::tuple<const char *, bool, const char *, QString> cases[] = {
        {"PROTOTYPE 1", false, "CheckSum\r\nBEEF OK", ",,,,,,9600,9600,simulated,0,,0xBEEF"},
        {"PORT 77", false, "", ",COM77,,,,,9600,9600,failed,301,,0xBEEF"}, // no such port
        {"PROTOTYPE 1\r\nHISTORY 0", false, "CheckSum\r\nBEEF OK", ""},
        {"PROTOTYPE 1\r\nTRACE 1", true, "CheckSum\r\nBEEF OK", ""}, // noted in the trace
        {"PROTOTYPE 1", true, "CheckSum\r\nBEEF OK", ""}}; // and said, with the trace off too
    for (const auto &[ini, folder, shown, recorded] : cases) {
        SCOPED_TRACE(ini);
        QFile::remove(app.filePath("qarn-history.csv"));
        QDir(app.filePath("qarn-history.csv")).removeRecursively();
        if (folder)
            QDir().mkpath(app.filePath("qarn-history.csv"));
        app.write("QARN.ini", QByteArray("LANGUAGE 0\r\n") + ini + "\r\n");
        gPrototype = QString(ini).startsWith("PROTOTYPE 1"); // binds the port at load, or not
        ready(1);
        runner = frmQARN_UI::DefaultLinks().runDownload;
        window->cmdStart_Click();
        EXPECT_EQ(text("lblCheckSum"), shown);
        const QStringList lines = QString(app.read("qarn-history.csv")).split("\r\n");
        EXPECT_EQ(lines.value(1).section(",", 1, 14).toStdString(),
                  (recorded.isEmpty() ? "" : "qarn,download,M100/MAIN/USENv0100" + recorded)
                      .toStdString());
        EXPECT_EQ(
            app.read("qarn-trace.log")
                .contains("run history not written: " + app.filePath("qarn-history.csv").toUtf8() +
                          " is not a regular file, not written\n"),
            folder && QString(ini).contains("TRACE 1"));
        // Said once after the run, without a question that would hold the window up.
        QStringList said;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "historyProblem" && top->isVisible())
                said << qobject_cast<QMessageBox *>(top)->text(), top->close();
        }
        EXPECT_EQ(said, folder ? QStringList("実行履歴を書き込めませんでした（ダウンロードには影響"
                                             "ありません）。\n" +
                                             app.filePath("qarn-history.csv") +
                                             " is not a regular file, not written")
                               : QStringList());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QFile::remove(app.filePath("qarn-trace.log"));
    }
}

TEST_F(WindowTest, ErrorWindowShowsTheErrorInTheCurrentLanguageAndOkHandsBackSubError) {
    // clang-format off
    const std::tuple<int32_t, int16_t, const char *, const char *, const char *> cases[] = {
        {0, 130, "/app/QARN.ini", "", "Velmora QARN (Ver.3.31J)  Error|E130|指定されたファイルがオープンできませんでした。\n  ファイル名: /app/QARN.ini|メインメニューへ戻る"},
        {100, 302, "", "AdjBitRate", "Velmora QARN (Ver.3.31E) Error|E302|Could not complete serial communication adjustment within the time limit.\nCheck the following items:\n"
         "  Cable connection\n  Power of the connected device\n  If the Start LED of the control box is lit\n\n  Function: AdjBitRate|Return to Main Menu"}};
    // clang-format on
    app.write("torvane.cha", "MAIN SET\r\n");
    for (const auto &[base, errNo, file, function, expected] : cases) {
        std::tie(gLangBase, gErrNo, gErrFileName, gFuncName) =
            std::tuple(base, errNo, file, function);
        frmError window(host);
        window.show();
        auto *ok = window.findChild<QPushButton *>("cmdErrorOK");
        const auto label = [&](const char *name) {
            return window.findChild<QLabel *>(name)->text();
        };
        EXPECT_EQ(window.windowTitle() + "|" + label("lblErrorCode") + "|" + label("lblError") +
                      "|" + ok->text(),
                  QString::fromUtf8(expected));
        EXPECT_EQ(painted(ok, {4, ok->height() / 2}), kYellow); // the shared yellow
        EXPECT_TRUE(ok->isEnabled() && window.findChild<QWidget *>("Shape1"));
    }
    frmError(host).findChild<QPushButton *>("cmdErrorOK")->click();
    EXPECT_EQ(app.read("torvane.cha"), "SUB ERROR\r\n");
    EXPECT_EQ(host.events.mid(1), QStringList({"close", "end"}));
}

TEST_F(WindowTest, ErrorWindowsCloseAloneAndAllWindowsMostRecentFirst) {
    QFile::remove(app.filePath("torvane.conf"));
    AppStartupWindows().showMainWindow(); // its load fails: the error window opens first
    AppHostReturnUi().showMessage("one\r\ntwo");
    EXPECT_EQ(boxes, QStringList("Velmora QARN (Ver.3.31E) | one\ntwo | 1024"));
    QStringList closed;
    const auto closeAndWatch = [&closed](const std::function<void()> &close) {
        for (QWidget *shown : QApplication::topLevelWidgets()) {
            EXPECT_TRUE(!shown->isVisible() || !shown->isModal());
            if (!shown->property("watched").toBool())
                QObject::connect(shown, &QObject::destroyed,
                                 [&closed, n = shown->objectName()] { closed << n; });
            shown->setProperty("watched", true);
        }
        close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    ShowErrorWindow();
    closeAndWatch(CloseErrorWindows); // both error windows, not the main window
    ShowErrorWindow();
    closeAndWatch([] { AppHostReturnUi().closeAllWindows(); });
    EXPECT_EQ(closed, QStringList({"frmError", "frmError", "frmError", "frmQARN_UI"}));
}

} // namespace
