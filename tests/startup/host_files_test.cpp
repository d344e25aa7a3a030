// The host's hand-off readers, its model catalogue and the text helpers every reader shares,
// fed with a file's bytes through the readers' cores. The file edges are tested in config/.

#include "host_conf.h"
#include "host_files.h"
#include "number_text.h"
#include "shared_state.h"
#include "text_file.h"
#include "text_helpers.h"

#include <gtest/gtest.h>

namespace {

// Result, error number/run-time code and the file an error names ("F" stands for the path the
// file edge leaves there), then the values the reader fills.
QString outcome(int result) {
    return QStringLiteral("%1 %2/%3 %4|").arg(result).arg(gErrNo).arg(gRunErrNo).arg(gErrFileName);
}
QString list(const QStringList &l) {
    return l.size() > 6 ? QStringLiteral("#%1").arg(l.size()) : l.join(u',');
}
QString ini(const QByteArray &b) {
    const int result = HostIniFromBytes(b);
    return outcome(result) + list(gLangList) + u'|' + list(gCountryList) + u'|' + gDrive;
}
QString cha(const QByteArray &b) {
    const int result = HostChaFromBytes(b);
    return outcome(result) + gFdir + u'|' + gSelectedModel + u'|' + gSelectedPcb;
}
QString firm(const QByteArray &b) {
    const int result = FirmDescFromBytes(b);
    return outcome(result) + list(gTgbnList) + u'|' + list(gTgbnDescList);
}

// Records "parent>key=text" and refuses a key it already holds, as the tree view does.
class Tree : public FirmTreeSink {
public:
    void clear() override { nodes.clear(), keys.clear(); }
    bool addNode(const QString &parent, const QString &key, const QString &text) override {
        if (keys.contains(key))
            return false;
        keys << key;
        nodes << parent + u'>' + key + u'=' + text;
        return true;
    }
    void expandAll() override { expanded = true; }
    QStringList nodes, keys;
    bool expanded = false;
};
QString conf(const QByteArray &b) {
    Tree tree;
    gSelectedModel = QString::fromUtf8("M");
    gSelectedPcb = QString::fromUtf8("B");
    const int result = HostConfFromBytes(b, tree);
    return outcome(result) + tree.nodes.join(u' ') + (tree.expanded ? "" : " unexpanded");
}

struct Row {
    QString (*read)(const QByteArray &);
    QByteArray in;
    QString want;
};

TEST(HostReaders, TurnBytesIntoValuesErrorNumbersAndCodes) {
    QByteArray langs, boards;
    for (int i = 0; i < 32768; ++i) {
        langs += "lang x\r\n";
        boards += "TGBN B\r\n";
    }
    const QByteArray set = "MAIN SET\r\nFdir C:\\S\r\nSelectedModel QX\r\nSelectedPCB P\r\n";
    const QByteArray mb = "machine=M\r\nboard=B\r\n";
    // clang-format off
    const Row rows[] = {
        {ini, "# x\r\nlang JP\r\nlang Japanese\r\nLANG EN\r\nLang English x\r\ncntry US\r\nDRIVE D:\r\n"
              "language XX\r\ncntryX YY\r\n", "0 0/0 |JP,Japanese,EN,English|US|D:"},
        {ini, "", "0 0/0 |||"}, {ini, "lang JP\r\nlang\r\nlang Japanese", "99 109/5 F|JP||"},
        {ini, "lang JP\r\ndrive\r\n", "99 109/5 F|JP||"}, {ini, "lang JP\r\n" + QByteArray(32768, 'a'), "99 109/6 F|JP||"},
        {ini, "lang " + QByteArray(32762, 'a'), "0 0/0 |" + QString(128, u'a') + "||"},
        {ini, langs, "99 109/6 F|#32767||"}, {cha, set, "0 0/0 |C:\\S|QX|P"},
        {cha, "selectedpcb P\nSELECTEDMODEL QX\rfdir\tC:\\S x\r\nmain SET", "0 0/0 |C:\\S|QX|P"},
        {cha, set + "Fdir C:\\My Store\r\nSelectedModel QY\r\n", "0 0/0 |C:\\My|QY|P"},
        {cha, "MAIN set\r\n" + set.mid(10), "99 111/0 F|C:\\S|QX|P"},
        {cha, "MAIN SETX\r\n" + set.mid(10), "99 111/0 F|C:\\S|QX|P"}, {cha, set.left(39), "99 111/0 F|C:\\S|QX|"},
        {cha, "MAIN SET\r\nFdirectory D:\r\nFdir  \r\n" + set.mid(21), "99 111/0 F||QX|P"},
        {cha, "", "99 111/0 F|||"}, {cha, "Fdir C:\\S\r\nSelectedModel\r\n", "99 119/5 F|C:\\S||"},
        {cha, "main\r\n", "99 119/5 F|||"}, {cha, set + QByteArray(40000, 'x'), "99 119/6 F|C:\\S|QX|P"},
        {firm, "# b\r\n\r\nTGBN MAIN\r\nTGBNDESC   Main  rev.2  \r\n TGBN X\r\ntgbn y\r\nTGBNX z\r\n"
               "TGBN SUB extra\r\nTGBN IO\r\nTGBNDESC a\r\nTGBNDESC b\r\n", "0 0/0 |,MAIN,SUB,IO|,Main  rev.2  ,,b"},
        {firm, "# none\r\nTGBN\r\n", "0 0/0 ||"},
        {firm, QByteArray::fromHex("5447424e2042310d0a5447424e44455343208aee94c2"), "0 0/0 |,B1|," + QString::fromUtf8("基板")},
        {firm, "TGBNDESC early\r\nTGBN B1\r\n", "99 149/9 F||"},
        {firm, "TGBN B1\r\nTGBNDESC " + QByteArray(40000, 'd'), "99 149/6 F|,B1|,"}, {firm, boards, "99 149/6 F|#32768|#32768"},
        {conf, mb + "version=V1\r\nversion=V2\r\nend\r\nversion=V3", "0 0/0 |>M=M M>M=B=B M=B>M=B\\V1=V1 M=B>M=B\\V2=V2"},
        {conf, "machine=M\r\nboard=A\r\nversion=A1\r\nboard=B \r\nversion=B1\r\n", "0 0/0 |>M=M"},
        {conf, "machine= M\r\nmachine=m\r\nMachine=M\r\n" + mb, "0 0/0 |>M=M M>M=B=B"},
        {conf, "  machine=M\r\n  board=B\r\n\tversion=US EN=01 ", "0 0/0 |>M=M M>M=B=B M=B>M=B\\US EN=01 =US EN=01 "},
        {conf, mb + "version=V1\r\nmachine=N\r\nmachine=M\r\nboard=B\r\nversion=V2\r\n", "0 0/0 |>M=M M>M=B=B M=B>M=B\\V1=V1"},
        {conf, "machine=N\r\nboard=B\r\nversion=N1\r\n" + mb + "version=V1\n", "0 0/0 |>M=M M>M=B=B M=B>M=B\\V1=V1"},
        {conf, "machine=N\r\nend\r\n" + mb, "0 0/0 |"}, {conf, "", "0 0/0 |"},
        {conf, mb + "version=V1\r\nversion=V1\r\n", "99 169/457 F|>M=M M>M=B=B M=B>M=B\\V1=V1 unexpanded"},
        {conf, mb + "version=V1\r\nboard=B\r\n", "99 169/457 F|>M=M M>M=B=B M=B>M=B\\V1=V1 unexpanded"},
        {conf, mb + "version=" + QByteArray(32760, 'X') + "\r\nversion=V2", "99 169/6 F|>M=M M>M=B=B unexpanded"},
        {conf, "machine=M\r\nboard=" + QByteArray(32761, 'X'), "0 0/0 |>M=M"},
    };
    // clang-format on
    for (const Row &row : rows) {
        ResetSharedState();
        gErrFileName = QStringLiteral("F");
        // Every reader starts from empty values: nothing of an earlier read is left behind.
        gLangList = gCountryList = gTgbnList = gTgbnDescList = {QStringLiteral("OLD")};
        gFdir = gSelectedModel = gSelectedPcb = QStringLiteral("OLD");
        EXPECT_EQ(row.read(row.in), row.want) << row.in.left(60).toStdString();
    }
}

TEST(TextHelpers, IsKeyLineNeedsTheKeyAtTheFirstColumnThenASeparator) {
    const std::pair<const char16_t *, std::optional<int16_t>> rows[] = {
        {u"MAIN SET", 1},   {u"main SET", 1},   {u"MAINX SET", 0},  {u"MAIN\tSET", 1},
        {u"MAIN\x01", 1},   {u"MA", 0},         {u" MAIN SET", 0},  {u"MAIN=SET", 0},
        {u"MAIN\u65E5", 1}, {u"MAIN\uFF71", 0}, {u"MAIN\u00E9", 0}, {u"main", std::nullopt},
    };
    for (const auto &[line, want] : rows)
        EXPECT_EQ(IsKeyLine(QString::fromUtf16(line), "MAIN", 4), want)
            << QString::fromUtf16(line).toStdString();
}

TEST(TextHelpers, WordsAndRestsOfLinesStopWhereTheRulesSay) {
    struct WordRow {
        bool rest;
        const char *line;
        int16_t pos, posAfter;
        QString want;
    };
    const WordRow rows[] = {
        {false, "Fdir    C:\\Store\\Firm  tail", 1, 5, "Fdir"},
        {false, "Fdir    C:\\Store\\Firm  tail", 5, 22, "C:\\Store\\Firm"},
        {false, "Fdir    C:\\Store\\Firm  tail", 22, 28, "tail"},
        {false, "KEY  \t  ", 4, 12, ""},
        {false, "KEY", 40, 43, ""},
        {true, "TGBNDESC   Main board  rev.2  ", 9, 31, "Main board  rev.2  "},
        {true, "TGBNDESC text\tafter tab", 9, 14, "text"},
    };
    for (const WordRow &r : rows) {
        int16_t pos = r.pos;
        const QString line = QString::fromLatin1(r.line);
        EXPECT_EQ(r.rest ? GetRestOfLine(line, pos) : GetWord(line, pos), r.want) << r.line;
        EXPECT_EQ(pos, r.posAfter) << r.line;
    }
    int16_t pos = 5;
    EXPECT_EQ(GetWord("KEY " + QString(200, u'x'), pos), QString(128, u'x'));
    EXPECT_EQ(pos, 5 + 128);
}

TEST(TextHelpers, NamesComeFromCodeNamePairs) {
    ResetSharedState();
    gLangList = QStringList{"JP", "Japanese", "EN", "English"};
    gCountryList = QStringList{"JP", "Japan", "US"};
    EXPECT_EQ(QStringList({LangName("EN"), LangName("en"), LangName("Japanese"), CountryName("US"),
                           CountryName("JP")}),
              QStringList({"English", "en", "Japanese", "US", "Japan"}));
    gLangList.clear();
    EXPECT_EQ(LangName("JP"), "JP");
}

TEST(TextHelpers, TextIsUtf8OrShiftJisAndEndsLinesAtCrLfCrOrLf) {
    EXPECT_EQ(TextLines("a\r\nb\rc\nd\r\n\r\ne\r\n"), QStringList({"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(TextLines(""), QStringList());
    EXPECT_EQ(TextLines("\n"), QStringList({""}));
    EXPECT_EQ(DecodeText("\xE6\x97\xA5\xE6\x9C\xAC"), QString::fromUtf8("日本"));
    EXPECT_EQ(DecodeText("\x93\xFA\x96\x7B"), QString::fromUtf8("日本"));
    EXPECT_EQ(DecodeText("\xEF\xBB\xBFMAIN"), "MAIN");
}

TEST(NumberText, ConvertsAsTheToolsFilesExpect) {
    const std::pair<std::optional<double>, std::optional<double>> rows[] = {
        {ToInt32("09600"), 9600},
        {ToInt32("-12"), -12},
        {ToInt16("2.5"), 2},
        {ToInt16("3.5"), 4},
        {ToInt16("&H1E"), 30},
        {ToInt16("&HFFFF"), -1},
        {ToInt32("&HFFFFFFFF"), -1},
        {ToInt16("&O17"), 15},
        {ToInt16("32768"), {}},
        {ToInt32("abc"), {}},
        {ToInt32(""), {}},
        {ToInt32("12abc"), {}},
        {ToNumber("&H+1E"), {}},
        {ToNumber("&H0X1E"), {}},
        {ToNumber("&O8"), {}},
        {ToNumber("&H 1"), {}},
        {ToSingle("0.5"), 0.5},
        {ToSingle("1e3"), 1000},
        {ToSingle("1e39"), {}},
        {HexDigits("00010000", 8), 0x10000},
        {HexDigits("0001000G", 8), {}},
        {HexDigits("123456789", 8), {}},
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
    const std::pair<float, const char *> seconds[] = {
        {90.0f, "90"}, {2.5f, "2.5"}, {0.1f, "0.1"}, {-1.0f, "-1"}, {1e-5f, "0.00001"}};
    for (const auto &[value, text] : seconds)
        EXPECT_EQ(SingleText(value), QString::fromLatin1(text));
}

} // namespace
