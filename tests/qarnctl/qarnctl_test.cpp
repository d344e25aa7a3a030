#include "adapter.h"
#include "commands.h"
#include "low_latency.h"
#include "port_lookup.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

Outcome qarnctl(const QStringList &args) {
    QProcess p;
    p.start(QStringLiteral(QARNCTL_PATH), args);
    const bool ended = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

const QByteArray kDescription = "CPUT 6\r\nDF kernel.bin\r\nPFN PROG.MOT\r\nUT 100\r\nUCS 1a2b\r\n"
                                "FSA 00000000\r\nFEA 0003FFFF\r\nFCS 9F3C\r\nATO 0F\r\nETO 5A\r\n"
                                "STO 0\r\nBRATE2 38400\r\nPARITY 2\r\nNDTCD 1\r\nSETUPINFO 0\r\n";
// A download the simulated target completes: kernel "k" (6B), one flash byte "p" (70).
const QByteArray kTargetDescription = "CPUT 0\r\nDF kernel.bin\r\nPFN PROG.MOT\r\nUT 0\r\n"
                                      "UCS 006B\r\nFSA 00000000\r\nFEA 00000000\r\nFCS 0070\r\n"
                                      "ATO 1\r\nSTO 1\r\nPDSIZE 512\r\n";

QString Sha256(const QByteArray &bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

class QarnctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.write("app/QARN.ini", "LANGUAGE 1\r\nDSTO 2.5\r\nDPDSIZE 1024\r\n");
        app.write("fw/v1/Kernel.bin", "k");
        app.write("fw/v1/prog.mot", "p");
        app.write("fw/v1/FW.ift", kDescription);
        app.write("fw/v1/T.ift", kTargetDescription);
        app.write("fw/v1/D9.ift", kTargetDescription + "DLEN 9\r\n");
    }
    void TearDown() override { sim.terminate(), sim.waitForFinished(3000); }
    QString path(const QString &name) const { return app.filePath(name); }
    // ROOT is the temporary folder, APP its application folder, PTY the target's line (NAME
    // its name), KEYS a usable pair of key tables (KA and KB).
    QString expand(QString text) const {
        return text.replace("KEYS", "KA KB")
            .replace("KA", "--key-a 0102030400")
            .replace("KB", "--key-b 10200000")
            .replace("OUT", path("out.ift"))
            .replace("APP", path("app"))
            .replace("ROOT", app.path())
            .replace("PTY", pty)
            .replace("OWNER", QFileInfo(pty).owner())
            .replace("GROUP", QFileInfo(pty).group())
            .replace("NAME", QFileInfo(pty).fileName());
    }
    // qarn-target-sim on app/COM1, recording what it receives, and fake roots: sys/ an FTDI
    // adapter (latency 16 ms), proc/ uid 4321 in no group and a holder with its lock/ file.
    void startSim(const QString &faults) {
        sim.start(TARGET_SIM_PATH, QString("--link %1 --record %2 %3")
                                       .arg(path("app/COM1"), path("received.bin"), faults)
                                       .split(' ', Qt::SkipEmptyParts));
        QByteArray ready;
        while (!ready.contains('\n') && sim.waitForReadyRead(10000))
            ready += sim.readAllStandardOutput();
        pty = QString::fromLatin1(ready).section(' ', 1).trimmed();
        const QString name = QFileInfo(pty).fileName(),
                      tty = "sys/devices/usb1/1-2/1-2:1.0/ttyUSB0";
        QFile::setPermissions(pty, QFileDevice::Permissions(0x6060)); // rw-rw----
        for (const QString &file : QStringList{
                 "sys/devices/usb1/1-2/idVendor=0403", "sys/devices/usb1/1-2/idProduct=6001",
                 "sys/devices/usb1/1-2/serial=A10K3XQ2", "sys/devices/usb1/1-2/product=FT232R",
                 tty + "/latency_timer=16",
                 "proc/self/status=Uid:\t4321\t4321\t4321\t4321\nGroups:\t\n",
                 "lock/LCK.." + name + "=      4242\n",
                 "proc/4242/cmdline=minicom\1-D\1/dev/ttyUSB0\1"})
            app.write(file.section('=', 0, 0), file.section('=', 1).toLatin1().replace('\1', '\0'));
        for (const QString &dir :
             QStringList{"sys/bus/usb-serial/drivers/ftdi_sio", "sys/class/tty/" + name,
                         "proc/4242/fd", "fifo", "link"})
            QDir().mkpath(path(dir));
        QFile::link(path("sys/bus/usb-serial/drivers/ftdi_sio"), path(tty + "/driver"));
        QFile::link(path(tty), path("sys/class/tty/" + name + "/device"));
        QFile::link(pty, path("proc/4242/fd/" + name)); // one per line the test opened
        ::mkfifo(QFile::encodeName(path("fifo/LCK.." + name)).constData(), 0600);
        QFile::link(path("lock/LCK.." + name), path("link/LCK.." + name));
    }
    // The doctor's report as text lines; --json gives the same lines, all with " => ".
    QStringList doctor(const QString &args, int &exitCode) {
        const Outcome r = qarnctl(QStringList{"doctor", "--app-dir", path("app")} +
                                  args.split(' ', Qt::SkipEmptyParts));
        exitCode = r.exitCode;
        QStringList lines = args.contains("--json") ? QStringList() : r.out.split('\n');
        for (const QJsonValue v : QJsonDocument::fromJson(r.out.toUtf8())["checks"].toArray())
            lines << v["status"].toString().leftJustified(4) + ' ' +
                         v["name"].toString().leftJustified(7) + ' ' + v["found"].toString() +
                         " => " + v["advice"].toString();
        return lines.filter(QRegularExpression("."));
    }

    TempAppDir app;
    QProcess sim;
    QString pty;
};

TEST_F(QarnctlTest, CheckPrintsEveryValueInOrderAndRefusalsSayWhyLeavingTheOutputAlone) {
    app.write("BAD.ift", kDescription + "FSA 0000\r\n"), app.write("out.ift", "old");
    app.write("LONG.ift", kDescription + QByteArray(40000, 'x'));
    app.write("empty.txt", ""), app.write("p/QARN.ini", "PROTOTYPE 1");
    app.write("h/QARN.ini", "LANGUAGE 1"), QFile::link(path("h/t"), path("h/qarn-history.csv"));
    app.write("fw/v1/MK.ift", QByteArray(kTargetDescription).replace("kernel.bin", "gone.bin"));
    app.write("fw/v1/MP.ift", QByteArray(kTargetDescription).replace("PROG", "no/PROG"));
    QDir().mkpath(path("dir.ift"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.ift")).constData(), 0600), 0);
    // arguments, exit status, the start of the output; "@" stands for "qarnctl "
    const std::tuple<QString, int, QString> cases[] = {
        {"check --app-dir=APP ROOT/none.ift", 1,
         "E120\nCould not open the selected file.\n  File name: ROOT/none.ift\n"},
        {"check --app-dir=APP ROOT/BAD.ift", 1,
         "E123\nCould not find the necessary information in the file.\n  FSA\n  File name: "
         "ROOT/BAD.ift\n"},
        {"check --app-dir=APP ROOT/LONG.ift", 1,
         "E129\nUnexpected\u3000error has happened.\nErrNo 6:Overflow\n  File name: "
         "ROOT/LONG.ift\n"},
        // The system's text names the description; the file that is missing follows.
        {"check --app-dir=APP ROOT/fw/v1/MK.ift", 1,
         "E121\nCould not find the necessary file.\n  File name: ROOT/fw/v1/MK.ift\n"
         "@check: missing kernel file (DF): ROOT/fw/v1/GONE.BIN\n"},
        {"flash --app-dir=APP ROOT/fw/v1/MP.ift", 1,
         "E122\nCould not find the necessary file.\n  File name: ROOT/fw/v1/MP.ift\n"
         "@flash: missing program file (PFN): ROOT/fw/v1/NO/PROG.MOT\n"},
        {"--version", 0, "@3."},
        {"check --help", 0, "usage: @check [options] FILE.ift\n"},
        {"doctor -h", 0, "usage: @doctor [options] [FILE.ift]\n"},
        {"", 2, "usage: @[options] COMMAND"},
        {"frob", 2, "qarnctl: unknown command 'frob'\n"},
        {"check", 2, "@check: no description file given\n"},
        {"check --app-dir", 2, "@check: Missing value after '--app-dir'.\n"},
        {"check --bogus a.ift", 2, "@check: Unknown option 'bogus'.\n"},
        {"check a.ift b.ift", 2, "@check: only one description file"},
        {"flash --repeat=0 a.ift", 2, "@flash: --repeat needs a count of 1 or more"},
        {"flash", 2, ""},
        {"flash a.ift b.ift", 2, ""},
        {"flash --trace ROOT/none/t.log a.ift", 2, ""},
        {"flash --help", 0, "usage: @flash"},
        {"flash --app-dir=APP ROOT/none.ift", 1, "E120\nCould not open the selected file.\n"},
        {"flash --app-dir=ROOT/p ROOT/fw/v1/T.ift", 2, "@flash: QARN.ini in ROOT/p sets PROTOTYPE"},
        {"verify", 2, "@verify: no description file given\n"},
        {"verify --repeat 2 a.ift", 2, "@verify: Unknown option 'repeat'.\n"},
        {"verify --help", 0, "usage: @verify [options] FILE.ift\n"},
        {"verify --app-dir=ROOT/p ROOT/fw/v1/FW.ift", 2,
         "@verify: QARN.ini in ROOT/p sets PROTOTYPE 1, the simulation mode: no device would be "
         "read. Give --simulate"},
        {"verify --app-dir=APP ROOT/fw/v1/T.ift", 2,
         "@verify: ROOT/fw/v1/T.ift sets CPUT 0 or 3: the boot program erases the flash when it "
         "takes the kernel"},
        {"flash --app-dir=ROOT/h --port 77 ROOT/fw/v1/T.ift", 1,
         "E301\nSelected port is not available.\nSelect another port using \"COM Port Select\" in "
         "\"System Management\" of Main Menu.\n\n  Function: OpenPort\n@flash: the run history was "
         "not written: ROOT/h/qarn-history.csv is a symbolic link, not written through\n[1/5] "
         "Setup 1\n@flash: port 77: no COM77 in ROOT/h, and /dev/ttyS76 does not exist => link the "
         "adapter as port 77"},
        {"flash --json --app-dir=APP none.ift", 1,
         R"({"checksum":"0000","errno":120,"error":"Could not open)"},
        {"doctor a.ift extra", 2, "@doctor: unexpected argument 'extra'\n"},
        {"doctor --probe a.ift b.ift", 2,
         "@doctor: two descriptions given: b.ift and --probe a.ift"},
        {"doctor --app-dir=/nowhere", 2, "@doctor: '/nowhere' is not a folder\n"},
        {"pack KA in", 2, "@pack: both --key-a and --key-b are needed"},
        {"pack KEYS in", 2, "@pack: give one input file and one output file"},
        {"pack --key-a 0102030405 KB in out", 2, "@pack: --key-a needs a zero byte"},
        {"pack KA --key-b 10203040 in out", 2, "@pack: --key-b needs a zero byte"},
        {"pack --key-a 01020304 KB in out", 2, "@pack: --key-a must be 10 hexadecimal"},
        {"pack --key-a 01020304zz KB in out", 2, "@pack: --key-a must be 10 hexadecimal"},
        {"pack KEYS ROOT/fw/v1/FW.ift ROOT/fw/v1/P.ift", 0, ""},
        {"pack KEYS ROOT/none.txt OUT", 1, "@pack: cannot read 'ROOT/none.txt' (error 53)"},
        {"pack KEYS ROOT/empty.txt OUT", 1, "@pack: 'ROOT/empty.txt' is empty"},
        {"pack KEYS ROOT/fw/v1/P.ift OUT", 1, "@pack: 'ROOT/fw/v1/P.ift' is already protected"},
        {"pack KEYS ROOT/dir.ift OUT", 1, "@pack: 'ROOT/dir.ift' is not a regular file"},
        {"pack KEYS ROOT/pipe.ift OUT", 1, "@pack: 'ROOT/pipe.ift' is not a regular file"},
        {"pack KEYS ROOT/fw/v1/FW.ift ROOT/no/out.ift", 1,
         "@pack: cannot write 'ROOT/no/out.ift'"}};
    for (const auto &[args, code, text] : cases) {
        SCOPED_TRACE(args.toStdString());
        const Outcome r = qarnctl(expand(args).split(' ', Qt::SkipEmptyParts));
        const QString want = expand(text).replace("@", "qarnctl ");
        EXPECT_EQ(r.exitCode, code);
        EXPECT_EQ((r.out + r.err).left(want.size()), want);
    }
    EXPECT_EQ(app.read("out.ift"), QByteArray("old"));
    EXPECT_FALSE(QFileInfo::exists(path("no")) || QFileInfo::exists(path("h/t")));
    // The packed form reads the same. "CP" is 43 50: 43+01+10 = 54, 50+02+20 = 72.
    EXPECT_EQ(app.read("fw/v1/P.ift").mid(256, 2).toHex(), "5472");
    const QString expected =
        QString("gSeqType=3 gIrdFile=%1 gPrgFile=%2 gIrdCheckSum=1A2B gFlashStart=00000000 "
                "gFlashEnd=0003FFFF gFlashCheckSum=9F3C gBitRate=9600 gBitRate2=38400 gDataBits=8 "
                "gParity=E gStopBits=1 gPacketSize=1024 gSendBlankBlocks=1 gWaitTime=100 "
                "gAdjustTimeout=15 gEraseTimeout=90 gStatusTimeout=0 gTransferTimeout=2.5 "
                "gDataTimeout=2.5 gWriteTimeout=2.5 gSetupInfo=0 protected=")
            .arg(path("fw/v1/Kernel.bin"), path("fw/v1/prog.mot"))
            .replace(' ', '\n');
    for (const QString ift : {"fw/v1/FW.ift", "fw/v1/P.ift"})
        EXPECT_EQ(qarnctl({"check", "--app-dir=" + path("app"), path(ift)}).out,
                  expected + (ift.endsWith("P.ift") ? "1\n" : "0\n") + "kernelSha256=" +
                      Sha256(app.read("fw/v1/Kernel.bin")) + "\nimageSha256=" +
                      Sha256(app.read("fw/v1/prog.mot")) + "\n");
}

TEST_F(QarnctlTest, DoctorNamesWhatStandsInTheWayAndWhatToDo) {
    QFile::link(path("nothing"), path("app/COM2"));
    QFile::link(path("app/QARN.ini"), path("app/COM3"));
    const QString ok = "OK   port\nOK   access\nOK   busy    no other process holds PTY; the "
                       "other end of this pseudo-terminal is pid\nOK   adapter sysfs knows no "
                       "adapter for PTY\nOK   line\n";
    // The target's faults ("-": the one before), options, status, the start of each line.
    const std::tuple<const char *, QString, int, QString> cases[] = {
        {"", "--port 1 --probe ROOT/fw/v1/T.ift", 0,
         ok + "OK   probe   the boot program answered 00 at 9600 bit/s after 0."},
        {"--no-adjust-answer", "--port 1 --probe ROOT/fw/v1/T.ift", 1,
         ok + "FAIL probe   no answer within 1 s (ATO) at 9600 bit/s ("},
        {"--adjust-answer 80", "--port 1 --probe ROOT/fw/v1/T.ift --json", 1,
         ok + "FAIL probe   the boot program answered 80 instead of 00 at 9600 bit/s after 0."},
        {"", "", 1, "FAIL port    QARN.ini gives no port (no PORT line) => put PORT n in QARN.ini"},
        {"-", "--port 99", 1,
         "FAIL port    port 99: no COM99 in APP, and /dev/ttyS98 does not exist => link the"},
        {"-", "--port 2", 1,
         "FAIL port    port 2 is COM2 -> ROOT/nothing, which does not exist => plug the adapter "
         "in, or link the port to it: ln -sfn /dev/serial/by-id/<adapter> APP/COM2"},
        {"-", "--port 3", 1,
         "FAIL port    port 3 is COM3 -> APP/QARN.ini, which is not a character device => link"},
        {"-", "--port 1 --probe ROOT/fw/v1/D9.ift", 1,
         "OK   port\nOK   access\nOK   busy\nOK   adapter\nFAIL line    it does not open at "
         "9600,N,9,1: "
         "run-time code 5 (Invalid procedure call or argument) => these line settings are not "
         "usable\nFAIL probe   not tried: the port is not usable => mend the failed checks"},
        {"-",
         "--port=1 --sysfs ROOT/sys --proc ROOT/proc --lock-dir ROOT/lock --lock-dir ROOT/link "
         "--probe ROOT/none",
         1,
         "OK   port    port 1 is COM1 -> PTY, a character device\n"
         "FAIL access  $USER may not read and write it (crw-rw---- OWNER:GROUP, $USER is not in "
         "GROUP) => sudo usermod -aG GROUP $USER, then log in again\n"
         "FAIL busy    PTY is held by pid 4242 (minicom -D /dev/ttyUSB0); lock file "
         "ROOT/lock/LCK..NAME of pid 4242 (minicom -D /dev/ttyUSB0) => close the port in that "
         "program, or end it (kill 4242), then try again\n"
         "WARN adapter USB adapter ftdi_sio 0403:6001 FT232R, latency timer 16 ms, which QARN "
         "could not try to switch to 1 ms (the port is not usable: see above): the echoed transfer "
         "of a 4 KiB kernel takes about 74.1 s at 9600 bit/s instead of 12.6 s, longer than its "
         "time-out (TTO, 2.5 s): error 310 => set the latency timer to 1 ms with the "
         "udev rule ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVERS==\"ftdi_sio\", "
         "ATTR{latency_timer}=\"1\" in /etc/udev/rules.d/99-qarn.rules\n"
         "FAIL probe   ROOT/none: E120 Could not open the selected file. File name: ROOT/none"},
        {"-",
         "--port=1 --proc ROOT/sys --sysfs ROOT/sys --lock-dir ROOT/lock --lock-dir ROOT/fifo "
         "--json",
         0,
         "OK   port    port 1 is COM1 -> PTY\nOK   access  OWNER may read and write it\n"
         "WARN busy    stale lock file ROOT/lock/LCK..NAME, ROOT/fifo/LCK..NAME: it names no "
         "running process => remove it\nWARN adapter USB adapter ftdi_sio 0403:6001 FT232R, "
         "latency timer 16 ms, which QARN could not switch to 1 ms (low-latency flag: not readable "
         "on this port (ENOTTY), nothing changed; the timer read 16 ms): the echoed transfer\n"
         "OK   line    it opens at 9600,N,8,1, the line settings of QARN.ini"},
        // A description's own line settings, not QARN.ini's; one that cannot be read says so.
        {"-", "--port 1 ROOT/fw/v1/FW.ift", 0,
         ok.chopped(1) + "    it opens at 9600,E,8,1 (boot phase) and 38400,E,8,1 (data phase), "
                         "the line settings of FW.ift"},
        {"-", "--port 1 ROOT/none.ift", 1,
         ok.chopped(1) +
             "    it opens at 9600,N,8,1, the line settings of QARN.ini (a "
             "description may set its own bit rates\nFAIL file    ROOT/none.ift: E120"}};
    for (const auto &[faults, args, code, text] : cases) {
        SCOPED_TRACE(args.toStdString());
        if (QString(faults) != "-")
            startSim(faults);
        int exitCode = -1;
        const QStringList lines = doctor(expand(args), exitCode);
        const QStringList expected = expand(text).split('\n');
        EXPECT_EQ(exitCode, code);
        ASSERT_EQ(lines.size(), expected.size()) << qPrintable(lines.join('\n'));
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(lines[i].startsWith(expected[i])) << qPrintable(lines[i]);
        if (QString(faults) == "-" || !args.contains("--probe"))
            continue;
        const QRegularExpression time(" after \\d+\\.\\d\\d s "); // in hundredths of a second
        EXPECT_TRUE(code != 0 || time.match(lines.last()).hasMatch()) << qPrintable(lines.last());
        EXPECT_TRUE(lines.last().endsWith(" Restart the device in boot mode before a download: "
                                          "the probe has used up its bit-rate adjustment."));
        TearDown(); // the target has written down all it received: only the 00 pattern
        const QByteArray received = app.read("received.bin");
        EXPECT_EQ(received, QByteArray(std::max<qsizetype>(received.size(), 1), '\x00'));
    }
    // A driver that takes the flag as the FTDI driver does: 1 ms while the port is open.
    static const QString timer = "sys/devices/usb1/1-2/1-2:1.0/ttyUSB0/latency_timer";
    struct Ftdi : LowLatencyDriver {
        const TempAppDir &dir;
        explicit Ftdi(const TempAppDir &app) : dir(app) {}
        int read(int, bool &on) override { return on = dir.read(timer) == "1\n", 0; }
        int write(int, bool on) override { return dir.write(timer, on ? "1\n" : "16\n"), 0; }
    } ftdi(app);
    static int argc = 1;
    static char name[] = "qarnctl_tests", *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv); // for the port's notifiers
    testing::internal::CaptureStdout();
    EXPECT_EQ(runDoctor({"--app-dir", path("app"), "--port=1", "--sysfs", path("sys")}, ftdi), 0);
    EXPECT_TRUE(QString::fromStdString(testing::internal::GetCapturedStdout())
                    .contains("\nOK   adapter USB adapter ftdi_sio 0403:6001 FT232R, latency timer "
                              "16 ms: QARN switches it to 1 ms while it downloads (the low-latency "
                              "flag): the echoed transfer of a 4 KiB kernel takes about 12.6 s at "
                              "9600 bit/s instead of 74.1 s\n"));
    EXPECT_EQ(app.read(timer), "16\n");
    // A download on the same line names the slow adapter once, then goes on in JSON lines.
    const Outcome r = qarnctl({"flash", "--app-dir", path("app"), "--port", "1", "--json",
                               "--sysfs=" + path("sys"), path("fw/v1/T.ift")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.count("flash: warning: the latency timer of the adapter on " + pty +
                          " is 16 ms and its driver did not take the low-latency flag: the kernel "
                          "transfer takes about 0.1 s instead of 0.0 s"),
              1);
    const QStringList phases = r.out.split('\n').filter(R"("total":0})");
    ASSERT_EQ(phases.size(), 5) << qPrintable(r.out);
    // The fingerprints of the bytes the run read: the kernel "k", the image "p".
    EXPECT_TRUE(r.out.endsWith(R"({"checksum":"0070","errno":0,"error":"","image_sha256":")" +
                               Sha256("p") + R"(","kernel_sha256":")" + Sha256("k") +
                               R"(","outcome":"ok"})" "\n"))
        << qPrintable(r.out);
    // The run history names the adapter behind the port.
    EXPECT_EQ(QString(app.read("app/qarn-history.csv")).section("\r\n", 1).section(',', 1, 14),
              "qarnctl,flash," + path("fw/v1/T.ift") + ",COM1," + pty +
                  ",ftdi_sio,0403:6001,A10K3XQ2,9600,9600,ok,0,0x0070,0x0070");
    EXPECT_EQ(QString(app.read("app/qarn-history.csv")).section("\r\n", 1, 1).section(',', 16),
              Sha256("k") + "," + Sha256("p"));
}

// What the doctor and E301/E331 say on Windows of port N, from the Win32 error of opening
// \\.\COMN, and of an FTDI latency timer kept in the device's settings.
TEST(QarnctlWindowsTexts, APortIsNamedByTheErrorOfItsOpenAndASlowTimerGetsTheDeviceManagerSteps) {
    const std::tuple<int, unsigned long, const char *, const char *> rows[] = {
        {3, 0, "", "COM3 (\\\\.\\COM3 opened)|||"},
        {5, 2, "The system cannot find the file specified.",
         "COM5||port 5: no COM5 (\\\\.\\COM5: Win32 error 2, The system cannot find the file "
         "specified.)|plug the adapter in; Device Manager (Ports (COM & LPT)) names"},
        {4, 5, "Access is denied.",
         "COM4 (\\\\.\\COM4 is there, held open)|COM4 is held by another program "
         "(\\\\.\\COM4: Win32 error 5, Access is denied.)||close the port in that program"},
        {6, 31, "A device attached to the system is not functioning.",
         "COM6||port 6: COM6 did not open (\\\\.\\COM6: Win32 error 31, A device attached to the "
         "system is not functioning.)|plug the adapter in again"}};
    for (const auto &[number, error, text, expected] : rows) {
        const PortLookup found = ComPortLookup(number, error, text);
        const QString said =
            found.where + '|' + found.held + '|' + found.problem + '|' + found.remedy;
        EXPECT_TRUE(said.startsWith(expected)) << qPrintable(said);
        EXPECT_EQ(found.device.isEmpty(), !found.problem.isEmpty());
    }
    EXPECT_EQ(WindowsLatencyAdvice("COM7", 16),
              "set the latency timer to 1 ms in Device Manager: Ports (COM & LPT) > COM7 > "
              "Properties > Port Settings > Advanced > Latency Timer (msec): 1, then unplug the "
              "adapter and plug it in again (it takes an administrator; where it stays at 16 ms, "
              "put STREAM 1 in QARN.ini: the kernel then goes streamed, several bytes in flight)");
}

} // namespace
