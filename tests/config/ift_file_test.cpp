#include "ift_file.h"
#include "ift_protect.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRandomGenerator>
#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// A firmware folder in lower case, as a copy from a Windows share often is.
const QByteArray kCore = "CPUT 5\r\n"
                         "DF KERNEL.BIN\r\n"
                         "UT 2.50\r\n"
                         "UCS 1a2b\r\n"
                         "PFN prog.mot\r\n"
                         "FSA 00000000\r\n"
                         "FEA 0003ffff\r\n"
                         "FCS 9f3c ; flash checksum\r\n";
const QByteArray kDescription = kCore + "ATO 0F\r\nETO 5A\r\nPDSIZE 256\r\n";

class IftFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.write("QARN.ini", "LANGUAGE 1\r\nPORT 3\r\n");
        app.write("store/v1/kernel.bin", "k");
        app.write("store/v1/prog.mot", "p");
    }
    QString ift(const QString &name = "FW.ift") const { return app.filePath("store/v1/" + name); }
    bool read(const QByteArray &text, const QString &name = "FW.ift") {
        app.write("store/v1/" + name, text);
        return ReadIftFile(ift(name));
    }

    TempAppDir app;
};

// Every value a download takes from a description, one line each.
QStringList snapshot() {
    return {QString::number(gSeqType),
            gIrdFile,
            gPrgFile,
            gIrdCheckSum,
            gFlashStart,
            gFlashEnd,
            gFlashCheckSum,
            gBitRate,
            gBitRate2,
            gDataBits,
            gParity,
            gStopBits,
            QString::number(gPacketSize),
            QString::number(gSendBlankBlocks),
            gWaitTime,
            QString::number(gAdjustTimeout),
            QString::number(gEraseTimeout),
            QString::number(gStatusTimeout),
            QString::number(gTransferTimeout),
            QString::number(gDataTimeout),
            QString::number(gWriteTimeout),
            gSetupInfo};
}

// The protected form built here without the tool's packer: each byte plus A[a] plus B[b].
QByteArray protectByHand(const QByteArray &plain, const QByteArray &keyA, const QByteArray &keyB) {
    QByteArray out(256, '\x5a');
    out.replace(12, 8, QByteArray::fromHex("5B21E07C94D3A6F8"));
    out.replace(212, 16, QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    out.replace(120, 5, keyA);
    out.replace(36, 4, keyB);
    int a = 0, b = 0;
    for (const char c : plain) {
        if (keyA[a] == 0)
            a = 0;
        if (keyB[b] == 0)
            b = 0;
        out.append(char((uchar(c) + uchar(keyA[a]) + uchar(keyB[b])) & 0xFF));
        ++a;
        ++b;
    }
    return out;
}

TEST_F(IftFileTest, ReadsEveryKeyOfAPlainDescription) {
    ASSERT_TRUE(read(kDescription));
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gErrFileName, QString());
    EXPECT_EQ(gSeqType, 2);
    EXPECT_EQ(gIrdFile, app.filePath("store/v1/kernel.bin"));
    EXPECT_EQ(gPrgFile, app.filePath("store/v1/prog.mot"));
    EXPECT_EQ(gIrdCheckSum, "1A2B");
    EXPECT_EQ(gFlashStart, "00000000");
    EXPECT_EQ(gFlashEnd, "0003FFFF");
    EXPECT_EQ(gFlashCheckSum, "9F3C");
    EXPECT_EQ(gWaitTime, "2.5");
    EXPECT_EQ(gAdjustTimeout, 15.0f);
    EXPECT_EQ(gEraseTimeout, 90.0f);
    EXPECT_EQ(gPacketSize, 256);
    EXPECT_FALSE(IftFileWasProtected());
    EXPECT_EQ(gLangBase, 100); // QARN.ini was read again
}

TEST_F(IftFileTest, ProtectedAndPlainFormsGiveIdenticalValues) {
    ASSERT_TRUE(read(kDescription));
    const QStringList plain = snapshot();
    const char *keys[][2] = {
        {"0102030400", "10200000"}, // A repeats four bytes, B two
        {"0000000000", "00000000"}, // both contribute nothing
        {"7F7F7F7F00", "00FF0000"}, // B alternates 00 and FF
        {"FF00000000", "C0C0C000"}, // A repeats one byte, B three
    };
    for (const auto &k : keys) {
        SCOPED_TRACE(std::string(k[0]) + " " + k[1]);
        const QByteArray a = QByteArray::fromHex(k[0]);
        const QByteArray b = QByteArray::fromHex(k[1]);
        ASSERT_TRUE(read(protectByHand(kDescription, a, b), "HAND.ift"));
        EXPECT_TRUE(IftFileWasProtected());
        EXPECT_EQ(snapshot(), plain);

        QRandomGenerator rng(5);
        ASSERT_TRUE(read(*PackIft(kDescription, a, b, rng), "PACKED.ift"));
        EXPECT_EQ(snapshot(), plain);
    }
}

TEST_F(IftFileTest, HeaderSizedFileIsPlainEvenWithBothMarkers) {
    QByteArray file(256, ' ');
    file.replace(0, 3, "X\r\n");
    file.replace(12, 8, QByteArray::fromHex("5B21E07C94D3A6F8"));
    file.replace(20, 3, " \r\n");
    const QByteArray text = "CPUT 6\r\nDF kernel.bin\r\nPFN prog.mot\r\nUCS 1\r\n"
                            "FSA 00000000\r\nFEA 00000001\r\nFCS 2\r\n";
    file.replace(23, text.size(), text);
    file.replace(212, 16, QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    ASSERT_EQ(file.size(), 256);
    ASSERT_TRUE(read(file));
    EXPECT_FALSE(IftFileWasProtected());
    EXPECT_EQ(gSeqType, 3);
}

TEST_F(IftFileTest, OneByteMoreThanAHeaderIsUnpacked) {
    const QByteArray file =
        protectByHand("Q", QByteArray::fromHex("0500000000"), QByteArray::fromHex("01000000"));
    ASSERT_EQ(file.size(), 257);
    app.write("store/v1/ONE.ift", file);
    ASSERT_EQ(OpenIftFile(ift("ONE.ift")), 0);
    EXPECT_TRUE(IftFileWasProtected());
    EXPECT_EQ(IftFilePlainText(), QByteArray("Q"));
    CloseIftFile();
    EXPECT_EQ(IftFilePlainText(), QByteArray());
}

TEST_F(IftFileTest, MismatchedMarkersAreReadAsPlainFromTheFirstByte) {
    const QByteArray markerA = QByteArray::fromHex("5B21E07C94D3A6F8");
    const QByteArray markerB = QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62");
    const QByteArray wrongA = QByteArray::fromHex("5B21E07C94D3A6F9");
    const QByteArray wrongB = QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E63");
    const QByteArray pairs[][2] = {{markerA, wrongB}, {wrongA, markerB}, {wrongA, wrongB}};
    for (const auto &m : pairs) {
        QByteArray file = "CPUT 6 ;;;;;" + m[0] + " \r\n" + kDescription.mid(8);
        ASSERT_LT(file.size(), 212);
        file.append(QByteArray(212 - file.size(), ' '));
        file += m[1] + "\r\n" + QByteArray(40, ' ') + "\r\nFCS 77\r\n";
        ASSERT_GT(file.size(), 256);
        ASSERT_TRUE(read(file));
        EXPECT_FALSE(IftFileWasProtected());
        EXPECT_EQ(gSeqType, 3);          // the line at byte 0
        EXPECT_EQ(gFlashCheckSum, "77"); // a line after the header region
    }
}

TEST_F(IftFileTest, KeyTableWithoutZeroCannotBeOpened) {
    const QByteArray file = protectByHand("CPUT", QByteArray::fromHex("0102030400"),
                                          QByteArray::fromHex("01010101")) +
                            "\x55"; // the fifth packed byte needs B[4]
    EXPECT_FALSE(read(file));
    EXPECT_EQ(gErrNo, 120);
    EXPECT_EQ(gRunErrNo, 9);
    EXPECT_EQ(gErrFileName, ift());
}

TEST_F(IftFileTest, TimeOutsAreHexadecimalSeconds) {
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"ATO 0F", [] { EXPECT_EQ(gAdjustTimeout, 15.0f); }},
        {"ETO 5A", [] { EXPECT_EQ(gEraseTimeout, 90.0f); }},
        {"STO 1E", [] { EXPECT_EQ(gStatusTimeout, 30.0f); }},
        {"TTO a", [] { EXPECT_EQ(gTransferTimeout, 10.0f); }},
        {"DTO 15", [] { EXPECT_EQ(gDataTimeout, 21.0f); }},
        {"WTO 0", [] { EXPECT_EQ(gWriteTimeout, 0.0f); }},
        {"ATO ZZ", [] { EXPECT_EQ(gAdjustTimeout, 7.0f); }},   // unchanged: DSTO of QARN.ini
        {"ATO &H10", [] { EXPECT_EQ(gAdjustTimeout, 7.0f); }}, // no prefix of its own
        {"ATO", [] { EXPECT_EQ(gAdjustTimeout, 7.0f); }},
        {"REM", [] { EXPECT_EQ(gStatusTimeout, 7.0f); }}, // no STO: the DSTO of QARN.ini
        {"BSZ 400", [] { EXPECT_EQ(gEraseTimeout, 60.0f); }},
    };
    app.write("QARN.ini", "DSTO 7\r\nDETO 60\r\n");
    for (const auto &[line, check] : cases) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(read(kCore + line + "\r\n"));
        check();
    }
}

TEST_F(IftFileTest, CputChoosesTheSequenceVariant) {
    const std::pair<const char *, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 1}, {"3", 0},
                                                  {"4", 1}, {"5", 2}, {"6", 3}, {"&H6", 3}};
    for (const auto &[cput, seq] : cases) {
        SCOPED_TRACE(cput);
        ASSERT_TRUE(read(kDescription + "CPUT " + cput + "\r\n"));
        EXPECT_EQ(gSeqType, seq);
    }
}

TEST_F(IftFileTest, CputWithoutASequenceVariantIsRefused) {
    const char *cases[] = {"CPUT 9\r\n", "CPUT 7\r\n", "CPUT -1\r\n", "CPUT X\r\n", "CPUT\r\n"};
    for (const char *line : cases) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(read(kDescription + line));
        EXPECT_EQ(gErrNo, 123);
        EXPECT_EQ(gErrKey, "CPUT");
        EXPECT_EQ(gErrFileName, ift());
    }
    EXPECT_FALSE(read(kDescription.mid(8))); // no CPUT line at all
    EXPECT_EQ(gErrKey, "CPUT");
}

TEST_F(IftFileTest, SerialKeysOverrideTheSettingsFile) {
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"BRATE 19200",
         [] {
             EXPECT_EQ(QStringList({gBitRate, gBitRate2}), QStringList({"19200", "19200"}));
         }},
        {"BRATE2 38400",
         [] {
             EXPECT_EQ(QStringList({gBitRate, gBitRate2}), QStringList({"4800", "38400"}));
         }},
        {"BRATE 19200\r\nBRATE2 38400",
         [] {
             EXPECT_EQ(QStringList({gBitRate, gBitRate2}), QStringList({"19200", "38400"}));
         }},
        {"BRATE2 38400\r\nBRATE 19200",
         [] {
             EXPECT_EQ(QStringList({gBitRate, gBitRate2}), QStringList({"19200", "19200"}));
         }},
        {"BAUD 019200",
         [] {
             EXPECT_EQ(QStringList({gBitRate, gBitRate2}), QStringList({"19200", "4800"}));
         }},
        {"BRATE 019200", [] { EXPECT_EQ(gBitRate, "019200"); }},
        {"PARITY E", [] { EXPECT_EQ(gParity, "N"); }},
        {"PARI 1", [] { EXPECT_EQ(gParity, "O"); }},
        {"DLENGTH 07", [] { EXPECT_EQ(gDataBits, "7"); }},
        {"DLEN 7", [] { EXPECT_EQ(gDataBits, "7"); }},
        {"SBIT 2", [] { EXPECT_EQ(gStopBits, "2"); }},
        {"PIZE 128", [] { EXPECT_EQ(gPacketSize, 128); }},
        {"NDTCD 1", [] { EXPECT_TRUE(gSendBlankBlocks); }},
        {"NDTCD 01", [] { EXPECT_FALSE(gSendBlankBlocks); }},
        {"SETUPINFO 0", [] { EXPECT_EQ(gSetupInfo, "0"); }},
        {"UT abc", [] { EXPECT_EQ(gWaitTime, "2.5"); }},
        {"UT 4", [] { EXPECT_EQ(gWaitTime, "4"); }},
        {"PROTOTYPE 9\r\nLANGUAGE 0\r\nPORT 7",
         [] {
             EXPECT_EQ(gPrototype, 0);
             EXPECT_EQ(gLangBase, 100);
             EXPECT_EQ(gPort, "3");
         }},
    };
    app.write("QARN.ini", "LANGUAGE 1\r\nPORT 3\r\nDBRATE 4800\r\n");
    for (const auto &[lines, check] : cases) {
        SCOPED_TRACE(lines);
        ASSERT_TRUE(read(kDescription + lines + "\r\n"));
        check();
    }
}

TEST_F(IftFileTest, UpperCasedFileNamesAreFoundInALowerCaseFolder) {
    app.write("store/v1/sub/kernel-a.bin", "k");
    app.write("store/v1/sub/prog_b.mot", "p");
    const char *cases[][2] = {{"DF sub\\kernel-a.bin", "PFN Sub\\Prog_B.mot"},
                              {"DF sub/KERNEL-A.BIN", "PFN sub/prog_b.mot"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_TRUE(read(kDescription + c[0] + "\r\n" + c[1] + "\r\n"));
        EXPECT_EQ(gIrdFile, app.filePath("store/v1/sub/kernel-a.bin"));
        EXPECT_EQ(gPrgFile, app.filePath("store/v1/sub/prog_b.mot"));
    }
}

TEST_F(IftFileTest, MissingKernelOrProgramFileNamesTheDescription) {
    EXPECT_FALSE(read(kDescription + "DF NONE.BIN\r\n"));
    EXPECT_EQ(gErrNo, 121);
    EXPECT_EQ(gErrFileName, ift());
    EXPECT_FALSE(read(kDescription + "PFN NONE.MOT\r\n"));
    EXPECT_EQ(gErrNo, 122);
    EXPECT_EQ(gErrFileName, ift());
    // A folder is not a kernel file.
    QDir().mkpath(app.filePath("store/v1/dir"));
    EXPECT_FALSE(read(kDescription + "DF DIR\r\n"));
    EXPECT_EQ(gErrNo, 121);
}

TEST_F(IftFileTest, Prototype9AcceptsMissingKernelAndProgramFiles) {
    app.write("QARN.ini", "PROTOTYPE 9\r\n");
    EXPECT_TRUE(read(kDescription + "DF NONE.BIN\r\nPFN NONE.MOT\r\n"));
    EXPECT_EQ(gErrNo, 0);
    app.write("QARN.ini", "PROTOTYPE 1\r\n");
    EXPECT_FALSE(read(kDescription + "DF NONE.BIN\r\nPFN NONE.MOT\r\n"));
    EXPECT_EQ(gErrNo, 121);
}

TEST_F(IftFileTest, ValuesThatCannotDriveADownloadAreRefusedByKey) {
    const std::pair<const char *, const char *> cases[] = {
        {"DF", "DF\r\n"},
        {"UCS", "UCS\r\n"},
        {"UCS", "UCS 12345\r\n"},
        {"UCS", "UCS 12G4\r\n"},
        {"PFN", "PFN\r\n"},
        {"FSA", "FSA 0000000\r\n"},
        {"FSA", "FSA 000000000\r\n"},
        {"FEA", "FEA 0003FFFX\r\n"},
        {"FCS", "FCS\r\n"},
        {"FCS", "FCS -1\r\n"},
        {"FSA", "FSA 00040000\r\n"}, // above FEA 0003FFFF
        {"PDSIZE", "PDSIZE 0\r\n"},
        {"PIZE", "PIZE 32768\r\n"},
        {"PDSIZE", "PDSIZE -512\r\n"},
    };
    for (const auto &[key, line] : cases) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(read(kDescription + line));
        EXPECT_EQ(gErrNo, 123);
        EXPECT_EQ(gErrKey, key);
        EXPECT_EQ(gErrFileName, ift());
    }
    EXPECT_TRUE(read(kDescription + "FSA 0003FFFF\r\nUCS F\r\nPDSIZE 32767\r\n"));
    EXPECT_EQ(gErrKey, QString());
}

TEST_F(IftFileTest, BlockSizeZeroFromTheSettingsFileIsRefusedToo) {
    app.write("QARN.ini", "DPDSIZE 0\r\n");
    EXPECT_FALSE(read(kCore));
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(gErrKey, "PDSIZE");
}

TEST_F(IftFileTest, UnusableValuesAreReportedBeforeMissingFiles) {
    EXPECT_FALSE(read(kDescription + "DF NONE.BIN\r\nFCS XYZ\r\n"));
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(gErrKey, "FCS");
}

TEST_F(IftFileTest, DescriptionValuesDoNotCarryOver) {
    ASSERT_TRUE(read(kDescription + "STO 20\r\n"));
    EXPECT_EQ(gStatusTimeout, 32.0f);
    EXPECT_FALSE(read("CPUT 0\r\n", "LEAN.ift"));
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(gErrKey, "DF");
    EXPECT_EQ(snapshot().mid(0, 7),
              QStringList({"0", "", "", "", "", "", ""})); // nothing of FW.ift is left
    EXPECT_EQ(gStatusTimeout, 10.0f);

    ASSERT_TRUE(read(kDescription));
    EXPECT_FALSE(read(QByteArray(kDescription).replace("CPUT 5", "CPUT 9"), "OTHER.ift"));
    EXPECT_EQ(gErrKey, "CPUT");
    EXPECT_EQ(gSeqType, 0);
}

TEST_F(IftFileTest, DescriptionThatCannotBeOpenedIs120) {
    EXPECT_FALSE(ReadIftFile(ift("MISSING.ift")));
    EXPECT_EQ(gErrNo, 120);
    EXPECT_EQ(gRunErrNo, 53);
    EXPECT_EQ(gErrFileName, ift("MISSING.ift"));

    QDir().mkpath(ift("FOLDER.ift"));
    EXPECT_FALSE(ReadIftFile(ift("FOLDER.ift")));
    EXPECT_EQ(gErrNo, 120);
}

#ifdef Q_OS_UNIX
TEST_F(IftFileTest, PipeNamedLikeADescriptionIs120WithoutWaiting) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(ift("PIPE.ift")).constData(), 0600), 0);
    EXPECT_FALSE(ReadIftFile(ift("PIPE.ift")));
    EXPECT_EQ(gErrNo, 120);
}
#endif

TEST_F(IftFileTest, MissingSettingsFileIs130) {
    QFile::remove(app.filePath("QARN.ini"));
    app.write("store/v1/FW.ift", kDescription);
    EXPECT_FALSE(ReadIftFile(ift()));
    EXPECT_EQ(gErrNo, 130);
    EXPECT_EQ(gErrFileName, app.filePath("QARN.ini"));
}

TEST_F(IftFileTest, OverlongLineIs129Overflow) {
    EXPECT_FALSE(read(kDescription + "REM " + QByteArray(32764, 'x') + "\r\n"));
    EXPECT_EQ(gErrNo, 129);
    EXPECT_EQ(gRunErrNo, 6);
    EXPECT_EQ(gErrFileName, ift());
    EXPECT_TRUE(read(kDescription + "REM " + QByteArray(32763, 'x') + "\r\n"));
}

TEST_F(IftFileTest, ArbitraryBytesEndInAnErrorNumber) {
    QRandomGenerator rng(42);
    const QByteArray markedHeader = protectByHand({}, QByteArray(5, '\1'), QByteArray(4, '\1'));
    for (int round = 0; round < 60; ++round) {
        QByteArray junk;
        const int size = int(rng.bounded(2000));
        for (int i = 0; i < size; ++i)
            junk.append(char(rng.bounded(256)));
        if (round % 3 == 0)
            junk.prepend(markedHeader); // a protected header with key tables of random luck
        if (round % 3 == 1)
            junk.replace(120, 9, QByteArray(9, '\0')); // usable key tables when marked
        SCOPED_TRACE(round);
        EXPECT_FALSE(read(junk, "JUNK.ift"));
        EXPECT_TRUE(gErrNo == 120 || gErrNo == 123 || gErrNo == 129) << gErrNo;
    }
}

TEST_F(IftFileTest, StaleTemporaryCopyIsRemovedAndNoneIsWritten) {
    app.write("TmpFile", "CPUT 9\r\n");
    const QStringList before = QDir(app.path()).entryList(QDir::Files);
    ASSERT_TRUE(read(protectByHand(kDescription, QByteArray::fromHex("0102030400"),
                                   QByteArray::fromHex("10200000"))));
    EXPECT_FALSE(app.exists("TmpFile"));
    QStringList after = QDir(app.path()).entryList(QDir::Files);
    after.append("TmpFile");
    after.sort();
    EXPECT_EQ(after, before);
    EXPECT_EQ(gIftFileNo, 0);
}

} // namespace
