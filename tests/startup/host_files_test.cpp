#include "host_files.h"
#include "shared_state.h"
#include "temp_app_dir.h"
#include "text_helpers.h"

#include <gtest/gtest.h>

namespace {

struct ChaCase {
    const char *name;
    QByteArray content;
    int16_t result;
    int16_t errNo;
    int16_t runErrNo;
    const char *fdir;
    const char *model;
    const char *pcb;
};

TEST(ReadHostCha, SetsErrorNumbersAndValuesByContent) {
    const QByteArray complete = "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX-10\r\n"
                                "SelectedPCB MAINPCB\r\n";
    const ChaCase cases[] = {
        {"complete", complete, 0, 0, 0, "C:\\Store", "QX-10", "MAINPCB"},
        {"keys in any order and any letter case",
         "selectedpcb MAINPCB\r\nSELECTEDMODEL QX-10\r\nfdir C:\\Store\r\nmain SET\r\n", 0, 0, 0,
         "C:\\Store", "QX-10", "MAINPCB"},
        {"lone LF and lone CR end lines",
         "MAIN SET\nFdir C:\\Store\rSelectedModel QX-10\r\nSelectedPCB MAINPCB", 0, 0, 0,
         "C:\\Store", "QX-10", "MAINPCB"},
        {"tab separates key and value",
         "MAIN\tSET\r\nFdir\tC:\\Store\r\nSelectedModel\tQX-10\r\nSelectedPCB\tMAINPCB\r\n", 0, 0,
         0, "C:\\Store", "QX-10", "MAINPCB"},
        {"value cut at a space", complete + "Fdir C:\\My Store\r\n", 0, 0, 0, "C:\\My", "QX-10",
         "MAINPCB"},
        {"last of equal keys wins", complete + "SelectedModel QX-20\r\n", 0, 0, 0, "C:\\Store",
         "QX-20", "MAINPCB"},
        {"text after the value ignored",
         "MAIN SET extra\r\nFdir D:\\F x\r\nSelectedModel M y\r\n"
         "SelectedPCB P z\r\n",
         0, 0, 0, "D:\\F", "M", "P"},
        {"MAIN in lower case is incomplete",
         "MAIN set\r\nFdir C:\\Store\r\nSelectedModel QX-10\r\nSelectedPCB MAINPCB\r\n", 99, 111, 0,
         "C:\\Store", "QX-10", "MAINPCB"},
        {"MAIN other than SET is incomplete",
         "MAIN SETX\r\nFdir C:\\Store\r\nSelectedModel QX-10\r\nSelectedPCB MAINPCB\r\n", 99, 111,
         0, "C:\\Store", "QX-10", "MAINPCB"},
        {"no SelectedPCB line is incomplete",
         "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel QX-10\r\n", 99, 111, 0, "C:\\Store", "QX-10",
         ""},
        {"Fdirectory is no Fdir line",
         "MAIN SET\r\nFdirectory C:\\Store\r\nSelectedModel QX-10\r\nSelectedPCB MAINPCB\r\n", 99,
         111, 0, "", "QX-10", "MAINPCB"},
        {"key with only blanks after it has an empty value",
         "MAIN SET\r\nFdir   \r\nSelectedModel QX-10\r\nSelectedPCB MAINPCB\r\n", 99, 111, 0, "",
         "QX-10", "MAINPCB"},
        {"empty file is incomplete", "", 99, 111, 0, "", "", ""},
        {"a key alone is failure code 5", "MAIN SET\r\nFdir C:\\Store\r\nSelectedModel\r\n", 99,
         119, 5, "C:\\Store", "", ""},
        {"a key alone in another case is failure code 5", "main\r\n", 99, 119, 5, "", "", ""},
        {"overlong line is failure code 6", complete + QByteArray(40000, 'x') + "\r\n", 99, 119, 6,
         "C:\\Store", "QX-10", "MAINPCB"},
    };
    for (const ChaCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempAppDir dir;
        dir.write("torvane.cha", c.content);
        gFdir = "stale";
        EXPECT_EQ(ReadHostCha(), c.result);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gRunErrNo, c.runErrNo);
        EXPECT_EQ(gFdir, QString::fromUtf8(c.fdir));
        EXPECT_EQ(gSelectedModel, QString::fromUtf8(c.model));
        EXPECT_EQ(gSelectedPcb, QString::fromUtf8(c.pcb));
        EXPECT_EQ(gFilePath, dir.filePath("torvane.cha"));
        EXPECT_EQ(gErrFileName, c.result == 0 ? QString() : dir.filePath("torvane.cha"));
    }
}

struct MissingCase {
    const char *file;
    int16_t (*reader)();
    int16_t errNo;
};

TEST(HostReaders, MissingFileGivesItsOpenErrorWithThePath) {
    const MissingCase cases[] = {
        {"torvane.ini", ReadHostIni, 100},
        {"torvane.cha", ReadHostCha, 110},
        {"FirmDesc.txt", ReadFirmDesc, 140},
    };
    for (const MissingCase &c : cases) {
        SCOPED_TRACE(c.file);
        TempAppDir dir;
        gRunErrNo = 77;
        EXPECT_EQ(c.reader(), 99);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gRunErrNo, 0);
        EXPECT_EQ(gErrFileName, dir.filePath(c.file));
    }
}

TEST(HostReaders, UnreadableFileGivesItsOtherFailureNumberWithTheCode) {
    const MissingCase cases[] = {
        {"torvane.ini", ReadHostIni, 109},
        {"torvane.cha", ReadHostCha, 119},
        {"FirmDesc.txt", ReadFirmDesc, 149},
    };
    for (const MissingCase &c : cases) {
        SCOPED_TRACE(c.file);
        TempAppDir dir;
        ASSERT_TRUE(QDir(dir.path()).mkdir(c.file)); // a folder where the file should be
        EXPECT_EQ(c.reader(), 99);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gRunErrNo, 75);
        EXPECT_EQ(gErrFileName, dir.filePath(c.file));
    }
}

TEST(ReadHostIni, FillsListsInFileOrderAsCodeNamePairs) {
    TempAppDir dir;
    dir.write("torvane.ini", "# host lists\r\nlang JP\r\nlang Japanese\r\nLANG EN\r\n"
                             "Lang English language\r\ncntry US\r\ncntry United States\r\n"
                             "DRIVE D:\r\nlanguage XX\r\ncntryX YY\r\n");
    EXPECT_EQ(ReadHostIni(), 0);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gErrFileName, QString());
    EXPECT_EQ(gLangList, QStringList({"JP", "Japanese", "EN", "English"}));
    EXPECT_EQ(gCountryList, QStringList({"US", "United"}));
    EXPECT_EQ(gDrive, QStringLiteral("D:"));
    EXPECT_EQ(LangName("JP"), QStringLiteral("Japanese"));
    EXPECT_EQ(CountryName("US"), QStringLiteral("United"));
}

TEST(ReadHostIni, EmptyFileSucceedsWithEmptyLists) {
    TempAppDir dir;
    dir.write("torvane.ini", "");
    EXPECT_EQ(ReadHostIni(), 0);
    EXPECT_TRUE(gLangList.isEmpty());
    EXPECT_TRUE(gCountryList.isEmpty());
}

struct IniFailureCase {
    const char *name;
    QByteArray content;
    int16_t runErrNo;
    QStringList langsKept;
};

TEST(ReadHostIni, FailuresGive109WithTheCodeAndKeepWhatWasRead) {
    QByteArray full;
    for (int i = 0; i < 32768; ++i)
        full += "lang x\r\n";
    const IniFailureCase cases[] = {
        {"lang alone", "lang JP\r\nlang\r\nlang Japanese\r\n", 5, {"JP"}},
        {"DRIVE alone in lower case", "lang JP\r\ndrive\r\n", 5, {"JP"}},
        {"line longer than a position reaches", "lang JP\r\n" + QByteArray(32768, 'a'), 6, {"JP"}},
        {"more than 32767 list elements", full, 6, QStringList(32767, "x")},
    };
    for (const IniFailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempAppDir dir;
        dir.write("torvane.ini", c.content);
        EXPECT_EQ(ReadHostIni(), 99);
        EXPECT_EQ(gErrNo, 109);
        EXPECT_EQ(gRunErrNo, c.runErrNo);
        EXPECT_EQ(gErrFileName, dir.filePath("torvane.ini"));
        EXPECT_EQ(gLangList, c.langsKept);
    }
}

TEST(ReadHostIni, FileTooBigForAHostListGives109) {
    TempAppDir dir;
    dir.write("torvane.ini", QByteArray(17 * 1024 * 1024, '\n'));
    EXPECT_EQ(ReadHostIni(), 99);
    EXPECT_EQ(gErrNo, 109);
    EXPECT_NE(gRunErrNo, 0);
    EXPECT_EQ(gErrFileName, dir.filePath("torvane.ini"));
}

TEST(ReadHostIni, LineOfExactlyTheLongestLengthIsRead) {
    TempAppDir dir;
    const QByteArray line = "lang " + QByteArray(32767 - 5, 'a');
    ASSERT_EQ(line.size(), 32767);
    dir.write("torvane.ini", line + "\r\n");
    EXPECT_EQ(ReadHostIni(), 0);
    ASSERT_EQ(gLangList.size(), 1);
    EXPECT_EQ(gLangList.at(0), QString(128, u'a')); // a word is at most 128 characters
}

TEST(ReadFirmDesc, ReadsEntriesFromOneWithTheirDescriptions) {
    TempAppDir dir;
    dir.write("FirmDesc.txt", "# boards\r\n\r\nTGBN MAINPCB\r\nTGBNDESC   Main board  rev.2  \r\n"
                              " TGBN SPACED\r\ntgbn lower\r\nTGBNX other\r\nTGBN SUBPCB extra\r\n"
                              "TGBN IOPCB\r\nTGBNDESC first\r\nTGBNDESC second\r\n");
    EXPECT_EQ(ReadFirmDesc(), 0);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gErrFileName, QString());
    EXPECT_EQ(gTgbnList, QStringList({"", "MAINPCB", "SUBPCB", "IOPCB"}));
    EXPECT_EQ(gTgbnDescList, QStringList({"", "Main board  rev.2  ", "", "second"}));
}

TEST(ReadFirmDesc, FileWithoutBoardsLeavesListsWithoutElements) {
    TempAppDir dir;
    dir.write("FirmDesc.txt", "# nothing yet\r\n\r\nTGBN\r\n");
    EXPECT_EQ(ReadFirmDesc(), 0);
    EXPECT_TRUE(gTgbnList.isEmpty());
    EXPECT_TRUE(gTgbnDescList.isEmpty());
}

TEST(ReadFirmDesc, DecodesShiftJisDescriptions) {
    TempAppDir dir;
    // "TGBN B1", then "TGBNDESC " + 基板 ボード in Shift-JIS
    dir.write("FirmDesc.txt",
              QByteArray::fromHex("5447424e2042310d0a") +
                  QByteArray::fromHex("5447424e44455343208aee94c220837b815b83680d0a"));
    EXPECT_EQ(ReadFirmDesc(), 0);
    ASSERT_EQ(gTgbnDescList.size(), 2);
    EXPECT_EQ(gTgbnDescList.at(1), QString::fromUtf8("基板 ボード"));
}

struct FirmDescFailureCase {
    const char *name;
    QByteArray content;
    int16_t runErrNo;
    qsizetype entriesKept;
};

TEST(ReadFirmDesc, FailuresGive149WithTheCode) {
    QByteArray many;
    for (int i = 0; i < 32768; ++i)
        many += "TGBN B\r\n";
    const FirmDescFailureCase cases[] = {
        {"description before the first board", "# x\r\nTGBNDESC early\r\nTGBN B1\r\n", 9, 0},
        {"line longer than a position reaches",
         "TGBN B1\r\nTGBNDESC " + QByteArray(40000, 'd') + "\r\n", 6, 2},
        {"more than 32767 entries", many, 6, 32768},
    };
    for (const FirmDescFailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempAppDir dir;
        dir.write("FirmDesc.txt", c.content);
        EXPECT_EQ(ReadFirmDesc(), 99);
        EXPECT_EQ(gErrNo, 149);
        EXPECT_EQ(gRunErrNo, c.runErrNo);
        EXPECT_EQ(gErrFileName, dir.filePath("FirmDesc.txt"));
        EXPECT_EQ(gTgbnList.size(), c.entriesKept);
    }
}

// Arbitrary bytes, NULs and a line far past any limit: every reader ends with a verdict.
TEST(HostReaders, BinaryGarbageEndsInAVerdict) {
    QByteArray garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 300000; ++i) {
        x = x * 1103515245u + 12345u;
        garbage += char(x >> 24);
    }
    const MissingCase readers[] = {
        {"torvane.ini", ReadHostIni, 109},
        {"torvane.cha", ReadHostCha, 119},
        {"FirmDesc.txt", ReadFirmDesc, 149},
    };
    for (const MissingCase &r : readers) {
        SCOPED_TRACE(r.file);
        TempAppDir dir;
        dir.write(r.file, garbage);
        const int16_t result = r.reader();
        EXPECT_TRUE(result == 0 || result == 99);
        if (result == 99)
            EXPECT_EQ(gErrFileName, dir.filePath(r.file));
        else
            EXPECT_EQ(gErrNo, 0);
    }
}

} // namespace
