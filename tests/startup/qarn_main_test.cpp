#include "qarn_main.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

namespace {

class RecordingWindows : public StartupWindows {
public:
    void showMainWindow() override { opened << "main"; }
    void showErrorWindow() override { opened << "error"; }
    QStringList opened;
};

// The first failing read stops start-up; the readers after it are not run.
TEST(Main, ReadsTheFilesInOrderAndOpensOneWindow) {
    // clang-format off
    struct Case { const char *file; QByteArray text; int16_t errNo; int32_t langBase; int read; };
    const Case cases[] = {
        {"", "", 0, 0, 3},
        {"QARN.ini", "(none)", 130, 0, 0}, {"torvane.ini", "(none)", 100, 100, 0},
        {"torvane.ini", "lang\r\n", 109, 0, 0}, {"torvane.cha", "(none)", 110, 0, 1},
        {"torvane.cha", "MAIN SET\r\nFdir /store\r\n", 111, 0, 2}, {"FirmDesc.txt", "(none)", 140, 0, 2},
        {"FirmDesc.txt", "TGBNDESC early\r\n", 149, 0, 2}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.errNo);
        TempAppDir dir;
        dir.write("QARN.ini", c.langBase ? "LANGUAGE 1\r\n" : "LANGUAGE 0\r\n");
        dir.write("torvane.ini", "lang JP\r\nlang Japanese\r\n");
        dir.write("torvane.cha",
                  "MAIN SET\r\nFdir /store\r\nSelectedModel QX10\r\nSelectedPCB M\r\n");
        dir.write("FirmDesc.txt", "TGBN MAIN\r\nTGBNDESC Main board\r\n");
        if (*c.file)
            dir.write(c.file, c.text);
        if (c.text == "(none)")
            QFile::remove(dir.filePath(c.file));
        gLangBase = 100;
        gStopRequested = true;
        RecordingWindows windows;
        Main(windows);
        EXPECT_EQ(windows.opened, QStringList(c.errNo ? "error" : "main"));
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gErrFileName, *c.file ? dir.filePath(c.file) : "");
        EXPECT_EQ(gLangBase, c.langBase);
        EXPECT_EQ(QString("%1%2%3").arg(gLangList.size()).arg(gFdir).arg(gTgbnList.size()),
                  QStringList({"00", "20", "2/store0", "2/store2"})[c.read]);
        EXPECT_EQ(QString("%1 %2").arg(gCmdConsole).arg(gStopRequested), "0 0");
        EXPECT_EQ(QList<uint32_t>({gColorCyan, gColorYellow, gColorGrey, gColorGreen}),
                  QList<uint32_t>({0x00FFFF80, 0x0080FFFF, 0x00C0C0C0, 0x00C0FFC0}));
    }
}

} // namespace
