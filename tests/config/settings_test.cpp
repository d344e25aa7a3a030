#include "settings.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

bool readIni(TempAppDir &app, const QByteArray &text) {
    app.write("QARN.ini", text);
    SetDefaultSettings();
    return ReadQARNIni();
}

TEST(ReadQARNIni, EmptyFileGivesJapaneseNoPortNormalMode) {
    TempAppDir app;
    gLangBase = 100;
    gPrototype = 3;
    ASSERT_TRUE(readIni(app, ""));
    EXPECT_EQ(gLangBase, 0);
    EXPECT_EQ(gPort, QString());
    EXPECT_EQ(gPrototype, 0);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gErrFileName, QString());
}

TEST(ReadQARNIni, ReadsKeysAsTheLineSyntaxSays) {
    struct Case {
        const char *text;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"language 1\r\n", [] { EXPECT_EQ(gLangBase, 100); }},
        {"LANGUAGE abc\r\n", [] { EXPECT_EQ(gLangBase, 0); }},
        {"LANGUAGE 99999999\r\n", [] { EXPECT_EQ(gLangBase, 0); }}, // x100 leaves 32 bits
        {"PARITY E\r\n", [] { EXPECT_EQ(gParity, "N"); }},
        {"PARITY 2\r\n", [] { EXPECT_EQ(gParity, "E"); }},
        {"DPARITY 1\r\n", [] { EXPECT_EQ(gParity, "O"); }},
        {"PARI 2\r\n", [] { EXPECT_EQ(gParity, "E"); }},
        {"BRATE 19200\r\n",
         [] {
             EXPECT_EQ(gBitRate, "19200");
             EXPECT_EQ(gBitRate2, "19200");
         }},
        {"BAUD 19200\r\n",
         [] {
             EXPECT_EQ(gBitRate, "19200");
             EXPECT_EQ(gBitRate2, "9600");
         }},
        {"BAUD 09600\r\n", [] { EXPECT_EQ(gBitRate, "9600"); }},
        {"BRATE 09600\r\n", [] { EXPECT_EQ(gBitRate, "09600"); }},
        {"DSTO 5\r\nDETO 60\r\n",
         [] {
             EXPECT_EQ(gStatusTimeout, 5.0f);
             EXPECT_EQ(gAdjustTimeout, 5.0f);
             EXPECT_EQ(gTransferTimeout, 5.0f);
             EXPECT_EQ(gDataTimeout, 5.0f);
             EXPECT_EQ(gWriteTimeout, 5.0f);
             EXPECT_EQ(gEraseTimeout, 60.0f);
         }},
        {"DSTO 2.5\r\n", [] { EXPECT_EQ(gWriteTimeout, 2.5f); }},
        {" PORT 3\r\nPORT=4\r\n", [] { EXPECT_EQ(gPort, QString()); }},
        {"PORT 3 ; the adapter\r\n", [] { EXPECT_EQ(gPort, "3"); }},
        {"PORT 3\r\nPORT 5\r\n", [] { EXPECT_EQ(gPort, "5"); }}, // last wins
        {"NDTCD 01\r\n", [] { EXPECT_FALSE(gSendBlankBlocks); }},
        {"NDTCD 1\r\n", [] { EXPECT_TRUE(gSendBlankBlocks); }},
        {"PARITY\r\n", [] { EXPECT_EQ(gParity, "N"); }},     // key alone: empty value
        {"DLEN\r\n", [] { EXPECT_EQ(gDataBits, ""); }},      // text settings become empty
        {"PDSIZE\r\n", [] { EXPECT_EQ(gPacketSize, 512); }}, // numbers keep their value
        {"DLENGTH 07\r\n", [] { EXPECT_EQ(gDataBits, "7"); }},
        {"DLENGTH 70000\r\n", [] { EXPECT_EQ(gDataBits, "8"); }},
        {"DPDSIZE 256\r\n", [] { EXPECT_EQ(gPacketSize, 256); }},
        {"PROTOTYPE 9\r\n", [] { EXPECT_EQ(gPrototype, 9); }},
        {"prototype 1\nlanguage 1\rport 2",
         [] {
             EXPECT_EQ(gPrototype, 1);
             EXPECT_EQ(gLangBase, 100);
             EXPECT_EQ(gPort, "2");
         }},
        {"CMDCSL 1\r\n", [] { EXPECT_EQ(gCmdConsole, "1"); }},
        {"TRACE 1\r\n", [] { EXPECT_TRUE(gTrace); }},
    };
    for (const Case &c : cases) {
        TempAppDir app;
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(readIni(app, c.text));
        c.check();
    }
}

TEST(ReadQARNIni, DstoAloneCopiesTheCurrentStatusTimeout) {
    TempAppDir app;
    ASSERT_TRUE(readIni(app, "DSTO\r\n"));
    EXPECT_EQ(gStatusTimeout, 10.0f);
    EXPECT_EQ(gAdjustTimeout, 10.0f);
    EXPECT_EQ(gWriteTimeout, 10.0f);
    EXPECT_EQ(gEraseTimeout, 90.0f);
}

TEST(ReadQARNIni, MissingFileIs130WithThePath) {
    TempAppDir app;
    gLangBase = 100;
    EXPECT_FALSE(ReadQARNIni());
    EXPECT_EQ(gErrNo, 130);
    EXPECT_EQ(gRunErrNo, 0);
    EXPECT_EQ(gErrFileName, app.filePath("QARN.ini"));
    EXPECT_EQ(gLangBase, 0);
}

TEST(ReadQARNIni, UnreadableFileIs139WithItsCode) {
    TempAppDir app;
    QDir(app.path()).mkdir("QARN.ini"); // a folder where the file should be
    EXPECT_FALSE(ReadQARNIni());
    EXPECT_EQ(gErrNo, 139);
    EXPECT_EQ(gRunErrNo, 75);
    EXPECT_EQ(gErrFileName, app.filePath("QARN.ini"));
}

TEST(ReadQARNIni, OverlongLineIs139Overflow) {
    TempAppDir app;
    EXPECT_FALSE(readIni(app, "LANGUAGE 1\r\nPORT " + QByteArray(40000, 'x') + "\r\n"));
    EXPECT_EQ(gErrNo, 139);
    EXPECT_EQ(gRunErrNo, 6);
    EXPECT_EQ(gLangBase, 0);
}

TEST(ReadQARNIni, BinaryGarbageIsReadWithoutHarm) {
    TempAppDir app;
    QByteArray junk;
    for (int i = 0; i < 5000; ++i)
        junk.append(char((i * 73 + 11) % 256));
    EXPECT_TRUE(readIni(app, junk + "\r\nLANGUAGE 1\r\n"));
    EXPECT_EQ(gLangBase, 100);
}

TEST(ParityLetter, OnlyDigitsAreParityCodes) {
    EXPECT_EQ(ParityLetter("0"), "N");
    EXPECT_EQ(ParityLetter("1"), "O");
    EXPECT_EQ(ParityLetter("2"), "E");
    EXPECT_EQ(ParityLetter("E"), "N");
    EXPECT_EQ(ParityLetter("3"), "N");
    EXPECT_EQ(ParityLetter(""), "N");
}

} // namespace
