// What Windows alone promises of the tool's files: a device is never opened, a folder or a file
// another program holds without sharing is refused with its run-time code, the bytes come in as
// they are, text that is not UTF-8 reads in the system's ANSI code page, and the host's
// torvane.cha held open without sharing its renaming stays as it was.

#include "recording_host.h"
#include "run_errors.h"
#include "temp_app_dir.h"
#include "text_file.h"
#include "text_helpers.h"
#include "win_files.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

// A handle on the file as another program holds it, sharing only `share` with others.
HANDLE hold(const QString &path, DWORD share) {
    return ::CreateFileW(NativePath(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsFiles, DevicesAreToldByName) {
    for (const char *device : {"NUL", "C:\\app\\com1", "C:/app/COM3.ift", "lpt1:", "aux .txt",
                               "CONOUT$", "C:NUL", "\\\\.\\COM3", "\\\\?\\GLOBALROOT\\x"})
        EXPECT_TRUE(IsDevicePath(device)) << device;
    for (const char *file : {"C:\\app\\COM10", "COMMON.ift", "C:\\con\\a.ift", "\\\\?\\C:\\a.ift",
                             "\\\\.\\C:\\a.ift", "\\\\server\\share\\nul.d\\a.ift"})
        EXPECT_FALSE(IsDevicePath(file)) << file;
}

TEST(WindowsFiles, OnlyARegularFileIsReadAndFailuresReadAsRunTimeCodes) {
    TempAppDir app;
    app.write("a.ift", "A\r\nB\x1A\r\n");
    app.write("dir.ift/inside", "x");
    QByteArray bytes;
    EXPECT_EQ(ReadTextFile(app.filePath("a.ift"), bytes), 0);
    EXPECT_EQ(bytes, "A\r\nB\x1A\r\n"); // no line end or end-of-file mark is translated
    const std::pair<const char *, int> cases[] = {{"dir.ift", RunError::PathFileAccess},
                                                  {"COM1", RunError::PathFileAccess},
                                                  {"nul.ift", RunError::PathFileAccess},
                                                  {"none.ift", RunError::FileNotFound},
                                                  {"none/a.ift", RunError::PathNotFound}};
    for (const auto &[name, code] : cases)
        EXPECT_EQ(ReadTextFile(app.filePath(name), bytes), code) << name;
    const HANDLE held = hold(app.filePath("a.ift"), 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadTextFile(app.filePath("a.ift"), bytes), RunError::PermissionDenied);
    ::CloseHandle(held);
    EXPECT_EQ(ResolvePathNoCase("C:/App/Fw/"), "C:\\App\\Fw\\");
}

TEST(WindowsFiles, TextThatIsNotUtf8ReadsInTheSystemsCodePage) {
    switch (::GetACP()) {
    case 932:
        EXPECT_EQ(DecodeText("\x93\xFA\x96\x7B"), QString::fromUtf8("日本"));
        EXPECT_EQ(AnsiCode(QString::fromUtf8("日").at(0)), int16_t(0x93FA));
        EXPECT_EQ(AnsiCode(QChar(0x00E9)), int16_t('?'));
        break;
    case 1252:
        EXPECT_EQ(DecodeText("caf\xE9"), QString::fromUtf8("café"));
        EXPECT_EQ(AnsiCode(QChar(0x00E9)), int16_t(0xE9));
        EXPECT_EQ(AnsiCode(QString::fromUtf8("日").at(0)), int16_t('?'));
        break;
    default:
        GTEST_SKIP() << "code page " << ::GetACP() << " has no cases here";
    }
}

// The host keeps torvane.cha open for reading, sharing no renaming: it is backed up but cannot
// be replaced, and is left as it was.
TEST(WindowsFiles, AHandOffFileTheHostHoldsIsLeftAsItIs) {
    TempAppDir app;
    app.write("torvane.cha", "MAIN SET\r\n");
    const HANDLE held = hold(app.filePath("torvane.cha"), FILE_SHARE_READ);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RecordingHostReturn ui;
    ReturnToHost("Normal", ui);
    ::CloseHandle(held);
    EXPECT_EQ(gErrNo, 118);
    EXPECT_EQ(gRunErrNo, RunError::PermissionDenied);
    EXPECT_EQ(gErrFileName, app.filePath("torvane.cha"));
    EXPECT_EQ(app.read("torvane.cha"), "MAIN SET\r\n");
    EXPECT_FALSE(app.exists("torvane.cha.buk"));
    EXPECT_EQ(ui.events.size(), 3);
}

} // namespace
