#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome qarnctl(const QStringList &args) {
    QProcess p;
    p.start(QStringLiteral(QARNCTL_PATH), args);
    Outcome r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QByteArray kDescription = "CPUT 6\r\nDF kernel.bin\r\nPFN PROG.MOT\r\nUT 100\r\nUCS 1a2b\r\n"
                                "FSA 00000000\r\nFEA 0003FFFF\r\nFCS 9F3C\r\nATO 0F\r\nETO 5A\r\n"
                                "STO 0\r\nBRATE2 38400\r\nPARITY 2\r\nNDTCD 1\r\nSETUPINFO 0\r\n";
// A download the simulated target completes: kernel "k" (6B), one flash byte "p" (70).
const QByteArray kTargetDescription = "CPUT 0\r\nDF kernel.bin\r\nPFN PROG.MOT\r\nUT 0\r\n"
                                      "UCS 006B\r\nFSA 00000000\r\nFEA 00000000\r\nFCS 0070\r\n"
                                      "ATO 1\r\nSTO 1\r\nPDSIZE 512\r\n";

class QarnctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.write("app/QARN.ini", "LANGUAGE 1\r\nDSTO 2.5\r\nDPDSIZE 1024\r\n");
        app.write("fw/v1/Kernel.bin", "k");
        app.write("fw/v1/prog.mot", "p");
        app.write("fw/v1/FW.ift", kDescription);
        app.write("fw/v1/T.ift", kTargetDescription);
    }
    void TearDown() override {
        sim.terminate();
        sim.waitForFinished(3000);
    }
    QString path(const QString &name) const { return app.filePath(name); }
    Outcome check(const QString &ift) {
        return qarnctl({"check", "--app-dir=" + path("app"), path(ift)});
    }
    // qarn-target-sim on port 1 of app/, recording what it receives; the pseudo-terminal.
    QString startSim(const QStringList &faults) {
        sim.start(TARGET_SIM_PATH,
                  QStringList{"--link", path("app/COM1"), "--record", path("received.bin")} +
                      faults);
        QByteArray ready;
        while (!ready.contains('\n') && sim.waitForReadyRead(10000))
            ready += sim.readAllStandardOutput();
        return QString::fromLatin1(ready).section(' ', 1).trimmed();
    }
    // An FTDI adapter with its default latency timer of 16 ms as tty `name` under sys/, and
    // under proc/ an account (uid 4321) in none of the device's groups and a process holding
    // `device`, with its lock file under lock/.
    void fakeRoots(const QString &name, const QString &device) {
        const QString usb = "sys/devices/usb1/1-2/", port = usb + "1-2:1.0/ttyUSB0";
        app.write(usb + "idVendor", "0403\n");
        app.write(usb + "idProduct", "6001\n");
        app.write(usb + "product", "FT232R USB UART\n");
        app.write(port + "/latency_timer", "16\n");
        QDir().mkpath(path("sys/bus/usb-serial/drivers/ftdi_sio"));
        QDir().mkpath(path("sys/class/tty/" + name));
        QFile::link(path("sys/bus/usb-serial/drivers/ftdi_sio"), path(port + "/driver"));
        QFile::link(path(port), path("sys/class/tty/" + name + "/device"));
        app.write("proc/self/status", "Uid:\t4321\t4321\t4321\t4321\nGid:\t4321\t4321\t4321\t"
                                      "4321\nGroups:\t\n");
        app.write("proc/4242/cmdline", QByteArray("minicom\0-D\0/dev/ttyUSB0\0", 25));
        QDir().mkpath(path("proc/4242/fd"));
        QFile::link(device, path("proc/4242/fd/3"));
        app.write("lock/LCK.." + name, "      4242\n");
    }
    // The doctor's report as text lines; --json output is turned into the same lines.
    QStringList doctor(const QStringList &args, int &exitCode) {
        const Outcome r = qarnctl(QStringList{"doctor", "--app-dir", path("app")} + args);
        exitCode = r.exitCode;
        if (!args.contains("--json"))
            return r.out.split('\n', Qt::SkipEmptyParts);
        QStringList lines;
        for (const auto &value : QJsonDocument::fromJson(r.out.toUtf8())["checks"].toArray()) {
            const QJsonObject check = value.toObject();
            const QString advice = check["advice"].toString();
            lines << QString("%1 %2 %3")
                             .arg(check["status"].toString(), -4)
                             .arg(check["name"].toString(), -7)
                             .arg(check["found"].toString()) +
                         (advice.isEmpty() ? "" : " => " + advice);
        }
        return lines;
    }

    TempAppDir app;
    QProcess sim;
};

TEST_F(QarnctlTest, CheckPrintsEveryValueInOrder) {
    const Outcome r = check("fw/v1/FW.ift");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList expected = {"gSeqType=3",
                                  "gIrdFile=" + path("fw/v1/Kernel.bin"),
                                  "gPrgFile=" + path("fw/v1/prog.mot"),
                                  "gIrdCheckSum=1A2B",
                                  "gFlashStart=00000000",
                                  "gFlashEnd=0003FFFF",
                                  "gFlashCheckSum=9F3C",
                                  "gBitRate=9600",
                                  "gBitRate2=38400",
                                  "gDataBits=8",
                                  "gParity=E",
                                  "gStopBits=1",
                                  "gPacketSize=1024",
                                  "gSendBlankBlocks=1",
                                  "gWaitTime=100",
                                  "gAdjustTimeout=15",
                                  "gEraseTimeout=90",
                                  "gStatusTimeout=0",
                                  "gTransferTimeout=2.5",
                                  "gDataTimeout=2.5",
                                  "gWriteTimeout=2.5",
                                  "gSetupInfo=0",
                                  "protected=0"};
    EXPECT_EQ(r.out, expected.join('\n') + '\n');
}

TEST_F(QarnctlTest, PackedDescriptionChecksTheSameAsThePlainOne) {
    const Outcome pack = qarnctl({"pack", "--key-a", "0a0b0c0d00", "--key-b=11220000",
                                  path("fw/v1/FW.ift"), path("fw/v1/SAFE.ift")});
    ASSERT_EQ(pack.exitCode, 0) << pack.err.toStdString();
    const QByteArray packed = app.read("fw/v1/SAFE.ift");
    ASSERT_EQ(packed.size(), 256 + kDescription.size());
    EXPECT_EQ(packed.mid(12, 8).toHex(), "5b21e07c94d3a6f8");
    EXPECT_EQ(packed.mid(212, 16).toHex(), "3f9a0c7e51b82d46e09f7a1c5d3b8e62");
    EXPECT_EQ(packed.mid(120, 5).toHex(), "0a0b0c0d00");
    EXPECT_EQ(packed.mid(36, 4).toHex(), "11220000");
    // "CP" is 43 50: 43+0A+11 = 5E, 50+0B+22 = 7D
    EXPECT_EQ(packed.mid(256, 2).toHex(), "5e7d");
    const Outcome plain = check("fw/v1/FW.ift");
    const Outcome safe = check("fw/v1/SAFE.ift");
    ASSERT_EQ(safe.exitCode, 0);
    EXPECT_TRUE(safe.out.endsWith("\nprotected=1\n"));
    EXPECT_EQ(safe.out.chopped(2), plain.out.chopped(2)); // all but the protected flag's digit
}

TEST_F(QarnctlTest, CheckRefusalPrintsTheErrorNumberAndText) {
    const QString file = "  File name: " + path("fw/v1/X.ift") + "\n";
    const std::tuple<const char *, QByteArray, QString> cases[] = {
        {"missing", {}, "E120\nCould not open the selected file.\n" + file},
        {"no kernel", kDescription + "DF NONE.BIN\r\n",
         "E121\nCould not find the necessary file.\n" + file},
        {"no program", kDescription + "PFN NONE\r\n",
         "E122\nCould not find the necessary file.\n" + file},
        {"bad start", kDescription + "FSA 0000\r\n",
         "E123\nCould not find the necessary information in the file.\n  FSA\n" + file},
        {"long line", kDescription + QByteArray(40000, 'x'),
         "E129\nUnexpected\u3000error has happened.\nErrNo 6:Overflow\n" + file},
    };
    for (const auto &[name, text, expected] : cases) {
        SCOPED_TRACE(name);
        QFile::remove(path("fw/v1/X.ift"));
        if (!text.isEmpty())
            app.write("fw/v1/X.ift", text);
        const Outcome r = check("fw/v1/X.ift");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, expected);
    }
    QFile::remove(path("app/QARN.ini"));
    EXPECT_EQ(check("fw/v1/FW.ift").out, "E130\n指定されたファイルがオープンできませんでした。\n  "
                                         "ファイル名: " +
                                             path("app/QARN.ini") + "\n");
}

TEST_F(QarnctlTest, OptionsComeFromTheParserWithHelpVersionAndStatusTwo) {
    const std::tuple<QStringList, int, QString> cases[] = {
        {{"--version"}, 0, "qarnctl 3."},
        {{"check", "--help"}, 0, "usage: qarnctl check [options] FILE.ift\n"},
        {{"doctor", "-h"}, 0, "usage: qarnctl doctor [options]\n"},
        {{}, 2, "usage: qarnctl [options] COMMAND"},
        {{"frob"}, 2, "qarnctl: unknown command 'frob'\n"},
        {{"check"}, 2, "qarnctl check: no description file given\n"},
        {{"check", "--app-dir"}, 2, "qarnctl check: Missing value after '--app-dir'.\n"},
        {{"check", "--bogus", "a.ift"}, 2, "qarnctl check: Unknown option 'bogus'.\n"},
        {{"check", "a.ift", "b.ift"}, 2, "qarnctl check: only one description file"},
        {{"flash", "--repeat=0", "a.ift"}, 2, "qarnctl flash: --repeat needs a count of 1 or"},
        {{"doctor", "extra"}, 2, "qarnctl doctor: unexpected argument 'extra'\n"},
        {{"doctor", "--app-dir=/nowhere"}, 2, "qarnctl doctor: '/nowhere' is not a folder\n"},
        {{"pack", "--key-a", "0102030400", "in"}, 2, "both --key-a and --key-b"},
        {{"pack", "--key-a", "0102030400", "--key-b", "10200000", "in"}, 2, "one input file"},
        {{"pack", "--key-a", "0102030405", "--key-b", "10200000", "in", "out"}, 2, "--key-a needs"},
        {{"pack", "--key-a", "0102030400", "--key-b", "10203040", "in", "out"}, 2, "--key-b needs"},
        {{"pack", "--key-a", "0011223344", "--key-b", "10200000", "in", "out"}, 2, "--key-a needs"},
        {{"pack", "--key-a", "01020304", "--key-b", "10200000", "in", "out"}, 2, "10 hexadecimal"},
        {{"pack", "--key-a", "01020304zz", "--key-b", "10200000", "in", "out"}, 2, "10 hexa"},
    };
    for (const auto &[args, code, text] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome r = qarnctl(args);
        EXPECT_EQ(r.exitCode, code);
        EXPECT_TRUE((code == 0 ? r.out : r.err).contains(text)) << qPrintable(r.out + r.err);
    }
}

TEST_F(QarnctlTest, PackRefusesWithoutTouchingTheOutput) {
    app.write("out.ift", "old");
    app.write("empty.txt", "");
    const QStringList keys = {"pack", "--key-a", "0102030400", "--key-b", "10200000"};
    ASSERT_EQ(qarnctl(keys + QStringList{path("fw/v1/FW.ift"), path("packed.ift")}).exitCode, 0);
    QDir().mkpath(path("folder.ift"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.ift")).constData(), 0600), 0);
    for (const QString in : {"none.txt", "empty.txt", "packed.ift", "folder.ift", "pipe.ift"}) {
        SCOPED_TRACE(in.toStdString());
        EXPECT_EQ(qarnctl(keys + QStringList{path(in), path("out.ift")}).exitCode, 1);
        EXPECT_EQ(app.read("out.ift"), QByteArray("old"));
    }
    EXPECT_EQ(qarnctl(keys + QStringList{path("fw/v1/FW.ift"), path("no/out.ift")}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(path("no")));
}

TEST_F(QarnctlTest, DoctorNamesWhatStandsInTheWayAndWhatToDo) {
    const QString pty = startSim({});
    ASSERT_TRUE(pty.startsWith("/dev/")) << qPrintable(pty);
    QFile::setPermissions(pty, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                   QFile::WriteGroup);
    fakeRoots(QFileInfo(pty).fileName(), pty);
    QFile::link(path("nothing"), path("app/COM2"));
    QFile::link(path("app/QARN.ini"), path("app/COM3"));
    const QStringList fake = {"--port=1",   "--sysfs",    path("sys"), "--proc",
                              path("proc"), "--lock-dir", path("lock")};
    const QString owner = QFileInfo(pty).owner(), group = QFileInfo(pty).group();
    const QString lock = path("lock/LCK..") + QFileInfo(pty).fileName();
    const std::tuple<QStringList, int, QStringList> cases[] = {
        {{}, 1, {"FAIL port    QARN.ini gives no port (no PORT line) => put PORT n in QARN.ini"}},
        {{"--port", "99"},
         1,
         {"FAIL port    port 99: no COM99 in " + path("app") +
          ", and "
          "/dev/ttyS98 does not exist => link the adapter as port 99"}},
        {{"--port", "2"},
         1,
         {"FAIL port    port 2 is COM2 -> " + path("nothing") +
          ", which does not exist => plug the adapter in, or link the port "
          "to it: ln -sfn /dev/serial/by-id/<adapter> " +
          path("app/COM2")}},
        {{"--port", "3"},
         1,
         {"FAIL port    port 3 is COM3 -> " + path("app/QARN.ini") +
          ", which is not a character device => link the port"}},
        {fake,
         1,
         {"OK   port    port 1 is COM1 -> " + pty + ", a character device",
          "FAIL access  $USER may not read and write it (crw-rw---- " + owner + ":" + group +
              ", $USER is not in " + group + ") => sudo usermod -aG " + group +
              " $USER, then log in again",
          "FAIL busy    " + pty + " is held by pid 4242 (minicom -D /dev/ttyUSB0); lock file " +
              lock +
              " of pid 4242 (minicom -D /dev/ttyUSB0) => close the port in that "
              "program, or end it (kill 4242), then try again",
          "WARN adapter USB adapter ftdi_sio 0403:6001 FT232R USB UART, latency timer 16 ms: the "
          "echoed transfer of a 4 KiB kernel takes about 74.1 s at 9600 bit/s instead of 12.6 "
          "s, longer than its time-out (TTO, 2.5 s): error 310 => set the latency timer to 1 ms "
          "with the udev rule ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVERS==\"ftdi_sio\""
          ", ATTR{latency_timer}=\"1\" in /etc/udev/rules.d/99-qarn.rules"}},
        {{"--port=1", "--proc", path("sys"), "--lock-dir", path("lock"), "--json"},
         0,
         {"OK   port    port 1 is COM1 -> " + pty, "OK   access  " + owner + " may read and write",
          "WARN busy    stale lock file " + lock + ": its process no longer runs => remove it",
          "OK   adapter sysfs knows no adapter for " + pty,
          "OK   line    it opens at 9600,N,8,1, the line settings of a download"}},
    };
    for (const auto &[args, code, expected] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        int exitCode = -1;
        const QStringList lines = doctor(args, exitCode);
        EXPECT_EQ(exitCode, code);
        ASSERT_EQ(lines.size(), expected.size()) << qPrintable(lines.join('\n'));
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(lines[i].startsWith(expected[i])) << qPrintable(lines[i]);
    }
}

TEST_F(QarnctlTest, DoctorProbeSendsOnlyThe00PatternAndSaysToRestartTheDevice) {
    const QString restart = " Restart the device in boot mode before a download: the probe has "
                            "used up its bit-rate adjustment.";
    const std::tuple<QStringList, int, QString> cases[] = {
        {{}, 0, "OK   probe   the boot program answered 00 at 9600 bit/s after "},
        {{"--no-adjust-answer"}, 1, "FAIL probe   no answer within 1 s (ATO) at 9600 bit/s ("},
        {{"--adjust-answer", "80"}, 1, "FAIL probe   the boot program answered 80 instead of 00"},
    };
    for (const auto &[faults, code, probe] : cases) {
        SCOPED_TRACE(faults.join(' ').toStdString());
        const QString pty = startSim(faults);
        int exitCode = -1;
        const QStringList lines = doctor({"--port", "1", "--probe", path("fw/v1/T.ift")}, exitCode);
        EXPECT_EQ(exitCode, code);
        ASSERT_EQ(lines.size(), 6) << qPrintable(lines.join('\n'));
        EXPECT_TRUE(lines[2].startsWith("OK   busy    no other process holds " + pty +
                                        "; the other end of this pseudo-terminal is pid"));
        EXPECT_TRUE(lines[5].startsWith(probe)) << qPrintable(lines[5]);
        EXPECT_TRUE(lines[5].endsWith(restart)) << qPrintable(lines[5]);
        TearDown(); // the target has written down all it received
        const QByteArray received = app.read("received.bin");
        EXPECT_FALSE(received.isEmpty());
        EXPECT_EQ(received, QByteArray(received.size(), '\x00'));
    }
}

TEST_F(QarnctlTest, FlashWarnsOnceOfTheLatencyTimerAndSpeaksJsonLines) {
    const std::tuple<QStringList, int, QString> cases[] = {
        {{}, 0, R"({"checksum":"0070","errno":0,"error":"","outcome":"ok"})"},
        {{"--adjust-answer", "80"},
         1,
         R"({"checksum":"0000","errno":303,"error":"Could not complete serial communication )"
         R"(adjustment within the time limit.\nCheck the following items:\n  Selected model\n  )"
         R"(If the Start LED of the control box is lit\n\n  Function: AdjBitRate","outcome":"failed"})"},
    };
    for (const auto &[faults, code, outcome] : cases) {
        const QString pty = startSim(faults);
        fakeRoots(QFileInfo(pty).fileName(), pty);
        const Outcome r = qarnctl({"flash", "--app-dir", path("app"), "--port", "1", "--json",
                                   "--sysfs=" + path("sys"), path("fw/v1/T.ift")});
        EXPECT_EQ(r.exitCode, code);
        EXPECT_EQ(r.err.count("qarnctl flash: warning: the latency timer of the adapter on " + pty +
                              " is 16 ms: the kernel transfer takes about "),
                  1);
        QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.takeLast(), outcome);
        for (int phase = 1; phase <= lines.size(); ++phase)
            EXPECT_EQ(QJsonDocument::fromJson(lines[phase - 1].toUtf8())["phase"].toInt(), phase);
        EXPECT_EQ(lines.size(), code == 0 ? 5 : 1);
        TearDown();
        QDir(path("sys")).removeRecursively();
        QDir(path("proc")).removeRecursively();
    }
}

} // namespace
