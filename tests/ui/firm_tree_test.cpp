#include "firm_tree.h"
#include "window_fixture.h"

#include <QDir>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

class FirmTreeTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        gTgbnList = {QString(), QStringLiteral("SUB"), QStringLiteral("MAIN")};
        gTgbnDescList = {QString(), QStringLiteral("Sub board"), QStringLiteral("Main board")};
    }
    QString info() const { return label("lblFirmInfo")->text(); }
    // The version folder the last successful read took its kernel from.
    static QString readFolder() { return QFileInfo(gIrdFile).dir().dirName(); }
};

TEST_F(FirmTreeTest, VersionClickShowsBoardCountryLanguageAndVersion) {
    writeFirmware("JPJAv0210", 5);
    open();
    clickNode("M100=MAIN\\JPJAv0210");
    EXPECT_EQ(u8(info()), u8("Main board" + kCrLf + "  Country/Region: Japan" + kCrLf +
                             "  Language: Japanese" + kCrLf + "  Version: 02.10"));
    EXPECT_TRUE(button("cmdStart")->isEnabled());
    EXPECT_BACK(button("cmdStart"), 0x00C0FFC0);
    EXPECT_EQ(window->focusWidget(), button("cmdStart"));
    EXPECT_TRUE(errorWindows.isEmpty());
    EXPECT_EQ(u8(readFolder()), u8(QStringLiteral("JPJAv0210")));
}

TEST_F(FirmTreeTest, JapaneseInformationUsesTheJapaneseLabels) {
    writeIni(0, 1);
    gLangBase = 0;
    writeFirmware("USENv0100", 5);
    open();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_EQ(u8(info()),
              u8(QStringLiteral("Main board\r\n\u3000国/地域:United States\r\n\u3000言語:English"
                                "\r\n\u3000バージョン:01.00")));
}

TEST_F(FirmTreeTest, UnlistedCodesAndBoardsShowThemselves) {
    app.write("torvane.conf", "machine=M100\r\nboard=MAIN\r\nversion=XXYYv0304\r\n");
    gTgbnList = {QString(), QStringLiteral("OTHER")};
    gTgbnDescList = {QString(), QStringLiteral("Other board")};
    writeFirmware("XXYYv0304", 5);
    open();
    clickNode("M100=MAIN\\XXYYv0304");
    EXPECT_EQ(u8(info()), u8("MAIN" + kCrLf + "  Country/Region: XX" + kCrLf + "  Language: YY" +
                             kCrLf + "  Version: 03.04"));
}

TEST_F(FirmTreeTest, BoardClickPicksTheNewestWellFormedVersion) {
    struct Case {
        const char *name;
        QStringList versions;
        const char *picked;
    };
    const Case cases[] = {
        {"highest number", {"USENv0100", "JPJAv0210", "USJAv0000"}, "JPJAv0210"},
        {"equal numbers keep the earlier", {"USENv0210", "JPJAv0210"}, "USENv0210"},
        {"number, not text order", {"USENv1000", "USENv0999"}, "USENv1000"},
        {"malformed numbers rank below any version",
         {"USENv9x99", "USENv0001", "USENv1.2"},
         "USENv0001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray catalogue = "machine=M100\r\nboard=MAIN\r\n";
        for (const QString &v : c.versions) {
            catalogue += "version=" + v.toLatin1() + "\r\n";
            writeFirmware(v, 5);
        }
        app.write("torvane.conf", catalogue);
        open();
        clickNode("M100=MAIN");
        EXPECT_EQ(u8(readFolder()), u8(QString::fromLatin1(c.picked)));
        EXPECT_TRUE(info().startsWith("Main board" + kCrLf + "  Country/Region: "));
        EXPECT_TRUE(info().endsWith("  Version: " + QString::fromLatin1(c.picked).mid(5, 2) + "." +
                                    QString::fromLatin1(c.picked).mid(7, 2)));
        EXPECT_TRUE(button("cmdStart")->isEnabled());
    }
}

TEST_F(FirmTreeTest, BoardWithoutAUsableVersionOnlyShowsItsDescription) {
    for (const QByteArray &versions :
         {QByteArray(), QByteArray("version=USENv0000\r\n"), QByteArray("version=USENv0a00\r\n")}) {
        app.write("torvane.conf", "machine=M100\r\nboard=MAIN\r\n" + versions);
        writeFirmware("USENv0000", 5);
        open();
        clickNode("M100=MAIN");
        EXPECT_EQ(u8(info()), u8(QStringLiteral("Main board")));
        EXPECT_FALSE(button("cmdStart")->isEnabled());
        EXPECT_TRUE(gIrdFile.isEmpty());
        EXPECT_TRUE(errorWindows.isEmpty());
    }
}

TEST_F(FirmTreeTest, Version0000IsChosenByItsOwnNode) {
    writeFirmware("USJAv0000", 5);
    open();
    clickNode("M100=MAIN\\USJAv0000");
    EXPECT_EQ(u8(readFolder()), u8(QStringLiteral("USJAv0000")));
    EXPECT_TRUE(button("cmdStart")->isEnabled());
}

TEST_F(FirmTreeTest, ModelClickClearsTheInformationAndTurnsStartOff) {
    writeFirmware("USENv0100", 5);
    open();
    clickNode("M100=MAIN\\USENv0100");
    ASSERT_TRUE(button("cmdStart")->isEnabled());
    clickNode("M100");
    EXPECT_EQ(u8(info()), u8(QString()));
    EXPECT_FALSE(button("cmdStart")->isEnabled());
    EXPECT_BACK(button("cmdStart"), 0x00C0C0C0);
}

TEST_F(FirmTreeTest, StepDisplayShowsTheVariantsStepNames) {
    struct Case {
        int cput;
        int16_t seqType;
        const char *step2;
        const char *step3;
    };
    const Case cases[] = {{0, 0, "Erase", "Setup 2"},
                          {1, 1, "Erase", "Setup 2"},
                          {5, 2, "Setup 2", "Erase"},
                          {6, 3, "Setup 2", "Erase"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cput);
        writeFirmware("USENv0100", c.cput);
        open();
        clickNode("M100=MAIN\\USENv0100");
        EXPECT_EQ(gSeqType, c.seqType);
        const QStringList expected = {"Initial", "Setup 1", c.step2, c.step3, "Write", "Complete"};
        for (int i = 0; i <= 5; ++i)
            EXPECT_EQ(step(i)->text(), expected[i]) << i;
        EXPECT_BACK(step(0), 0x00FFFFFF);
        for (int i = 1; i <= 5; ++i)
            EXPECT_BACK(step(i), 0x00C0C0C0);
    }
}

TEST_F(FirmTreeTest, FirstDescriptionByNameIsReadIgnoringLetterCase) {
    const QString folder = storeFolder("MAIN", "USENv0100");
    writeFirmware("USENv0100", 5, "b.ift", "DF B.BIN\r\n");
    writeFirmware("USENv0100", 5, "A.IFT", "DF A.BIN\r\n");
    writeFirmware("USENv0100", 5, "c.Ift", "DF C.BIN\r\n");
    for (const char *name : {"A.BIN", "B.BIN", "C.BIN"})
        app.write(folder + name, "k");
    QDir().mkpath(app.filePath(folder + "0.ift"));           // a folder, not a file
    app.write(folder + ".0.ift", "CPUT 5\r\nDF HIDDEN\r\n"); // a hidden file
    open();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_EQ(QFileInfo(gIrdFile).fileName(), QStringLiteral("A.BIN"));
}

TEST_F(FirmTreeTest, StoreFoldersAreFoundWhateverTheirLetterCase) {
    writeFirmware("USENv0100", 5, "Firm.Ift");
    QDir store(app.filePath("torvane"));
    ASSERT_TRUE(store.rename("FieldKit", "FIELDKIT"));
    ASSERT_TRUE(QDir(store.filePath("FIELDKIT")).rename("M100", "m100"));
    ASSERT_TRUE(QDir(store.filePath("FIELDKIT/m100")).rename("MAIN", "Main"));
    ASSERT_TRUE(QDir(store.filePath("FIELDKIT/m100/Main")).rename("USENv0100", "usenV0100"));
    // The host names its folder with the other separator and another letter case.
    gFdir = app.path() + QStringLiteral("\\torvane\\fieldKIT\\host\\data");
    open();
    clickNode("M100=MAIN\\USENv0100");
    EXPECT_TRUE(errorWindows.isEmpty()) << gErrNo;
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(button("cmdStart")->isEnabled());
    EXPECT_EQ(u8(readFolder()), "usenV0100");
}

TEST_F(FirmTreeTest, NoDescriptionOpensErrorWindow120AndKeepsStart) {
    writeFirmware("USENv0100", 5);
    app.write(storeFolder("MAIN", "JPJAv0210") + "readme.txt", "no description here");
    open();
    clickNode("M100=MAIN\\USENv0100");
    ASSERT_TRUE(button("cmdStart")->isEnabled());

    struct Case {
        const char *name;
        QString fdir;
        const char *key;
    };
    const Case cases[] = {
        {"folder without *.ift", gFdir, "M100=MAIN\\JPJAv0210"},
        {"folder missing", gFdir, "M100=MAIN\\USJAv0000"},
        {"tool folder without fieldkit", app.path() + "/torvane/kit/", "M100=MAIN\\USENv0100"},
        {"fieldkit not followed by a separator", app.path() + "/torvane/FieldKit2/",
         "M100=MAIN\\USENv0100"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        errorWindows.clear();
        gFdir = c.fdir;
        gRunErrNo = 7;
        clickNode(c.key);
        EXPECT_EQ(errorWindows, QList<int16_t>{120});
        EXPECT_EQ(gRunErrNo, 0);
        EXPECT_FALSE(gErrFileName.isEmpty());
        EXPECT_TRUE(button("cmdStart")->isEnabled());
        EXPECT_BACK(button("cmdStart"), 0x00C0FFC0);
    }
}

TEST_F(FirmTreeTest, FailingDescriptionShowsItsErrorInAMessageBoxAndTurnsStartOff) {
    writeFirmware("USENv0100", 5);
    writeFirmware("JPJAv0210", 5);
    const QString folder = storeFolder("MAIN", "JPJAv0210");
    QFile::remove(app.filePath(folder + "KERNEL.BIN"));
    open();
    clickNode("M100=MAIN\\USENv0100");
    ASSERT_TRUE(button("cmdStart")->isEnabled());

    clickNode("M100=MAIN\\JPJAv0210");
    ASSERT_EQ(boxes.size(), 1);
    const SeenBox *seen = &boxes[0];
    EXPECT_EQ(seen->title, QStringLiteral("Velmora QARN (Ver.3.31E)"));
    EXPECT_EQ(u8(seen->text),
              u8("Could not find the necessary file." + kCrLf + "  File name: " + gErrFileName));
    EXPECT_TRUE(gErrFileName.endsWith("FIRM.IFT"));
    EXPECT_EQ(seen->icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_FALSE(button("cmdStart")->isEnabled());
    EXPECT_BACK(button("cmdStart"), 0x00C0C0C0);
    EXPECT_TRUE(errorWindows.isEmpty());
}

TEST(FirmTreeHelpers, ToolPrefixEndsAfterTheFirstFieldkitFolder) {
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\torvane\\fieldkit\\data", "C:\\torvane\\fieldkit\\"},
        {"C:\\torvane\\FieldKit\\a\\fieldkit\\", "C:\\torvane\\FieldKit\\"},
        {"/srv/FIELDKIT/x", "/srv/FIELDKIT/"},
        {"/srv/fieldkits/fieldkit/", "/srv/fieldkits/fieldkit/"},
        {"/srv/fieldkit", ""},
        {"/srv/field kit/", ""},
        {"", ""},
    };
    for (const auto &[fdir, prefix] : cases)
        EXPECT_EQ(u8(ToolPrefix(QString::fromLatin1(fdir))), prefix) << fdir;
}

TEST(FirmTreeHelpers, VersionNumberReadsPositionsSixToNine) {
    const std::pair<const char *, int> cases[] = {
        {"USENv0102", 102}, {"USENv9999", 9999}, {"0000v0000", 0}, {"USENv01.2", 0},
        {"USENv+102", 0},   {"USENv010", 0},     {"", 0},          {"USENv0102XYZ", 102},
    };
    for (const auto &[text, number] : cases)
        EXPECT_EQ(VersionNumber(QString::fromLatin1(text)), number) << text;
}

TEST(FirmTreeHelpers, FirstDescriptionFileIsEmptyForMissingOrEmptyFolders) {
    TempAppDir app;
    EXPECT_EQ(FirstDescriptionFile(app.filePath("absent")), QString());
    EXPECT_EQ(FirstDescriptionFile(QString()), QString());
    app.write("f/readme.txt", "x");
    EXPECT_EQ(FirstDescriptionFile(app.filePath("f")), QString());
    app.write("f/Z.IFT", "x");
    app.write("f/y.ift", "x");
    EXPECT_EQ(QFileInfo(FirstDescriptionFile(app.filePath("f"))).fileName(), "y.ift");
}

} // namespace
