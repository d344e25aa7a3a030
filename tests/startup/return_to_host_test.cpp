#include "platform_files.h"
#include "recording_host.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>


namespace {

const QByteArray kHostHandOff = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX10\r\n";

// The result goes in, the host's file becomes the backup, then the host starts (once the new file
// is in place) or its absence is reported, or the windows stay when it is there but cannot start.
TEST(ReturnToHost, WritesTheResultKeepsTheHostFileAndStartsOrReportsTheHost) {
    const QByteArray path = qgetenv("PATH");
    const QString ran = "start %1 goToMain in %2: ";
    // clang-format off
    struct Case { const char *result; bool handOff; int32_t base; const char *host; QFile::Permissions mode; bool starts; QByteArray line; QStringList events; int16_t runState = 0; };
    const Case cases[] = {
        {"Normal", true, 100, "torvane.exe", QFile::ExeOwner, true, QByteArray::fromHex("53554220454e440d0a"), {ran + "SUB END\r\n", "close", "end"}},
        {"NormalNG", false, 100, "torvane.exe", QFile::ExeOwner, true, QByteArray::fromHex("535542204552524f520d0a"), {ran + "SUB ERROR\r\n", "close", "end"}, 9}, // after a failed run
        // While a run is under way or waits for its end to be confirmed, nothing is written or started.
        {"NormalNG", true, 100, "torvane.exe", {}, true, kHostHandOff, {}, 1}, {"Normal", true, 100, "torvane.exe", {}, true, kHostHandOff, {}, 8},
        {"normal", true, 100, "bin/torvane.exe", QFile::ExeOwner, true, "", {ran, "close", "end"}}, // found on the search path
        {"Normal", true, 100, "torvane.exe", QFile::ExeOwner, false, "SUB END\r\n", {ran + "SUB END\r\n"}},
        {"Normal", true, 0, "", {}, true, "SUB END\r\n", {"message: torvane.exeが組み込まれていないため、処理を続行できません。", "close", "end"}},
        {"Normal", true, 100, "", {}, true, "SUB END\r\n", {"message: Can not continue (Torvane.exe does not exist)", "close", "end"}}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result + std::to_string(c.starts) + c.host + std::to_string(c.base));
        TempAppDir app;
        qputenv("PATH", app.filePath("bin").toLocal8Bit());
        if (*c.host) {
            app.write(c.host, "#!/bin/sh\n");
            QFile::setPermissions(app.filePath(c.host), c.mode | QFile::ReadOwner);
        }
        // The host's file keeps its marks (on Linux its permission bits and group) through the
        // write-back.
        const QString cha = app.filePath("torvane.cha");
        if (c.handOff) {
            app.write("torvane.cha", kHostHandOff);
            ASSERT_TRUE(MarkAsTheHosts(cha));
        }
        app.write("torvane.cha.bak", "an older backup");
        app.write("torvane.cha.buk", "left over from a crash");
        QDir::setCurrent(QDir::rootPath());
        gLangBase = c.base;
        RecordingHostReturn ui;
        ui.starts = c.starts;
        gDownloadState = c.runState;
        ReturnToHost(c.result, ui);
        qputenv("PATH", path);
        EXPECT_TRUE(!c.handOff || HasTheHostsMarks(cha));
        EXPECT_EQ(app.read("torvane.cha"), c.line);
        QStringList want = c.events;
        if (!want.isEmpty() && want[0].startsWith("start"))
            want[0] = want[0].arg(app.filePath(c.host), app.path());
        EXPECT_EQ(ui.events, want);
        if (want.isEmpty()) // refused: nothing else was touched either
            continue;
        EXPECT_EQ(QByteArray::number(app.exists("torvane.cha.bak")) + app.read("torvane.cha.bak"),
                  c.handOff ? "1" + kHostHandOff : QByteArray("0"));
        EXPECT_FALSE(app.exists("torvane.cha.buk"));
        EXPECT_EQ(QDir::current().canonicalPath(), QDir(app.path()).canonicalPath());
    }
}

// A folder in the way cannot be written, replaced or removed as a file, even by root.
TEST(ReturnToHost, ResultThatCannotBeHandedBackLeavesTheHostFileAndTellsTheUser) {
    const std::pair<QString, QString> cases[] = {{"torvane.cha.buk", "torvane.cha.buk"},
                                                 {"torvane.cha.bak", "torvane.cha.bak"},
                                                 {"torvane.cha", "torvane.cha.bak"}};
    for (const auto &[blocked, named] : cases) {
        TempAppDir local;
        gLangBase = 100;
        const QByteArray before = blocked == "torvane.cha" ? "" : kHostHandOff;
        if (!before.isEmpty())
            local.write("torvane.cha", before);
        local.write(blocked + "/inside", "x");
        RecordingHostReturn recorder;
        ReturnToHost("NormalNG", recorder);
        EXPECT_EQ(local.read("torvane.cha"), before); // byte for byte as the host left it
        EXPECT_FALSE(QFileInfo(local.filePath("torvane.cha.buk")).isFile());
        EXPECT_EQ(gErrNo, 118);
        EXPECT_EQ(recorder.events,
                  QStringList({"message: Could not write the result to torvane.cha, so torvane was "
                               "not started. Start torvane by hand.\r\nErrNo 75:Path/File access "
                               "error\r\n  File name: " +
                                   local.filePath(named),
                               "close", "end"}));
    }
}

} // namespace
