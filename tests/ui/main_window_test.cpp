#include "window_fixture.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QTest>

namespace {

struct LanguageCase {
    int32_t langBase;
    const char16_t *title;
    const char16_t *download;
    const char16_t *start;
    const char16_t *cancel;
    const char16_t *exit;
    const char16_t *dlMsg;
    const char16_t *setupMsg;
    const char16_t *message;
    const char16_t *stop;
    const char16_t *goOn;
};

const LanguageCase kLanguages[] = {
    {0, u"Velmora QARN (Ver.3.31J)  Download", u"システムソフトのダウンロード", u"開  始",
     u"キャンセル", u"メインメニューへ戻る",
     u"ダウンロードするシステムソフトを選んで[開始]ボタンをクリックしてください。",
     u"1. PCとアクセサリをダウンローダ回路基板(QX4-7710)で接続する。\r\n"
     u"2. アクセサリの電源をONにする。\r\n3. Start/Stopボタンを押す。",
     u"システムソフトのダウンロード中です。\r\n"
     u"中止すると、もう一度ダウンロードを完了するまで接続先のデバイスを使う事が出来なくなります。",
     u"ダウンロード中止", u"ダウンロード継続"},
    {100, u"Velmora QARN (Ver.3.31E) Download", u"Download Firmware", u"Start", u"Cancel",
     u"Return to Main Menu",
     u"Select the firmware to be downloaded, then click the [Start] button.",
     u"1. Connect PC and the device with Downloader PCB (QX4-7710).\r\n2. Trun on the device.\r\n"
     u"3. Push the Start/Stop button.",
     u"Downloading the firmware.\r\nIf downloading is stopped, the device will not work until "
     u"downloading is completed. ",
     u"Stop Downloading", u"Continue Downloading"},
};

TEST_F(WindowTest, LoadWritesEveryCaptionInTheChosenLanguage) {
    for (const LanguageCase &c : kLanguages) {
        SCOPED_TRACE(c.langBase);
        gLangBase = c.langBase;
        open();
        EXPECT_EQ(window->windowTitle(), QString::fromUtf16(c.title));
        EXPECT_EQ(button("cmdDownload")->text(), QString::fromUtf16(c.download));
        EXPECT_EQ(button("cmdStart")->text(), QString::fromUtf16(c.start));
        EXPECT_EQ(button("cmdCancel")->text(), QString::fromUtf16(c.cancel));
        EXPECT_EQ(button("cmdExit")->text(), QString::fromUtf16(c.exit));
        EXPECT_EQ(button("cmdFwd")->text(), QString::fromUtf16(c.stop));
        EXPECT_EQ(button("cmdBack")->text(), QString::fromUtf16(c.goOn));
        EXPECT_EQ(button("cmdSetupOK")->text(), QStringLiteral("O    K"));
        EXPECT_EQ(label("lblDLMsg")->text(), QString::fromUtf16(c.dlMsg));
        EXPECT_EQ(label("lblSetupMsg")->text(), QString::fromUtf16(c.setupMsg));
        EXPECT_EQ(label("lblMessage")->text(), QString::fromUtf16(c.message));
        EXPECT_EQ(label("lblFirmInfo")->text(), QString());
        EXPECT_EQ(label("lblStatus")->text(),
                  c.langBase == 0 ? QStringLiteral("イニシャル") : QStringLiteral("Initial"));
        EXPECT_FALSE(label("lblStatus")->isVisible());
        EXPECT_FALSE(label("lblByteCount")->isVisible());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->focusWidget(), button("cmdSetupOK"));
    }
    gLangBase = 100;
    open();
    EXPECT_EQ(label("lblFirmlist")->text(), QStringLiteral("Selectable Firmware"));
    EXPECT_EQ(label("lblControlMsg")->text(),
              QStringLiteral("Click the button of the task to be executed."));
}

TEST_F(WindowTest, FrameCaptionsAreTheSameInBothLanguages) {
    const std::pair<const char *, const char *> frames[] = {
        {"fraTop", ""},
        {"fraDownload", "SelectableFirmware"},
        {"fraControl", "Control"},
        {"fraInfo", "Information"},
        {"fraMessage", "Caution"},
        {"fraCommand", ""},
        {"fraSetup", "Connection"},
    };
    for (const int32_t base : {0, 100}) {
        gLangBase = base;
        open();
        for (const auto &[name, title] : frames)
            EXPECT_EQ(child<QGroupBox>(name)->title(), QString::fromLatin1(title)) << name;
    }
}

TEST_F(WindowTest, FramesLieWhereTheLayoutPutsThem) {
    open();
    EXPECT_EQ(window->centralWidget()->size(), QSize(787, 548));
    struct Place {
        const char *name;
        QRect rect; // pixels, 15 twips each
    };
    const Place places[] = {
        {"fraTop", {0, 0, 785, 97}},          {"fraDownload", {0, 104, 257, 441}},
        {"fraControl", {264, 104, 273, 441}}, {"fraInfo", {544, 104, 241, 441}},
        {"fraSetup", {162, 109, 473, 353}},   {"fraMessage", {242, 109, 321, 289}},
        {"fraCommand", {8, 160, 305, 113}},
    };
    for (const Place &p : places)
        EXPECT_EQ(child<QGroupBox>(p.name)->geometry(), p.rect) << p.name;
}

TEST_F(WindowTest, LoadLeavesNothingToStartAndAnEmptySilverStepDisplay) {
    open();
    EXPECT_FALSE(button("cmdStart")->isEnabled());
    EXPECT_FALSE(button("cmdCancel")->isEnabled());
    EXPECT_FALSE(button("cmdDownload")->isEnabled());
    EXPECT_TRUE(button("cmdExit")->isEnabled());
    EXPECT_BACK(button("cmdStart"), 0x00C0C0C0);
    EXPECT_BACK(button("cmdCancel"), 0x00C0C0C0);
    EXPECT_BACK(button("cmdExit"), 0x0080FFFF);
    for (int i = 0; i <= 5; ++i) {
        EXPECT_EQ(step(i)->text(), QString()) << i;
        EXPECT_BACK(step(i), 0x00C0C0C0);
        EXPECT_EQ(ForeColour(step(i)), 0x00000000u);
    }
    EXPECT_FALSE(bar("prgDownload")->isVisible());
    EXPECT_EQ(bar("prgDownload")->maximum(), 1000);
    EXPECT_EQ(bar("prgCPU_0")->value(), 0);
    EXPECT_EQ(bar("prgCPU_1")->value(), 1000);
    EXPECT_TRUE(bar("prgCPU_0")->isVisible());
    EXPECT_TRUE(bar("prgCPU_1")->isVisible());
    EXPECT_FALSE(label("lblCheckSum")->isVisible());
    EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
    EXPECT_FALSE(window->refreshTimer().isActive());
    EXPECT_EQ(window->refreshTimer().interval(), 200);
    EXPECT_EQ(gDownloadState, 0);
}

TEST_F(WindowTest, FramesPaintTheirDesignColours) {
    open();
    const std::pair<const char *, uint32_t> colours[] = {
        {"fraTop", 0x00808000},  {"fraDownload", 0x00808000}, {"fraControl", 0x00C0C0C0},
        {"fraInfo", 0x00808000}, {"fraSetup", 0x00FF8080},    {"fraMessage", 0x000080FF},
    };
    for (const auto &[name, bgr] : colours) {
        QGroupBox *frame = child<QGroupBox>(name);
        const QColor c =
            frame->grab().toImage().pixelColor(frame->width() - 4, frame->height() - 4);
        EXPECT_EQ(uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16, bgr)
            << name;
    }
}

TEST_F(WindowTest, PortLabelNamesThePort) {
    for (const char *port : {"1", "3", "12"}) {
        gPort = QString::fromLatin1(port);
        open();
        EXPECT_EQ(label("lblPortNo")->text(), QStringLiteral("Port COM") + gPort);
    }
}

TEST_F(WindowTest, SimulationModeBindsNoPortAndOnlyMode1ShowsTheLabel) {
    struct Case {
        int16_t prototype;
        bool labelShown;
        bool portBound;
    };
    for (const Case c : {Case{0, false, true}, Case{1, true, false}, Case{2, false, false}}) {
        SCOPED_TRACE(c.prototype);
        gPrototype = c.prototype;
        gComm = nullptr;
        portsMade = 0;
        open();
        EXPECT_EQ(label("lblSim_Mode")->isVisible(), c.labelShown);
        EXPECT_EQ(label("lblSim_Mode")->text(), QStringLiteral("Sim Mode"));
        EXPECT_EQ(gComm != nullptr, c.portBound);
        EXPECT_EQ(portsMade, c.portBound ? 1 : 0);
    }
    window.reset();
    EXPECT_EQ(gComm, nullptr); // the window's port goes with the window
}

TEST_F(WindowTest, ConnectionFrameShowsUnlessTheDescriptionSaysNot) {
    for (const char *setupInfo : {"", "1", "0"}) {
        gSetupInfo = QString::fromLatin1(setupInfo);
        open();
        const bool shown = gSetupInfo != QStringLiteral("0");
        EXPECT_EQ(child<QGroupBox>("fraSetup")->isVisible(), shown) << setupInfo;
        EXPECT_EQ(tree()->isEnabled(), !shown) << setupInfo;
    }
}

TEST_F(WindowTest, SetupOkHidesTheConnectionFrameAndEnablesTheTree) {
    open();
    QTest::mouseClick(button("cmdSetupOK"), Qt::LeftButton);
    EXPECT_FALSE(child<QGroupBox>("fraSetup")->isVisible());
    EXPECT_TRUE(tree()->isEnabled());
}

TEST_F(WindowTest, TreeShowsTheHostsBoardExpandedWithKeys) {
    open();
    ASSERT_EQ(tree()->topLevelItemCount(), 1);
    QTreeWidgetItem *model = tree()->topLevelItem(0);
    EXPECT_EQ(model->text(0), QStringLiteral("M100"));
    EXPECT_EQ(model->data(0, Qt::UserRole).toString(), QStringLiteral("M100"));
    ASSERT_EQ(model->childCount(), 1);
    QTreeWidgetItem *board = model->child(0);
    EXPECT_EQ(board->data(0, Qt::UserRole).toString(), QStringLiteral("M100=MAIN"));
    ASSERT_EQ(board->childCount(), 3);
    EXPECT_EQ(board->child(1)->text(0), QStringLiteral("JPJAv0210"));
    EXPECT_EQ(board->child(1)->data(0, Qt::UserRole).toString(),
              QStringLiteral("M100=MAIN\\JPJAv0210"));
    EXPECT_TRUE(model->isExpanded());
    EXPECT_TRUE(board->isExpanded());
    EXPECT_TRUE(errorWindows.isEmpty());
}

TEST_F(WindowTest, MissingCatalogueOpensTheErrorWindowAndTheMainWindowStill) {
    QFile::remove(app.filePath("torvane.conf"));
    open();
    EXPECT_EQ(errorWindows, QList<int16_t>{160});
    EXPECT_EQ(gErrFileName, app.filePath("torvane.conf"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(button("cmdExit")->isEnabled());
}

TEST_F(WindowTest, CancelThenContinueLeavesTheRunGoing) {
    open();
    button("cmdCancel")->setEnabled(true);
    QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
    EXPECT_TRUE(child<QGroupBox>("fraMessage")->isVisible());
    EXPECT_FALSE(button("cmdCancel")->isEnabled());
    EXPECT_TRUE(button("cmdFwd")->isEnabled());
    EXPECT_TRUE(button("cmdBack")->isEnabled());
    QTest::mouseClick(button("cmdBack"), Qt::LeftButton);
    EXPECT_FALSE(child<QGroupBox>("fraMessage")->isVisible());
    EXPECT_FALSE(gStopRequested);
    EXPECT_TRUE(button("cmdCancel")->isEnabled());
    EXPECT_FALSE(button("cmdFwd")->isEnabled());
    EXPECT_FALSE(button("cmdBack")->isEnabled());
}

TEST_F(WindowTest, CancelThenStopRaisesTheStopRequest) {
    open();
    button("cmdCancel")->setEnabled(true);
    QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
    QTest::mouseClick(button("cmdFwd"), Qt::LeftButton);
    EXPECT_TRUE(gStopRequested);
    EXPECT_FALSE(button("cmdFwd")->isEnabled());
    EXPECT_FALSE(button("cmdBack")->isEnabled());
    EXPECT_TRUE(child<QGroupBox>("fraMessage")->isVisible());
}

TEST_F(WindowTest, ExitHandsSubEndBackToTheHost) {
    app.write("torvane.cha", "M100 MAIN\r\n");
    open();
    QTest::mouseClick(button("cmdExit"), Qt::LeftButton);
    EXPECT_TRUE(app.read("torvane.cha").startsWith("SUB END"));
    EXPECT_EQ(app.read("torvane.cha.bak"), QByteArray("M100 MAIN\r\n"));
    EXPECT_EQ(host.closeAllCount, 1);
    EXPECT_EQ(host.endCount, 1);
    EXPECT_FALSE(button("cmdExit")->isEnabled());
    EXPECT_FALSE(button("cmdSetupOK")->isEnabled());
}

TEST_F(WindowTest, ClosingAnIdleWindowLeavesTheHostFileAlone) {
    app.write("torvane.cha", "M100 MAIN\r\n");
    open();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(app.read("torvane.cha"), QByteArray("M100 MAIN\r\n"));
    EXPECT_FALSE(app.exists("torvane.cha.bak"));
    EXPECT_EQ(host.closeAllCount, 0);
}

TEST_F(WindowTest, JapaneseCaptionsHaveAFontAndFitTheirButtons) {
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
    gLangBase = 0;
    open();
    for (const char *name :
         {"cmdDownload", "cmdStart", "cmdCancel", "cmdExit", "cmdFwd", "cmdBack"}) {
        QPushButton *b = button(name);
        EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 8) << name;
    }
}

} // namespace

namespace {

TEST_F(WindowTest, RealErrorWindowOpensBesideTheMainWindowForAMissingCatalogue) {
    QFile::remove(app.filePath("torvane.conf"));
    auto l = links();
    l.showErrorWindow = frmQARN_UI::DefaultLinks().showErrorWindow;
    window = std::make_unique<frmQARN_UI>(l);
    QWidget *errorWindow = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->inherits("frmError") && w->isVisible())
            errorWindow = w;
    }
    ASSERT_NE(errorWindow, nullptr);
    EXPECT_EQ(u8(errorWindow->windowTitle()), "Velmora QARN (Ver.3.31E) Error");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(errorWindow->isModal());
    errorWindow->close();
}

} // namespace
