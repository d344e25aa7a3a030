#include "qarn_main.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

namespace {

class RecordingWindows : public StartupWindows {
public:
    void showMainWindow() override { opened << "main"; }
    void showErrorWindow() override { opened << "error"; }
    QStringList opened;
};

const QByteArray kQarnIni = "LANGUAGE 0\r\nPORT 1\r\nPROTOTYPE 1\r\n";
const QByteArray kHostIni = "lang JP\r\nlang Japanese\r\ncntry JP\r\ncntry Japan\r\n";
const QByteArray kHostCha = "MAIN SET\r\nFdir /store\r\nSelectedModel QX10\r\nSelectedPCB MAIN\r\n";
const QByteArray kFirmDesc = "TGBN MAIN\r\nTGBNDESC Main board\r\n";

void writeAll(const TempAppDir &dir) {
    dir.write("QARN.ini", kQarnIni);
    dir.write("torvane.ini", kHostIni);
    dir.write("torvane.cha", kHostCha);
    dir.write("FirmDesc.txt", kFirmDesc);
}

TEST(Main, AllFilesReadOpensOnlyTheMainWindow) {
    TempAppDir dir;
    writeAll(dir);
    gStopRequested = true;
    RecordingWindows windows;
    Main(windows);
    EXPECT_EQ(windows.opened, QStringList({"main"}));
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gCmdConsole, QStringLiteral("0"));
    EXPECT_FALSE(gStopRequested);
    EXPECT_EQ(gColorCyan, 0x00FFFF80u);
    EXPECT_EQ(gColorYellow, 0x0080FFFFu);
    EXPECT_EQ(gColorGrey, 0x00C0C0C0u);
    EXPECT_EQ(gColorGreen, 0x00C0FFC0u);
    EXPECT_EQ(gLangList, QStringList({"JP", "Japanese"}));
    EXPECT_EQ(gFdir, QStringLiteral("/store"));
    EXPECT_EQ(gTgbnList, QStringList({"", "MAIN"}));
}

TEST(Main, MissingSettingsFileOpensOnlyTheErrorWindowInJapaneseAndReadsNoHostFile) {
    TempAppDir dir;
    writeAll(dir);
    QFile::remove(dir.filePath("QARN.ini"));
    gLangBase = 100;
    RecordingWindows windows;
    Main(windows);
    EXPECT_EQ(windows.opened, QStringList({"error"}));
    EXPECT_EQ(gErrNo, 130);
    EXPECT_EQ(gLangBase, 0);
    EXPECT_EQ(gErrFileName, dir.filePath("QARN.ini"));
    EXPECT_TRUE(gLangList.isEmpty());
    EXPECT_TRUE(gFdir.isEmpty());
    EXPECT_TRUE(gTgbnList.isEmpty());
    EXPECT_EQ(gColorYellow, 0x0080FFFFu); // colours are set before any read
}

struct StopCase {
    const char *removed;
    QByteArray replacement; // written instead when not empty
    int16_t errNo;
    bool hostIniRead;
    bool hostChaRead;
};

TEST(Main, FirstFailingHostFileStopsTheSequence) {
    const StopCase cases[] = {
        {"torvane.ini", {}, 100, false, false},
        {"torvane.ini", "lang\r\n", 109, false, false},
        {"torvane.cha", {}, 110, true, false},
        {"torvane.cha", "MAIN SET\r\nFdir /store\r\n", 111, true, true},
        {"FirmDesc.txt", {}, 140, true, true},
        {"FirmDesc.txt", "TGBNDESC early\r\n", 149, true, true},
    };
    for (const StopCase &c : cases) {
        SCOPED_TRACE(std::string(c.removed) + " " + std::to_string(c.errNo));
        TempAppDir dir;
        writeAll(dir);
        QFile::remove(dir.filePath(c.removed));
        if (!c.replacement.isEmpty())
            dir.write(c.removed, c.replacement);
        RecordingWindows windows;
        Main(windows);
        EXPECT_EQ(windows.opened, QStringList({"error"}));
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gErrFileName, dir.filePath(c.removed));
        EXPECT_EQ(gLangList.isEmpty(), !c.hostIniRead);
        EXPECT_EQ(gFdir.isEmpty(), !c.hostChaRead);
        EXPECT_TRUE(gTgbnList.isEmpty()); // FirmDesc.txt is last: read only when all went well
    }
}

TEST(Main, EnglishSettingsGiveEnglishLanguageBaseForLaterFailures) {
    TempAppDir dir;
    writeAll(dir);
    dir.write("QARN.ini", "LANGUAGE 1\r\n");
    QFile::remove(dir.filePath("torvane.ini"));
    RecordingWindows windows;
    Main(windows);
    EXPECT_EQ(windows.opened, QStringList({"error"}));
    EXPECT_EQ(gErrNo, 100);
    EXPECT_EQ(gLangBase, 100);
}

} // namespace
