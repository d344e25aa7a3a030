// The demo end to end with the real executables: a sample application folder from
// qarn-make-demo-app, the simulated target on a pseudo-terminal linked as COM1 in it, and
// qarnctl flash downloading the version of each sequence variant, with a serial trace.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr int kStartMs = 10000;
constexpr int kDownloadMs = 60000;

QString binPath(const char *name) {
    return QDir(QStringLiteral(QARN_BIN_DIR)).filePath(QString::fromLatin1(name));
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct DemoVersion {
    QString version;
    int variant = 0;
    QString ift;
    QString fcs;
};

class DemoApp : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "demo_tests";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QProcess make;
        make.start(binPath("qarn-make-demo-app"),
                   {"--out", dir.path(), "--bin", QStringLiteral(QARN_BIN_DIR), "--kernel-size",
                    "1024", "--image-size", "8192"});
        ASSERT_TRUE(make.waitForFinished(kStartMs));
        ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
        for (const QByteArray &line : readFile(app("demo-versions.txt")).split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 4)
                versions.append({QString::fromUtf8(fields[0]), fields[1].toInt(),
                                 QString::fromUtf8(fields[2]), QString::fromUtf8(fields[3])});
        }
    }

    void TearDown() override {
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate();
            sim.waitForFinished(kStartMs);
        }
    }

    QString app(const QString &name) const { return QDir(dir.path()).filePath(name); }

    // Starts the simulated target for one download and waits for its "ready" line.
    ::testing::AssertionResult startTarget(int variant, const QStringList &extra = {}) {
        sim.start(binPath("qarn-target-sim"),
                  QStringList{"--link", app("COM1"), "--variant", QString::number(variant),
                              "--boot-rate", "115200", "--data-rate", "115200", "--pace",
                              "--once"} +
                      extra);
        QByteArray output;
        while (!output.contains('\n')) {
            if (!sim.waitForReadyRead(kStartMs))
                return ::testing::AssertionFailure()
                       << "no ready line: " << sim.readAllStandardError().toStdString();
            output += sim.readAllStandardOutput();
        }
        if (!output.startsWith("ready "))
            return ::testing::AssertionFailure() << output.toStdString();
        return ::testing::AssertionSuccess();
    }

    // Runs qarnctl flash from the application folder; returns its exit code (-1 on a hang).
    int flash(const DemoVersion &version, QByteArray &out) {
        QProcess qarnctl;
        qarnctl.setWorkingDirectory(dir.path());
        qarnctl.start(app("qarnctl"),
                      {"flash", "--trace", app("trace-" + version.version + ".log"), version.ift});
        if (!qarnctl.waitForFinished(kDownloadMs)) {
            qarnctl.kill();
            qarnctl.waitForFinished();
            return -1;
        }
        out = qarnctl.readAllStandardOutput();
        return qarnctl.exitStatus() == QProcess::NormalExit ? qarnctl.exitCode() : -1;
    }

    QTemporaryDir dir;
    QProcess sim;
    QList<DemoVersion> versions;
};

TEST_F(DemoApp, HoldsTheHostFilesAndOneVersionPerSequenceVariant) {
    EXPECT_EQ(readFile(app("QARN.ini")), "; QARN settings of the demo folder\r\nLANGUAGE 1\r\n"
                                         "PORT 1\r\n");
    EXPECT_TRUE(readFile(app("torvane.cha"))
                    .startsWith("MAIN SET\r\nFdir " + dir.path().toUtf8() + "/fieldkit/tools\r\n"));
    for (const char *exe : {"qarn", "qarnctl", "torvane.exe"})
        EXPECT_TRUE(QFileInfo(app(exe)).isExecutable()) << exe;
    ASSERT_EQ(versions.size(), 4);
    QList<int> variants;
    for (const DemoVersion &version : versions) {
        variants << version.variant;
        const QString folder = QFileInfo(version.ift).absolutePath();
        EXPECT_EQ(folder, app("fieldkit/QX100/MAIN/" + version.version));
        EXPECT_TRUE(QFile::exists(folder + "/KERNEL.BIN"));
        EXPECT_TRUE(QFile::exists(folder + "/IMAGE.BIN"));
    }
    EXPECT_EQ(variants, QList<int>({0, 1, 2, 3}));
    // The variant 1 description is stored protected: its text does not show.
    EXPECT_FALSE(readFile(versions[1].ift).contains("CPUT"));
    EXPECT_TRUE(readFile(versions[0].ift).contains("CPUT 0\r\n"));
}

TEST_F(DemoApp, EverySequenceVariantDownloadsAndTheTargetConfirmsTheChecksum) {
    ASSERT_EQ(versions.size(), 4);
    for (int i = 0; i < 3; ++i) {
        const DemoVersion &version = versions[i];
        SCOPED_TRACE(version.version.toStdString());
        ASSERT_TRUE(startTarget(version.variant));
        QByteArray out;
        EXPECT_EQ(flash(version, out), 0) << out.toStdString();
        EXPECT_TRUE(out.endsWith("checksum=" + version.fcs.toUtf8() + "\n")) << out.toStdString();
        ASSERT_TRUE(sim.waitForFinished(kStartMs)); // --once: the target ends with the download

        const QList<QByteArray> trace =
            readFile(app("trace-" + version.version + ".log")).trimmed().split('\n');
        ASSERT_GT(trace.size(), 10);
        EXPECT_TRUE(trace[3].contains("open COM1 115200,N,8,1 ok")) << trace[3].toStdString();
        EXPECT_TRUE(trace.last().endsWith("outcome ok, checksum " + version.fcs.toUtf8()))
            << trace.last().toStdString();
        // 1024 kernel bytes and their two length bytes, each echoed: one line.
        int kernelLines = 0;
        for (const QByteArray &line : trace)
            kernelLines += line.contains("DownloadIrd         1026 bytes");
        EXPECT_EQ(kernelLines, 1);
    }
}

TEST_F(DemoApp, AWrongFlashSumFailsWithItsNumberOnScreenAndInTheTrace) {
    ASSERT_FALSE(versions.isEmpty());
    const DemoVersion &version = versions[2];
    ASSERT_TRUE(startTarget(version.variant, {"--bad-flash-sum"}));
    QByteArray out;
    EXPECT_EQ(flash(version, out), 1);
    EXPECT_TRUE(out.startsWith("E370\n")) << out.toStdString();
    const QByteArray trace = readFile(app("trace-" + version.version + ".log")).trimmed();
    EXPECT_TRUE(trace.endsWith("outcome failed, error number 370, run-time code 0, step "
                               "\"CheckFROMCheckSum\", phase 4"))
        << trace.right(200).toStdString();
}

TEST_F(DemoApp, ATraceThatCannotBeWrittenIsRefusedBeforeThePortIsTouched) {
    QProcess qarnctl;
    qarnctl.start(app("qarnctl"),
                  {"flash", "--trace", app("no-such-folder/t.log"), versions.value(0).ift});
    ASSERT_TRUE(qarnctl.waitForFinished(kStartMs));
    EXPECT_EQ(qarnctl.exitCode(), 2);
    EXPECT_TRUE(qarnctl.readAllStandardError().contains("cannot write the trace"));
}

} // namespace

namespace {

struct MakeCase {
    const char *name;
    const char *folder; // the --out folder, inside a temporary one
    QStringList args;
    int status;
    const char *message;
};

class MakeDemoAppRefusal : public ::testing::TestWithParam<MakeCase> {};

TEST_P(MakeDemoAppRefusal, NamesTheProblemAndWritesNothing) {
    const MakeCase &c = GetParam();
    QTemporaryDir dir;
    const QString out = dir.filePath(c.folder);
    QProcess make;
    make.start(binPath("qarn-make-demo-app"), QStringList{"--out", out} + c.args);
    ASSERT_TRUE(make.waitForFinished(kStartMs));
    EXPECT_EQ(make.exitCode(), c.status);
    EXPECT_TRUE(make.readAllStandardError().contains(c.message));
    EXPECT_FALSE(QFile::exists(QDir(out).filePath("torvane.cha")));
}

INSTANTIATE_TEST_SUITE_P(
    Options, MakeDemoAppRefusal,
    ::testing::Values(
        MakeCase{"RateNotANumber", "app", {"--rate", "fast"}, 2, "--rate needs a number"},
        MakeCase{
            "KernelTooLong", "app", {"--kernel-size", "32766"}, 2, "--kernel-size needs a number"},
        MakeCase{"ImageBeyondTheFlash", "app", {"--image-size", "262145"}, 2, "--image-size needs"},
        MakeCase{"UnknownOption", "app", {"--colour"}, 2, "unknown argument '--colour'"},
        MakeCase{"ValueMissing", "app", {"--ut"}, 2, "--ut needs a value"},
        MakeCase{"FolderWithABlank", "has blank", {}, 1, "must not contain blanks"}),
    [](const ::testing::TestParamInfo<MakeCase> &info) { return std::string(info.param.name); });

} // namespace
