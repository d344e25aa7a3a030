#include "return_to_host.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kHostHandOff = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX10\r\n";

// Records what the return asked of the window system, and what torvane.cha held at the start.
class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    bool startHost(const QString &program, const QStringList &arguments,
                   const QString &folder) override {
        events << "start " + program + " " + arguments.join(' ') + " in " + folder;
        QFile cha(folder + "/torvane.cha");
        chaAtStart = cha.open(QIODevice::ReadOnly) ? cha.readAll() : "(none)";
        return starts;
    }
    QStringList events;
    QByteArray chaAtStart;
    bool starts = true;
};

class ReturnToHost_ : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("PATH", app.filePath("bin").toLocal8Bit()); // no host on the search path
        app.write("torvane.exe", "#!/bin/sh\n");
        QFile::setPermissions(app.filePath("torvane.exe"), QFile::ReadOwner | QFile::ExeOwner);
    }
    void TearDown() override { qputenv("PATH", path); }
    const QByteArray path = qgetenv("PATH");
    TempAppDir app;
    RecordingHostReturn ui;
};

TEST_F(ReturnToHost_, WritesTheResultKeepsTheHostFileAndThenStartsTheHost) {
    // clang-format off
    struct Case { const char *result; QByteArray line; bool handOff; };
    const Case cases[] = {{"Normal", QByteArray::fromHex("53554220454e440d0a"), true},       // SUB END
                          {"NormalNG", QByteArray::fromHex("535542204552524f520d0a"), false}, // SUB ERROR
                          {"normal", "", true}};
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result);
        QFile::remove(app.filePath("torvane.cha"));
        if (c.handOff)
            app.write("torvane.cha", kHostHandOff);
        app.write("torvane.cha.bak", "an older backup");
        app.write("torvane.cha.buk", "left over from a crash");
        ui.events.clear();
        QDir::setCurrent(QDir::rootPath());
        ReturnToHost(c.result, ui);
        EXPECT_EQ(app.read("torvane.cha"), c.line);
        EXPECT_EQ(ui.chaAtStart, c.line); // the host starts only once the new file is in place
        EXPECT_EQ(app.exists("torvane.cha.bak"), c.handOff);
        EXPECT_EQ(app.read("torvane.cha.bak"), c.handOff ? kHostHandOff : "");
        EXPECT_FALSE(app.exists("torvane.cha.buk"));
        EXPECT_EQ(QDir::current().canonicalPath(), QDir(app.path()).canonicalPath());
        EXPECT_EQ(ui.events, QStringList({"start " + app.filePath("torvane.exe") + " goToMain in " +
                                              app.path(),
                                          "close", "end"}));
    }
}

// A folder in the way cannot be written, replaced or removed as a file, even by root.
TEST_F(ReturnToHost_, ResultThatCannotBeHandedBackLeavesTheHostFileAndTellsTheUser) {
    const std::pair<QString, QString> cases[] = {{"torvane.cha.buk", "torvane.cha.buk"},
                                                 {"torvane.cha.bak", "torvane.cha.bak"},
                                                 {"torvane.cha", "torvane.cha.bak"}};
    for (const auto &[blocked, named] : cases) {
        SCOPED_TRACE(blocked.toStdString());
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

TEST_F(ReturnToHost_, HostThatCannotBeFoundOrStartedIsReportedOrKeepsTheWindows) {
    const QString onPath = app.filePath("bin/torvane.exe");
    // clang-format off
    struct Case { int32_t base; QFile::Permissions beside; bool onPath, starts; QStringList events; };
    const Case cases[] = {
        {0, {}, false, true, {"message: torvane.exeが組み込まれていないため、処理を続行できません。", "close", "end"}},
        {100, QFile::ReadOwner | QFile::WriteOwner, false, true, {"message: Can not continue (Torvane.exe does not exist)", "close", "end"}},
        {100, {}, true, true, {"start " + onPath + " goToMain in " + app.path(), "close", "end"}},
        {100, QFile::ReadOwner | QFile::ExeOwner, false, false, {"start " + app.filePath("torvane.exe") + " goToMain in " + app.path()}}};
    // clang-format on
    for (const Case &c : cases) {
        gLangBase = c.base;
        app.write("torvane.exe", "#!/bin/sh\n");
        QFile::setPermissions(app.filePath("torvane.exe"), c.beside);
        if (!c.beside)
            QFile::remove(app.filePath("torvane.exe"));
        if (c.onPath)
            app.write("bin/torvane.exe", "#!/bin/sh\n");
        QFile::setPermissions(onPath, QFile::ReadOwner | QFile::ExeOwner);
        ui.events.clear();
        ui.starts = c.starts;
        ReturnToHost("Normal", ui);
        EXPECT_EQ(ui.events, c.events);
        EXPECT_EQ(app.read("torvane.cha"), "SUB END\r\n");
    }
}

} // namespace
