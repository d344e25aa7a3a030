// The settings reader, the firmware description reader and the protected form, fed with bytes
// through their cores; then the file edge of every reader, with real files.

#include "host_conf.h"
#include "host_files.h"
#include "ift_file.h"
#include "ift_protect.h"
#include "platform_files.h"
#include "settings.h"
#include "temp_app_dir.h"
#include "text_file.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QString n(double v) {
    return QString::number(v);
}

// A file the description names, as this system's file names match: found in its own case on
// Linux, and as the description writes it where any case matches (Windows, its separators).
QString shown(const QString &path) {
    return kNamesMatchInAnyCase ? QDir::fromNativeSeparators(path).toLower() : path;
}

// Every value a reader sets, as "name=value" words; paths relative to the application folder.
QString values() {
    const QString to = QStringList{n(gAdjustTimeout),   n(gEraseTimeout), n(gStatusTimeout),
                                   n(gTransferTimeout), n(gDataTimeout),  n(gWriteTimeout)}
                           .join(u',');
    // clang-format off
    const QStringList v = {
        "err=" + n(gErrNo) + u'/' + n(gRunErrNo), "key=" + gErrKey, "file=" + gErrFileName,
        "lang=" + n(gLangBase), "port=" + gPort, "proto=" + n(gPrototype), "br=" + gBitRate,
        "br2=" + gBitRate2, "dl=" + gDataBits, "par=" + gParity, "stop=" + gStopBits,
        "pk=" + n(gPacketSize), "blank=" + n(gSendBlankBlocks), "to=" + to, "ut=" + gWaitTime,
        "setup=" + gSetupInfo, "csl=" + gCmdConsole, "trace=" + n(gTrace), "seq=" + n(gSeqType),
        "stream=" + n(gStreamKernel), "history=" + n(gHistory),
        "df=" + shown(gIrdFile), "pfn=" + shown(gPrgFile), "ucs=" + gIrdCheckSum, "fsa=" + gFlashStart,
        "fea=" + gFlashEnd, "fcs=" + gFlashCheckSum};
    // clang-format on
    const QString text = u' ' + v.join(u' ') + u' ';
    const auto anyCase = kNamesMatchInAnyCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return gAppDir.isEmpty() ? text : QString(text).replace(gAppDir + u'/', QString(), anyCase);
}

// Each word of `want` must stand in the values.
void expectValues(const QString &want, const QByteArray &in) {
    const QString got = values();
    for (const QString &word : want.split(u' '))
        EXPECT_TRUE(got.contains(u' ' + word + u' '))
            << word.toStdString() << " not in" << got.toStdString() << "\nfor "
            << in.left(70).toStdString();
}

TEST(Settings, LinesSetTheValuesTheirKeysName) {
    QByteArray junk;
    for (int i = 0; i < 5000; ++i)
        junk.append(char((i * 73 + 11) % 256));
    // clang-format off
    const std::pair<QByteArray, const char *> rows[] = {
        {"", "err=0/0 lang=0 port= proto=0 br=9600 par=N pk=512 trace=0 stream=0 history=1"},
        {"HISTORY 00", "history=0"}, {"history &h0", "history=0"}, {"HISTORY 2", "history=1"}, {"HISTORY off", "history=1"},
        {"STREAM 1 ; streamed kernel", "stream=1 stop=1"}, {"STREAM 01\r\nSTREAMS 1", "stream=0"},
        {"language 1\r\nPORT 3 ; the adapter\r\nCMDCSL 1\r\nTRACE 1", "lang=100 port=3 csl=1 trace=1"},
        {"LANGUAGE abc\r\n PORT 3\r\nPORT=4", "lang=0 port="}, {"LANGUAGE 99999999\r\nPORT 3\r\nPORT 5", "lang=0 port=5"},
        {"PARITY E", "par=N"}, {"PARITY 2", "par=E"}, {"DPARITY 1", "par=O"}, {"PARI 2", "par=E"},
        {"BRATE 19200", "br=19200 br2=19200"}, {"DBRATE 19200", "br=19200 br2=19200"},
        {"BAUD 19200", "br=19200 br2=9600"}, {"BAUD 09600", "br=9600"}, {"BRATE 09600", "br=09600"},
        {"DSTO 5\r\nDETO 60", "to=5,60,5,5,5,5"}, {"DSTO 2.5", "to=2.5,90,2.5,2.5,2.5,2.5"},
        {"DSTO\r\nDETO x", "to=10,90,10,10,10,10"}, {"NDTCD 01", "blank=0"}, {"NDTCD 1", "blank=1"},
        {"PARITY\r\nDLEN\r\nPDSIZE", "par=N dl= pk=512"}, {"DLENGTH 07", "dl=7"}, {"DDLENGTH 70000", "dl=8"},
        {"DLEN 7", "dl=7"}, {"DPDSIZE 256", "pk=256"}, {"PIZE 128\r\nPDSIZE x", "pk=128"}, {"STOP 2", "stop=2"},
        {"SBIT 2", "stop=2"}, {"DSBIT 1.5", "stop=1.5"}, {"PROTOTYPE 9", "proto=9"},
        {"prototype 1\nlanguage 1\rport 2", "proto=1 lang=100 port=2"}, {junk + "\r\nLANGUAGE 1\r\n", "err=0/0 lang=100"},
        {"LANGUAGE 1\r\nPROTOTYPE 1\r\nPORT " + QByteArray(40000, 'x'), "err=139/6 lang=0 proto=0 file=F"},
    };
    // clang-format on
    for (const auto &[in, want] : rows) {
        ResetSharedState(), SetDefaultSettings();
        gErrFileName = QStringLiteral("F");
        const bool ok = QARNIniFromBytes(in);
        EXPECT_EQ(ok, gErrNo == 0);
        expectValues(want, in);
    }
}

// A firmware folder in lower case, as a copy from a Windows share often is.
const QByteArray kDescription = "CPUT 5\r\nDF KERNEL.BIN\r\nUT 2.50\r\nUCS 1a2b\r\nPFN prog.mot\r\n"
                                "FSA 00000000\r\nFEA 0003ffff\r\nFCS 9f3c ; flash checksum\r\n";
const QByteArray kSettings = "LANGUAGE 1\r\nPORT 3\r\nDBRATE 4800\r\nDSTO 7\r\nDETO 60\r\n";

// The protected form built here without the tool's packer: each byte plus A[a] plus B[b].
QByteArray protect(const QByteArray &plain, const char *keyA, const char *keyB) {
    const QByteArray a = QByteArray::fromHex(keyA), b = QByteArray::fromHex(keyB);
    QByteArray out(256, '\x5a');
    out.replace(12, 8, QByteArray::fromHex("5B21E07C94D3A6F8"));
    out.replace(212, 16, QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    out.replace(120, 5, a).replace(36, 4, b);
    for (int i = 0, j = 0, k = 0; i < plain.size(); ++i, ++j, ++k) {
        j = a[j] == 0 ? 0 : j;
        k = b[k] == 0 ? 0 : k;
        out.append(char(plain[i] + a[j] + b[k]));
    }
    return out;
}

class Description : public ::testing::Test {
protected:
    void SetUp() override {
        app.write("store/v1/kernel.bin", "k");
        app.write("store/v1/prog.mot", "p");
        app.write("store/v1/sub/kernel-a.bin", "k");
        app.write("store/v1/sub/prog_b.mot", "p");
        QDir().mkpath(app.filePath("store/v1/dir"));
    }
    // Reads a description the way the reader does: defaults, QARN.ini, then the description.
    bool read(const QByteArray &text, const QByteArray &settings = kSettings) {
        SetDefaultSettings();
        EXPECT_TRUE(QARNIniFromBytes(settings));
        return IftFromBytes(app.filePath("store/v1/FW.ift"), text);
    }
    TempAppDir app;
};

TEST_F(Description, LinesSetTheValuesADownloadUses) {
    struct Row {
        QByteArray lines; // after kDescription, or alone when `alone`
        const char *want;
        QByteArray settings = kSettings;
        bool alone = false;
    };
    // clang-format off
    const Row rows[] = {
        {"PDSIZE 256", "err=0/0 key= file= seq=2 df=store/v1/kernel.bin pfn=store/v1/prog.mot "
                       "ucs=1A2B fsa=00000000 fea=0003FFFF fcs=9F3C ut=2.5 pk=256 lang=100 to=7,60,7,7,7,7"},
        {"CPUT 0", "err=123/0 key=DF file=store/v1/FW.ift seq=0 df= pfn= ucs= fcs=", kSettings, true},
        {"ATO 0F\r\nETO 5A\r\nSTO 1E\r\nTTO a\r\nDTO 15\r\nWTO 0", "to=15,90,30,10,21,0"},
        {"ATO +1E\r\nSTO 0X1E\r\nETO 1E\r\nTTO &H10\r\nDTO\r\nWTO ZZ", "to=7,30,7,7,7,7"},
        {"BSZ 400\r\nCPUT 0", "seq=0"}, {"CPUT 1", "seq=1"}, {"CPUT 2", "seq=1"}, {"CPUT 3", "seq=0"},
        {"CPUT 4", "seq=1"}, {"CPUT &H6", "seq=3"}, {"CPUT 7", "key=CPUT"}, {"CPUT -1", "key=CPUT"},
        {"CPUT 9\r\n" + kDescription.mid(8), "err=123/0 key=CPUT seq=0", kSettings, true},
        {"CPUT", "key=CPUT"}, {"BRATE 19200", "br=19200 br2=19200"}, {"BRATE2 38400", "br=4800 br2=38400"},
        {"BRATE 19200\r\nBRATE2 38400", "br=19200 br2=38400"}, {"BRATE2 38400\r\nBRATE 19200", "br=19200 br2=19200"},
        {"BAUD 019200", "br=19200 br2=4800"}, {"BRATE 019200", "br=019200"},
        {"PARITY E\r\nDLENGTH 07\r\nSBIT 2", "par=N dl=7 stop=2"}, {"PARI 1\r\nDLEN 6\r\nSTOP 1.5", "par=O dl=6 stop=1.5"},
        {"PIZE 128\r\nNDTCD 1\r\nSETUPINFO 0\r\nUT abc", "pk=128 blank=1 setup=0 ut=2.5"}, {"NDTCD 01\r\nUT 4", "blank=0 ut=4"},
        {"UT 600", "err=0/0 ut=600"}, {"UT 1E30", "err=123/0 key=UT file=store/v1/FW.ift"}, {"UT 600.01", "key=UT"}, {"UT -1", "key=UT"}, {"UT 1E39", "key=UT"},
        {"PROTOTYPE 9\r\nLANGUAGE 0\r\nPORT 7\r\nDPDSIZE 0", "err=0/0 proto=0 lang=100 port=3 pk=512"},
        {"DF", "err=123/0 key=DF"}, {"UCS 12345", "key=UCS"}, {"UCS 12G4", "key=UCS"}, {"PFN", "key=PFN"},
        {"FSA 0000000", "key=FSA"}, {"FSA 000000000", "key=FSA"}, {"FEA 0003FFFX", "key=FEA"}, {"FCS", "key=FCS"},
        {"FCS -1", "key=FCS"}, {"FCS 12345", "key=FCS"}, {"FSA 00040000", "key=FSA"}, {"PIZE 32768", "key=PIZE"}, {"PDSIZE -512", "key=PDSIZE"},
        {"PDSIZE 0", "key=PDSIZE file=store/v1/FW.ift"}, {"FSA 0003FFFF\r\nUCS F\r\nPDSIZE 32767", "err=0/0 key="},
        {"DF NONE.BIN\r\nFCS XYZ", "err=123/0 key=FCS"},
        {"", "err=123/0 key=DPDSIZE file=QARN.ini", "DPDSIZE 0"},
        {"PDSIZE abc", "err=123/0 key=PIZE file=QARN.ini", "PIZE 40000"},
        {"PDSIZE 256", "err=0/0 pk=256", "PIZE 0"},
        {"DF NONE.BIN", "err=121/0 file=store/v1/FW.ift"}, {"PFN NONE.MOT", "err=122/0 file=store/v1/FW.ift"},
        {"DF DIR", "err=121/0"}, {"DF NONE.BIN\r\nPFN NONE.MOT", "err=0/0 proto=9", "PROTOTYPE 9"},
        {"DF NONE.BIN", "err=121/0", "PROTOTYPE 1"},
        {"DF sub\\kernel-a.bin\r\nPFN Sub\\Prog_B.mot", "err=0/0 df=store/v1/sub/kernel-a.bin pfn=store/v1/sub/prog_b.mot"},
        {"DF sub/KERNEL-A.BIN", "err=0/0 df=store/v1/sub/kernel-a.bin"},
        {"REM " + QByteArray(32764, 'x'), "err=129/6 file=store/v1/FW.ift"}, {"REM " + QByteArray(32763, 'x'), "err=0/0"},
        {protect("CPUT", "0102030400", "01010101") + "\x55", "err=120/9 file=store/v1/FW.ift", kSettings, true},
    };
    // clang-format on
    for (const Row &row : rows) {
        const QByteArray text = row.alone ? row.lines : kDescription + row.lines;
        const bool ok = read(text, row.settings);
        EXPECT_EQ(ok, gErrNo == 0);
        expectValues(row.want, text);
    }
}

TEST_F(Description, ProtectedAndPlainFormsGiveTheSameValues) {
    const QByteArray text = kDescription + "PDSIZE 256\r\n";
    ASSERT_TRUE(read(text));
    EXPECT_FALSE(IftFileWasProtected());
    const QString plain = values();
    // clang-format off
    const char *keys[][2] = {{"0102030400", "10200000"}, {"0000000000", "00000000"},
                             {"7F7F7F7F00", "00FF0000"}, {"FF00000000", "C0C0C000"}};
    // clang-format on
    for (const auto &k : keys) {
        ASSERT_TRUE(read(protect(text, k[0], k[1])));
        EXPECT_TRUE(IftFileWasProtected());
        EXPECT_EQ(values(), plain);
        QRandomGenerator rng(5);
        ASSERT_TRUE(
            read(*PackIft(text, QByteArray::fromHex(k[0]), QByteArray::fromHex(k[1]), rng)));
        EXPECT_EQ(values(), plain);
    }
    // 256 bytes are plain text even with both markers; a longer file with a marker off is plain
    // text from its first byte.
    QByteArray file = protect("", "0000000000", "00000000");
    const QByteArray lines = "CPUT 6\r\nDF kernel.bin\r\nPFN prog.mot\r\nUCS 1\r\nFSA 00000000\r\n"
                             "FEA 00000001\r\nFCS 2\r\n";
    file.replace(0, 3, "X\r\n").replace(20, 3, " \r\n").replace(23, lines.size(), lines);
    ASSERT_TRUE(read(file));
    EXPECT_FALSE(IftFileWasProtected());
    file[19] = char(file[19] ^ 1);
    ASSERT_TRUE(read(file + "\r\nFCS 77\r\n"));
    EXPECT_FALSE(IftFileWasProtected());
    expectValues("seq=3 fcs=77", file);
}

TEST(ProtectedForm, UnpackingSubtractsBothKeyTablesCyclingAtTheirZeros) {
    // clang-format off
    const char *rows[][4] = { // key A, key B, packed text, plain text ("-": the table runs out)
        {"0102030400", "10200000", "547268783157202E", "4350555420350D0A"},
        {"F000000000", "20000000", "0010FF", "F000EF"}, {"0500000000", "01000000", "57", "51"},
        {"0011000000", "00000000", "4152415241", "4141414141"},
        {"0000000000", "00556677", "4196A7B8", "41414141"}, {"0000000000", "00556677", "4196A7B841", "-"},
        {"0102030400", "01010101", "42434445", "40404040"}, {"0102030400", "01010101", "4243444546", "-"},
        {"0101010101", "00000000", "4141414141", "4040404040"}, {"0101010101", "00000000", "414141414141", "-"},
    };
    // clang-format on
    for (const auto &r : rows) {
        const auto plain = UnpackIft(protect("", r[0], r[1]) + QByteArray::fromHex(r[2]));
        EXPECT_EQ(plain ? plain->toHex().toUpper() : "-", QByteArray(r[3]).toUpper()) << r[2];
    }
    const QByteArray good = protect("x", "0000000000", "00000000");
    QByteArray badA = good, badB = good;
    badA[19] = char(0xF9);
    badB[212] = char(0x3E);
    EXPECT_EQ(QList<bool>({IsProtectedIft(good), IsProtectedIft(good.left(256)),
                           IsProtectedIft(badA), IsProtectedIft(badB), IsProtectedIft(' ' + good)}),
              QList<bool>({true, false, false, false, false}));
}

TEST(ProtectedForm, PackingWritesTheHeaderAndGivesEveryByteBack) {
    QRandomGenerator rng(7), other(8);
    const QByteArray a = QByteArray::fromHex("0102030400"), b = QByteArray::fromHex("10200000");
    const auto packed = PackIft("CPUT 5\r\n", a, b, rng);
    ASSERT_TRUE(packed);
    const QByteArray hand = protect("CPUT 5\r\n", "0102030400", "10200000");
    for (const auto &[at, size] : {std::pair{12, 8}, {36, 4}, {120, 5}, {212, 16}, {256, 8}})
        EXPECT_EQ(packed->mid(at, size).toHex(), hand.mid(at, size).toHex()) << at;
    EXPECT_NE(packed->left(12), PackIft("CPUT 5\r\n", a, b, other)->left(12));
    const char *refused[][2] = {{"0102030405", "10200000"}, {"0102030400", "10203040"},
                                {"01020300", "10200000"},   {"0102030400", "1020300000"},
                                {"0011223344", "10200000"}, {"0102030400", "00112233"}};
    for (const auto &k : refused)
        EXPECT_FALSE(PackIft("x", QByteArray::fromHex(k[0]), QByteArray::fromHex(k[1]), rng))
            << k[0];
    EXPECT_FALSE(PackIft("", a, b, rng));
    QByteArray plain;
    for (int i = 0; i < 1000; ++i)
        plain.append(char(rng.bounded(256)));
    for (const char *k : {"0000000000", "FF00FF00FF", "0A0B0C0D00", "8000000000"}) {
        const QByteArray key = QByteArray::fromHex(k);
        EXPECT_EQ(UnpackIft(*PackIft(plain, key, key.left(3) + '\0', rng)), plain) << k;
    }
}

class ClearedTree : public FirmTreeSink {
public:
    void clear() override { cleared = true; }
    bool addNode(const QString &, const QString &, const QString &) override { return true; }
    void expandAll() override {}
    bool cleared = false;
};

// The file edge of every reader: a missing file, a folder or a pipe in its place, a file too
// large, and a good file whose bytes reach the core.
TEST(FileEdge, FindsOpensAndReadsTheFileOrGivesItsErrorNumberAndCode) {
    TempAppDir app;
    app.write("store/kernel.bin", "k");
    app.write("store/prog.mot", "p");
    ClearedTree tree;
    const QString ift = app.filePath("store/FW.ift");
    const std::tuple<const char *, std::function<bool()>, int, int, QByteArray> readers[] = {
        {"torvane.ini", [] { return ReadHostIni() == 0; }, 100, 109, "lang JP"},
        {"torvane.cha", [] { return ReadHostCha() == 0; }, 110, 119,
         "MAIN SET\r\nFdir F\r\nSelectedModel M\r\nSelectedPCB B"},
        {"FirmDesc.txt", [] { return ReadFirmDesc() == 0; }, 140, 149, "TGBN B"},
        {"torvane.conf", [&] { return ReadHostConf(tree) == 0; }, 160, 169, "machine=M"},
        {"store/FW.ift", [&] { return ReadIftFile(ift); }, 120, 120,
         protect(kDescription, "0102030400", "10200000")},
        {"QARN.ini", ReadQARNIni, 130, 139, "LANGUAGE 1"},
    };
    app.write("QARN.ini", "LANGUAGE 1");
    for (const auto &[name, read, missing, other, good] : readers) {
        const QString path = app.filePath(name);
        const bool description = missing == 120;
        QFile::remove(path);
        const std::tuple<int, int, int> cases[] = {
            {missing, description ? 53 : 0, 0}, {other, 75, 1}, {other, 75, 2}, {other, 7, 3}};
        for (const auto &[errNo, code, make] : cases) {
            if (make == 1)
                QDir().mkpath(path);
            if (make == 2) {
                ASSERT_TRUE(QDir().rmdir(path));
                if (!kHasFifos)
                    continue;
                ASSERT_TRUE(MakeFifo(path));
            }
            if (make == 3)
                QFile::remove(path), app.write(name, QByteArray(17 * 1024 * 1024, '\n'));
            EXPECT_FALSE(read());
            EXPECT_EQ(QStringList({n(gErrNo), n(gRunErrNo), gErrFileName}),
                      QStringList({n(errNo), n(code), path}))
                << name << " case " << make;
        }
        if (description) // a plain copy an older version left behind goes with the read
            app.write("TmpFile", "CPUT 9");
        app.write(name, good);
        EXPECT_TRUE(read()) << name;
        EXPECT_EQ(QStringList({n(gErrNo), gErrFileName}), QStringList({"0", ""})) << name;
    }
    EXPECT_EQ(QStringList({gLangList.join(u' '), gSelectedPcb, gTgbnList.join(u' '), n(gSeqType),
                           n(gLangBase), n(tree.cleared), n(app.exists("TmpFile"))}),
              QStringList({"JP", "B", " B", "2", "100", "1", "0"}));
    ASSERT_EQ(OpenIftFile(ift), 0);
    EXPECT_EQ(IftFilePlainText(), kDescription);
    // A failed open leaves nothing of the description open before it.
    EXPECT_EQ(OpenIftFile(app.filePath("no.ift")), 99);
    EXPECT_EQ(QList<qsizetype>({IftFilePlainText().size(), gRunErrNo}), QList<qsizetype>({0, 53}));
    app.write("bad.ift", protect("CPUT", "0102030400", "01010101") + "\x55");
    EXPECT_EQ(QList<qsizetype>({OpenIftFile(app.filePath("bad.ift")), gRunErrNo}),
              QList<qsizetype>({99, 9})); // its key table runs past its end
    CloseIftFile();
    QFile::remove(app.filePath("QARN.ini"));
    EXPECT_FALSE(ReadIftFile(ift));
    EXPECT_EQ(QStringList({n(gErrNo), gErrFileName}),
              QStringList({"130", app.filePath("QARN.ini")}));
    QByteArray bytes;
    EXPECT_EQ(QList<int>({ReadTextFile(app.filePath("no/x"), bytes), ReadTextFile("", bytes)}),
              QList<int>({76, 52}));
}

} // namespace
