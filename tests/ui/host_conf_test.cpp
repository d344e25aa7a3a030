#include "host_conf.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Records the tree as "parent>key|text" lines and refuses keys it already holds.
class RecordingTree : public FirmTreeSink {
public:
    void clear() override {
        nodes.clear();
        keys.clear();
        ++clearCount;
    }
    bool addNode(const QString &parentKey, const QString &key, const QString &text) override {
        if (keys.contains(key) || (!parentKey.isNull() && !keys.contains(parentKey)))
            return false;
        keys << key;
        nodes << (parentKey.isNull() ? QStringLiteral("<root>") : parentKey) + u'>' + key + u'|' +
                     text;
        return true;
    }
    void expandAll() override { ++expandCount; }

    QStringList nodes;
    QStringList keys;
    int clearCount = 0;
    int expandCount = 0;
};

struct CatalogueCase {
    const char *name;
    const char *model;
    const char *board;
    QByteArray text;
    QStringList keys;
};

class ReadHostConfTest : public ::testing::Test {
protected:
    int read(const QByteArray &text, const char *model = "M", const char *board = "B") {
        app.write("torvane.conf", text);
        gSelectedModel = QString::fromUtf8(model);
        gSelectedPcb = QString::fromUtf8(board);
        return ReadHostConf(tree);
    }
    TempAppDir app;
    RecordingTree tree;
};

TEST_F(ReadHostConfTest, BuildsModelBoardAndVersionNodesWithTheirKeys) {
    ASSERT_EQ(read("machine=M\r\nboard=B\r\nversion=V1\r\nversion=V2\r\nversion=V3\r\nend\r\n"), 0);
    EXPECT_EQ(tree.nodes, (QStringList{"<root>>M|M", "M>M=B|B", "M=B>M=B\\V1|V1", "M=B>M=B\\V2|V2",
                                       "M=B>M=B\\V3|V3"}));
    EXPECT_EQ(tree.expandCount, 1);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gRunErrNo, 0);
    EXPECT_EQ(gErrFileName, QString());
    EXPECT_EQ(gFilePath, app.filePath("torvane.conf"));
}

TEST_F(ReadHostConfTest, SelectsOnlyTheHostsModelAndBoardByExactText) {
    const CatalogueCase cases[] = {
        {"other board selected", "M", "C", "machine=M\r\nboard=B\r\nversion=V1\r\nend\r\n", {"M"}},
        {"model absent", "X", "B", "machine=M\r\nboard=B\r\nversion=V1\r\nend\r\n", {}},
        {"space after equals is part of the value",
         "M",
         "B",
         "machine= M\r\nboard=B\r\nversion=V1\r\n",
         {}},
        {"trailing space is part of the value",
         "M",
         "B",
         "machine=M\r\nboard=B \r\nversion=V1\r\n",
         {"M"}},
        {"model in other letter case", "m", "B", "machine=M\r\nboard=B\r\nversion=V1\r\n", {}},
        {"keywords are case-sensitive", "M", "B", "Machine=M\r\nboard=B\r\n", {}},
        {"leading blanks before keywords",
         "M",
         "B",
         "  machine=M\r\n  board=B\r\n\tversion=V1\r\n",
         {"M", "M=B", "M=B\\V1"}},
        {"versions of other boards are skipped",
         "M",
         "B",
         "machine=M\r\nboard=A\r\nversion=A1\r\nboard=B\r\nversion=B1\r\nboard=C\r\n"
         "version=C1\r\n",
         {"M", "M=B", "M=B\\B1"}},
        {"second block of the model ignored",
         "M",
         "B",
         "machine=M\r\nboard=B\r\nversion=V1\r\nmachine=N\r\nmachine=M\r\nboard=B\r\n"
         "version=V2\r\n",
         {"M", "M=B", "M=B\\V1"}},
        {"other models before the selected one",
         "M",
         "B",
         "machine=N\r\nboard=B\r\nversion=N1\r\nmachine=M\r\nboard=B\r\nversion=V1\r\n",
         {"M", "M=B", "M=B\\V1"}},
        {"end before the block ends the search",
         "M",
         "B",
         "machine=N\r\nend\r\nmachine=M\r\nboard=B\r\nversion=V1\r\n",
         {}},
        {"end inside the block ends it",
         "M",
         "B",
         "machine=M\r\nboard=B\r\nversion=V1\r\nend\r\nversion=V2\r\n",
         {"M", "M=B", "M=B\\V1"}},
        {"last line without line end",
         "M",
         "B",
         "machine=M\r\nboard=B\r\nversion=V9",
         {"M", "M=B", "M=B\\V9"}},
        {"value keeps spaces and everything after the first equals",
         "M",
         "B",
         "machine=M\r\nboard=B\r\nversion=US EN=01 \r\n",
         {"M", "M=B", "M=B\\US EN=01 "}},
        {"lone LF and CR line ends",
         "M",
         "B",
         "machine=M\nboard=B\rversion=V1\n",
         {"M", "M=B", "M=B\\V1"}},
        {"empty file", "M", "B", "", {}},
    };
    for (const CatalogueCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read(c.text, c.model, c.board), 0);
        EXPECT_EQ(tree.keys, c.keys);
        EXPECT_EQ(gErrNo, 0);
    }
}

TEST_F(ReadHostConfTest, EmptiesTheTreeBeforeFilling) {
    ASSERT_EQ(read("machine=M\r\nboard=B\r\nversion=V1\r\n"), 0);
    ASSERT_EQ(read("machine=M\r\nboard=B\r\nversion=V2\r\n"), 0);
    EXPECT_EQ(tree.keys, (QStringList{"M", "M=B", "M=B\\V2"}));
    EXPECT_EQ(tree.clearCount, 2);
}

TEST_F(ReadHostConfTest, MissingFileIsError160WithItsPath) {
    gSelectedModel = QStringLiteral("M");
    EXPECT_EQ(ReadHostConf(tree), 99);
    EXPECT_EQ(gErrNo, 160);
    EXPECT_EQ(gRunErrNo, 0);
    EXPECT_EQ(gErrFileName, app.filePath("torvane.conf"));
    EXPECT_TRUE(tree.keys.isEmpty());
    EXPECT_EQ(tree.expandCount, 0);
}

TEST_F(ReadHostConfTest, UnreadableFileIsError169WithItsCode) {
    QDir().mkpath(app.filePath("torvane.conf")); // a folder where the file should be
    gSelectedModel = QStringLiteral("M");
    EXPECT_EQ(ReadHostConf(tree), 99);
    EXPECT_EQ(gErrNo, 169);
    EXPECT_NE(gRunErrNo, 0);
    EXPECT_EQ(gErrFileName, app.filePath("torvane.conf"));
}

TEST_F(ReadHostConfTest, RepeatedKeyIsError169AndKeepsTheNodesBeforeIt) {
    const QByteArray twice[] = {
        "machine=M\r\nboard=B\r\nversion=V1\r\nversion=V2\r\nversion=V1\r\nversion=V3\r\n",
        "machine=M\r\nboard=B\r\nversion=V1\r\nboard=B\r\nversion=V2\r\n",
    };
    for (const QByteArray &text : twice) {
        EXPECT_EQ(read(text), 99);
        EXPECT_EQ(gErrNo, 169);
        EXPECT_EQ(gRunErrNo, 457);
        EXPECT_EQ(gErrFileName, app.filePath("torvane.conf"));
        EXPECT_EQ(tree.keys.mid(0, 3), (QStringList{"M", "M=B", "M=B\\V1"}));
        EXPECT_EQ(tree.expandCount, 0);
    }
}

TEST_F(ReadHostConfTest, BinaryBytesAndHugeLinesAreReadSafely) {
    QByteArray text("machine=M\r\nboard=B\r\n");
    text += "version=" + QByteArray(200000, 'X') + "\r\n";
    text += QByteArray("\x00\xff\xfe\x81\x40\x01\x1a", 7) + "\r\n";
    text += "version=V2\r\n";
    ASSERT_EQ(read(text), 0);
    ASSERT_EQ(tree.keys.size(), 4);
    EXPECT_EQ(tree.keys[2].size(), 200000 + 4);
    EXPECT_EQ(tree.keys[3], QStringLiteral("M=B\\V2"));
}

TEST_F(ReadHostConfTest, ShiftJisNamesMatchTheHostsSelection) {
    // "機種" and "基板" in the Japanese ANSI code page.
    const QByteArray text = QByteArray("machine=") + "\x8b\x40\x8e\xed" +
                            "\r\nboard=" + "\x8a\xee\x94\xc2" + "\r\nversion=V1\r\n";
    ASSERT_EQ(read(text, "機種", "基板"), 0);
    EXPECT_EQ(tree.keys, (QStringList{"機種", "機種=基板", "機種=基板\\V1"}));
}

} // namespace
