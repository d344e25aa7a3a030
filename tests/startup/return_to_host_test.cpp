#include "return_to_host.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kHostHandOff = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX10\r\n";

// Records what the return asked of the window system, and what torvane.cha held at the start.
class Recorder : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    bool startHost(const QString &program, const QStringList &arguments,
                   const QString &folder) override {
        QFile cha(folder + "/torvane.cha");
        events << "start " + program + " " + arguments.join(' ') + " in " + folder + ": " +
                      (cha.open(QIODevice::ReadOnly) ? cha.readAll() : "(none)");
        return starts;
    }
    QStringList events;
    bool starts = true;
};

class ReturnToHostTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("PATH", app.filePath("bin").toLocal8Bit()); }
    void TearDown() override { qputenv("PATH", path); }
    void writeHost(const QString &name, QFile::Permissions permissions) {
        app.write(name, "#!/bin/sh\n");
        QFile::setPermissions(app.filePath(name), permissions);
    }
    const QByteArray path = qgetenv("PATH");
    TempAppDir app;
    Recorder ui;
};

TEST_F(ReturnToHostTest, WritesTheResultKeepsTheHostFileAndThenStartsTheHost) {
    writeHost("torvane.exe", QFile::ReadOwner | QFile::ExeOwner);
    const std::tuple<const char *, QByteArray, bool> cases[] = {
        {"Normal", QByteArray::fromHex("53554220454e440d0a"), true},        // SUB END
        {"NormalNG", QByteArray::fromHex("535542204552524f520d0a"), false}, // SUB ERROR
        {"normal", "", true}};
    for (const auto &[result, line, handOff] : cases) {
        QFile::remove(app.filePath("torvane.cha"));
        if (handOff)
            app.write("torvane.cha", kHostHandOff);
        app.write("torvane.cha.bak", "an older backup");
        app.write("torvane.cha.buk", "left over from a crash");
        ui.events.clear();
        QDir::setCurrent(QDir::rootPath());
        ReturnToHost(result, ui);
        EXPECT_EQ(app.read("torvane.cha"), line) << result;
        EXPECT_EQ(QByteArray::number(app.exists("torvane.cha.bak")) + app.read("torvane.cha.bak"),
                  handOff ? "1" + kHostHandOff : QByteArray("0"));
        EXPECT_FALSE(app.exists("torvane.cha.buk"));
        EXPECT_EQ(QDir::current().canonicalPath(), QDir(app.path()).canonicalPath());
        // The host starts once the new file is in place.
        EXPECT_EQ(ui.events, QStringList({"start " + app.filePath("torvane.exe") + " goToMain in " +
                                              app.path() + ": " + line,
                                          "close", "end"}));
    }
}

// A folder in the way cannot be written, replaced or removed as a file, even by root.
TEST_F(ReturnToHostTest, ResultThatCannotBeHandedBackLeavesTheHostFileAndTellsTheUser) {
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
        Recorder recorder;
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

TEST_F(ReturnToHostTest, HostThatCannotBeFoundOrStartedIsReportedOrKeepsTheWindows) {
    const QString start = " goToMain in " + app.path() + ": SUB END\r\n";
    // clang-format off
    struct Case { int32_t base; const char *host; QFile::Permissions mode; bool starts; QStringList events; };
    const Case cases[] = {
        {0, "torvane.exe", QFile::ReadOwner, true, {"message: torvane.exeが組み込まれていないため、処理を続行できません。", "close", "end"}},
        {100, "torvane.exe", QFile::ReadOwner, true, {"message: Can not continue (Torvane.exe does not exist)", "close", "end"}},
        {100, "bin/torvane.exe", QFile::ExeOwner, true, {"start " + app.filePath("bin/torvane.exe") + start, "close", "end"}},
        {100, "torvane.exe", QFile::ExeOwner, false, {"start " + app.filePath("torvane.exe") + start}}};
    // clang-format on
    for (const Case &c : cases) {
        gLangBase = c.base;
        writeHost(c.host, c.mode | QFile::ReadOwner);
        ui.events.clear();
        ui.starts = c.starts;
        ReturnToHost("Normal", ui);
        EXPECT_EQ(ui.events, c.events);
        QFile::remove(app.filePath(c.host));
    }
}

} // namespace
