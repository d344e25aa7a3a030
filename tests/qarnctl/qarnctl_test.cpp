#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
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

const QByteArray kDescription = "CPUT 6\r\n"
                                "DF kernel.bin\r\n"
                                "PFN PROG.MOT\r\n"
                                "UT 100\r\n"
                                "UCS 1a2b\r\n"
                                "FSA 00000000\r\n"
                                "FEA 0003FFFF\r\n"
                                "FCS 9F3C\r\n"
                                "ATO 0F\r\n"
                                "ETO 5A\r\n"
                                "STO 0\r\n"
                                "BRATE2 38400\r\n"
                                "PARITY 2\r\n"
                                "NDTCD 1\r\n"
                                "SETUPINFO 0\r\n";

class QarnctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.write("app/QARN.ini", "LANGUAGE 1\r\nDSTO 2.5\r\nDPDSIZE 1024\r\n");
        app.write("fw/v1/Kernel.bin", "k");
        app.write("fw/v1/prog.mot", "p");
        app.write("fw/v1/FW.ift", kDescription);
    }
    QString path(const QString &name) const { return app.filePath(name); }
    Outcome check(const QString &ift) {
        return qarnctl({"check", "--app-dir", path("app"), path(ift)});
    }

    TempAppDir app;
};

TEST_F(QarnctlTest, CheckPrintsEveryValueInOrder) {
    const Outcome r = check("fw/v1/FW.ift");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString expected = "gSeqType=3\n"
                             "gIrdFile=" +
                             path("fw/v1/Kernel.bin") +
                             "\n"
                             "gPrgFile=" +
                             path("fw/v1/prog.mot") +
                             "\n"
                             "gIrdCheckSum=1A2B\n"
                             "gFlashStart=00000000\n"
                             "gFlashEnd=0003FFFF\n"
                             "gFlashCheckSum=9F3C\n"
                             "gBitRate=9600\n"
                             "gBitRate2=38400\n"
                             "gDataBits=8\n"
                             "gParity=E\n"
                             "gStopBits=1\n"
                             "gPacketSize=1024\n"
                             "gSendBlankBlocks=1\n"
                             "gWaitTime=100\n"
                             "gAdjustTimeout=15\n"
                             "gEraseTimeout=90\n"
                             "gStatusTimeout=0\n"
                             "gTransferTimeout=2.5\n"
                             "gDataTimeout=2.5\n"
                             "gWriteTimeout=2.5\n"
                             "gSetupInfo=0\n"
                             "protected=0\n";
    EXPECT_EQ(r.out, expected);
}

TEST_F(QarnctlTest, PackedDescriptionChecksTheSameAsThePlainOne) {
    const Outcome pack = qarnctl({"pack", "--key-a", "0a0b0c0d00", "--key-b", "11220000",
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
    EXPECT_TRUE(plain.out.endsWith("\nprotected=0\n"));
}

TEST_F(QarnctlTest, CheckRefusalPrintsTheErrorNumberAndText) {
    struct Case {
        const char *name;
        QByteArray text; // empty: no description file at all
        QString expected;
    };
    const QString file = "  File name: " + path("fw/v1/X.ift") + "\n";
    const Case cases[] = {
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path("fw/v1/X.ift"));
        if (!c.text.isEmpty())
            app.write("fw/v1/X.ift", c.text);
        const Outcome r = check("fw/v1/X.ift");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, c.expected);
    }
}

TEST_F(QarnctlTest, CheckWithoutSettingsFileIs130InJapanese) {
    QFile::remove(path("app/QARN.ini"));
    const Outcome r = check("fw/v1/FW.ift");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "E130\n指定されたファイルがオープンできませんでした。\n  ファイル名: " +
                         path("app/QARN.ini") + "\n");
}

TEST_F(QarnctlTest, HelpAndUsageErrors) {
    const std::pair<QStringList, int> cases[] = {
        {{"check", "--help"}, 0},
        {{"pack", "--help"}, 0},
        {{"check"}, 2},
        {{"check", "--app-dir"}, 2},
        {{"check", "--bogus", "a.ift"}, 2},
        {{"check", "a.ift", "b.ift"}, 2},
        {{"pack", "--key-a", "0102030400", "in"}, 2},
        {{"pack", "--key-a", "0102030400", "--key-b", "10200000", "in"}, 2},
        {{"pack", "--key-a", "0102030405", "--key-b", "10200000", "in", "out"}, 2},
        {{"pack", "--key-a", "0102030400", "--key-b", "10203040", "in", "out"}, 2},
        {{"pack", "--key-a", "0011223344", "--key-b", "10200000", "in", "out"}, 2},
        {{"pack", "--key-a", "01020304", "--key-b", "10200000", "in", "out"}, 2},
        {{"pack", "--key-a", "01020304zz", "--key-b", "10200000", "in", "out"}, 2},
    };
    for (const auto &[args, code] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome r = qarnctl(args);
        EXPECT_EQ(r.exitCode, code);
        if (code == 0)
            EXPECT_TRUE(r.out.startsWith("usage: qarnctl " + args.first()));
        else
            EXPECT_TRUE(r.err.contains("usage: qarnctl " + args.first()));
    }
}

TEST_F(QarnctlTest, PackRefusesWithoutTouchingTheOutput) {
    app.write("out.ift", "old");
    app.write("empty.txt", "");
    const Outcome first = qarnctl({"pack", "--key-a", "0102030400", "--key-b", "10200000",
                                   path("fw/v1/FW.ift"), path("packed.ift")});
    ASSERT_EQ(first.exitCode, 0);
    QDir().mkpath(path("folder.ift"));
#ifdef Q_OS_UNIX
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.ift")).constData(), 0600), 0);
#endif
    const QString ins[] = {path("none.txt"), path("empty.txt"), path("packed.ift"),
                           path("folder.ift"), path("pipe.ift")};
    for (const QString &in : ins) {
        SCOPED_TRACE(in.toStdString());
        const Outcome r =
            qarnctl({"pack", "--key-a", "0102030400", "--key-b", "10200000", in, path("out.ift")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(app.read("out.ift"), QByteArray("old"));
    }
    const Outcome noFolder = qarnctl({"pack", "--key-a", "0102030400", "--key-b", "10200000",
                                      path("fw/v1/FW.ift"), path("nowhere/out.ift")});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(path("nowhere")));
}

} // namespace
