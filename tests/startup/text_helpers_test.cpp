#include "number_text.h"
#include "shared_state.h"
#include "text_file.h"
#include "text_helpers.h"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    const char16_t *line;
    const char16_t *key;
    std::optional<int16_t> expected;
};

TEST(IsKeyLine, MatchesKeyAtFirstColumnFollowedByASeparator) {
    const KeyCase cases[] = {
        {u"MAIN SET", u"MAIN", 1},
        {u"main SET", u"MAIN", 1},        // letter case ignored
        {u"MAINX SET", u"MAIN", 0},       // key is only the start of a longer word
        {u"MAIN\tSET", u"MAIN", 1},       // a tab separates
        {u"MAIN\x01", u"MAIN", 1},        // any control character separates
        {u"MA", u"MAIN", 0},              // shorter than the key
        {u" MAIN SET", u"MAIN", 0},       // not at the first column
        {u"MAIN=SET", u"MAIN", 0},        // '=' is no separator
        {u"MAIN\u65E5", u"MAIN", 1},      // a two-byte character counts as a separator
        {u"MAIN\uFF71", u"MAIN", 0},      // half-width katakana is one byte, above the space
        {u"MAIN\u00E9", u"MAIN", 0},      // not in the code page: reads as '?'
        {u"MAIN", u"MAIN", std::nullopt}, // the key alone: failure code 5
        {u"main", u"MAIN", std::nullopt},
    };
    for (const KeyCase &c : cases) {
        const QString line = QString::fromUtf16(c.line);
        EXPECT_EQ(IsKeyLine(line, QString::fromUtf16(c.key), 4), c.expected) << line.toStdString();
    }
}

TEST(GetWord, TakesTheNextWordAndLeavesThePositionAfterIt) {
    const QString line = QStringLiteral("Fdir    C:\\Store\\Firm  tail");
    int16_t pos = 5;
    EXPECT_EQ(GetWord(line, pos), QStringLiteral("C:\\Store\\Firm"));
    EXPECT_EQ(pos, 22);
    EXPECT_EQ(line.at(pos - 1), u' ');
    EXPECT_EQ(GetWord(line, pos), QStringLiteral("tail"));
}

TEST(GetWord, CutsAWordAfter128CharactersAndGivesEmptyOnBlanks) {
    const QString value(200, u'x');
    int16_t pos = 5;
    EXPECT_EQ(GetWord(QStringLiteral("KEY ") + value, pos), QString(128, u'x'));
    EXPECT_EQ(pos, 5 + 128);

    pos = 4;
    EXPECT_EQ(GetWord(QStringLiteral("KEY  \t  "), pos), QString());
    pos = 40; // past the end
    EXPECT_EQ(GetWord(QStringLiteral("KEY"), pos), QString());
}

TEST(GetRestOfLine, KeepsInnerAndTrailingSpaces) {
    int16_t pos = 9;
    EXPECT_EQ(GetRestOfLine(QStringLiteral("TGBNDESC   Main board  rev.2  "), pos),
              QStringLiteral("Main board  rev.2  "));
    pos = 9;
    EXPECT_EQ(GetRestOfLine(QStringLiteral("TGBNDESC text\tafter tab"), pos),
              QStringLiteral("text"));
}

TEST(PairLookup, FindsTheNameOfAnExactCodeOrGivesTheCode) {
    ResetSharedState();
    gLangList = {"JP", "Japanese", "EN", "English"};
    EXPECT_EQ(LangName("EN"), QStringLiteral("English"));
    EXPECT_EQ(LangName("en"), QStringLiteral("en"));
    EXPECT_EQ(LangName("FR"), QStringLiteral("FR"));
    EXPECT_EQ(LangName("Japanese"), QStringLiteral("Japanese")); // a name is no code

    gCountryList = {"JP", "Japan", "US"};
    EXPECT_EQ(CountryName("US"), QStringLiteral("US")); // last code has no name
    EXPECT_EQ(CountryName("JP"), QStringLiteral("Japan"));

    gLangList.clear();
    EXPECT_EQ(LangName("JP"), QStringLiteral("JP"));
    ResetSharedState();
}

TEST(TextFile, SplitsAtEveryKindOfLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), QStringList({"a", "", "b"}));
    EXPECT_EQ(SplitLines(""), QStringList());
    EXPECT_EQ(SplitLines("\n"), QStringList({""}));
}

TEST(TextFile, DecodesUtf8OrShiftJis) {
    // "日本" in UTF-8 and in Shift-JIS
    EXPECT_EQ(DecodeText(QByteArray("\xE6\x97\xA5\xE6\x9C\xAC")), QStringLiteral("日本"));
    EXPECT_EQ(DecodeText(QByteArray("\x93\xFA\x96\x7B")), QStringLiteral("日本"));
    EXPECT_EQ(DecodeText(QByteArray("\xEF\xBB\xBFMAIN")), QStringLiteral("MAIN"));
}

TEST(NumberText, ConvertsAsTheSettingsFilesExpect) {
    EXPECT_EQ(ToInt32("09600"), 9600);
    EXPECT_EQ(ToInt32("-12"), -12);
    EXPECT_EQ(ToInt16("2.5"), 2); // half to even
    EXPECT_EQ(ToInt16("3.5"), 4);
    EXPECT_EQ(ToInt16("&H1E"), 30);
    EXPECT_EQ(ToInt16("&HFFFF"), -1);
    EXPECT_EQ(ToInt16("32768"), std::nullopt);
    EXPECT_EQ(ToInt32("abc"), std::nullopt);
    EXPECT_EQ(ToInt32(""), std::nullopt);
    EXPECT_EQ(ToInt32("12abc"), std::nullopt);
    EXPECT_EQ(ToSingle("0.5"), 0.5f);
    EXPECT_EQ(ToSingle("1e3"), 1000.0f);
    EXPECT_EQ(ToSingle("1e39"), std::nullopt);
    EXPECT_EQ(HexDigits("00010000", 8), 0x10000u);
    EXPECT_EQ(HexDigits("0001000G", 8), std::nullopt);
    EXPECT_EQ(HexDigits("123456789", 8), std::nullopt);
    const std::pair<float, const char *> seconds[] = {
        {90.0f, "90"}, {100.0f, "100"}, {2.5f, "2.5"},       {0.1f, "0.1"},
        {0.0f, "0"},   {-1.0f, "-1"},   {65535.0f, "65535"}, {1e-5f, "0.00001"}};
    for (const auto &[value, text] : seconds)
        EXPECT_EQ(SingleText(value), QString::fromLatin1(text));
}

} // namespace

#include "run_errors.h"
#include "temp_app_dir.h"

#include <sys/stat.h>

namespace {
TEST(TextFile, OpenFailuresHaveTheirCodesAndNeverWait) {
    TempAppDir app;
    app.write("plain.txt", "a\r\n");
    QDir(app.path()).mkdir("folder");
    ASSERT_EQ(::mkfifo(app.filePath("pipe").toLocal8Bit().constData(), 0600), 0);
    QStringList lines;
    EXPECT_EQ(ReadTextLines(app.filePath("plain.txt"), lines), 0);
    EXPECT_EQ(lines, QStringList({"a"}));
    EXPECT_EQ(ReadTextLines(app.filePath("missing.txt"), lines), RunError::FileNotFound);
    EXPECT_EQ(ReadTextLines(app.filePath("nofolder/x.txt"), lines), RunError::PathNotFound);
    EXPECT_EQ(ReadTextLines(app.filePath("folder"), lines), RunError::PathFileAccess);
    EXPECT_EQ(ReadTextLines(app.filePath("pipe"), lines), RunError::PathFileAccess);
    EXPECT_EQ(ReadTextLines(QString(), lines), RunError::BadFileName);
}
} // namespace
