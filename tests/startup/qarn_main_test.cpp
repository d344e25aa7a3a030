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

// The first failing read stops start-up, the readers after it are not run, and one window opens.
TEST(Main, ReadsTheFilesInOrderAndOpensOneWindow) {
    // clang-format off
    // The file replaced (or removed), then: the window, gErrNo, gLangBase, and what was read from
    // torvane.ini (entries), torvane.cha (Fdir) and FirmDesc.txt (list size).
    const std::tuple<const char *, QByteArray, const char *> cases[] = {
        {"QARN.ini", "LANGUAGE 0\r\n", "main 0 0 | 2 /s 2"},    {"QARN.ini", {}, "error 130 0 | 0  0"},
        {"torvane.ini", {}, "error 100 100 | 0  0"},            {"torvane.ini", "lang\r\n", "error 109 100 | 0  0"},
        {"torvane.cha", {}, "error 110 100 | 2  0"},            {"torvane.cha", "MAIN SET\r\nFdir /s\r\n", "error 111 100 | 2 /s 0"},
        {"FirmDesc.txt", {}, "error 140 100 | 2 /s 0"},         {"FirmDesc.txt", "TGBNDESC early\r\n", "error 149 100 | 2 /s 0"}};
    // clang-format on
    for (const auto &[file, text, expected] : cases) {
        TempAppDir dir;
        dir.write("QARN.ini", "LANGUAGE 1\r\n");
        dir.write("torvane.ini", "lang JP\r\nlang Japanese\r\n");
        dir.write("torvane.cha", "MAIN SET\r\nFdir /s\r\nSelectedModel QX10\r\nSelectedPCB M\r\n");
        dir.write("FirmDesc.txt", "TGBN MAIN\r\nTGBNDESC Main board\r\n");
        QFile::remove(dir.filePath(file));
        if (!text.isEmpty())
            dir.write(file, text);
        std::tie(gLangBase, gStopRequested) = std::tuple(100, true);
        RecordingWindows windows;
        Main(windows);
        EXPECT_EQ(QString::asprintf("%s %d %d | %lld %s %lld", qPrintable(windows.opened.join(',')),
                                    gErrNo, gLangBase, gLangList.size(), qPrintable(gFdir),
                                    gTgbnList.size()),
                  expected);
        EXPECT_EQ(gCmdConsole + (gStopRequested ? " stop" : ""), "0");
        EXPECT_EQ(QList<uint32_t>({gColorCyan, gColorYellow, gColorGrey, gColorGreen}),
                  QList<uint32_t>({0x00FFFF80, 0x0080FFFF, 0x00C0C0C0, 0x00C0FFC0}));
        EXPECT_EQ(gErrFileName, gErrNo ? dir.filePath(file) : "");
    }
}

} // namespace
