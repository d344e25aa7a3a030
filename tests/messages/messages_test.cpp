#include "catalogue.h"
#include "error_messages.h"
#include "shared_state.h"

#include <gtest/gtest.h>

namespace {

class Messages : public ::testing::Test {
protected:
    void SetUp() override { ResetSharedState(); }
    void TearDown() override { ResetSharedState(); }
};

TEST_F(Messages, CatalogueKeepsEverySpaceOfItsTexts) {
    EXPECT_EQ(LoadResString(111), QStringLiteral("開  始"));
    EXPECT_EQ(LoadResString(141), QStringLiteral("消  去"));
    EXPECT_EQ(LoadResString(102), QStringLiteral("Velmora QARN (Ver.3.31J) "));
    EXPECT_EQ(LoadResString(202), QStringLiteral("Velmora QARN (Ver.3.31E)"));
    EXPECT_EQ(LoadResString(149), QStringLiteral("\u3000国/地域:"));
    EXPECT_EQ(LoadResString(249), QStringLiteral("  Country/Region: "));
    EXPECT_EQ(LoadResString(153), QStringLiteral(" OK"));
    EXPECT_EQ(LoadResString(253), QStringLiteral("  OK"));
    EXPECT_EQ(LoadResString(224),
              QStringLiteral("If downloading is stopped, the device will not work until "
                             "downloading is completed. "));
    EXPECT_EQ(LoadResString(289), QStringLiteral("Unexpected\u3000error has happened."));
    EXPECT_EQ(LoadResString(192),
              QStringLiteral("メインメニューの\"システムの管理\"の\"COMポート選択\"で別のポートを"
                             "選択してください。"));
    EXPECT_EQ(LoadResString(229), QStringLiteral("2. Trun on the device."));
}

TEST_F(Messages, CatalogueHasBothBlocksAndNothingElse) {
    int japanese = 0;
    int english = 0;
    for (int id = 0; id < 1000; ++id) {
        if (!HasResString(id))
            continue;
        EXPECT_TRUE(id >= 100 && id <= 292) << id;
        if (id < 200) {
            ++japanese;
            EXPECT_TRUE(HasResString(id + 100)) << id;
        } else {
            ++english;
        }
    }
    EXPECT_EQ(japanese, 66);
    EXPECT_EQ(english, 66);
    for (const int unused : {165, 166, 167, 168, 179, 180, 104, 131, 156})
        EXPECT_FALSE(HasResString(unused)) << unused;
}

struct ErrorCase {
    int16_t n;
    const char16_t *japanese;
    const char16_t *english;
};

TEST_F(Messages, EveryErrorNumberHasItsTextInBothLanguages) {
    const char16_t *adjJa =
        u"制限時間内に通信の調整ができませんでした。\r\n以下の項目を確認してください。";
    const char16_t *adjEn =
        u"Could not complete serial communication adjustment within the time limit.\r\n"
        u"Check the following items:";
    const ErrorCase cases[] = {
        {0, u"Error Detection Error", u"Error Detection Error"},
        {100, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {110, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {120, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {130, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {140, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {160, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {170, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {171, u"指定されたファイルがオープンできませんでした。",
         u"Could not open the selected file."},
        {121, u"必要なファイルが見つかりませんでした。", u"Could not find the necessary file."},
        {122, u"必要なファイルが見つかりませんでした。", u"Could not find the necessary file."},
        {111, u"必要な情報が書かれていませんでした。",
         u"Could not find the necessary information in the file."},
        {300, u"シリアルポートがオープンできませんでした。", u"Could not open serial port."},
        {301,
         u"選択されているポートは使用できませんでした。\r\nメインメニューの\"システムの管理\"の\"CO"
         u"M"
         u"ポート選択\"で別のポートを選択してください。",
         u"Selected port is not available.\r\nSelect another port using \"COM Port Select\" in "
         u"\"System Management\" of Main Menu."},
        {330, u"データ転送用通信設定の変更でエラーが発生しました。",
         u"Change of the communication setting for data transfer has failed."},
        {310, u"制限時間内に応答がありませんでした。",
         u"Did not receive the response within the time limit."},
        {340, u"制限時間内に応答がありませんでした。",
         u"Did not receive the response within the time limit."},
        {344, u"制限時間内に応答がありませんでした。",
         u"Did not receive the response within the time limit."},
        {346, u"制限時間内に応答がありませんでした。",
         u"Did not receive the response within the time limit."},
        {312, u"通信エラーが発生しました。", u"Communication error has happened."},
        {313, u"通信エラーが発生しました。", u"Communication error has happened."},
        {341, u"通信エラーが発生しました。", u"Communication error has happened."},
        {342, u"通信エラーが発生しました。", u"Communication error has happened."},
        {345, u"通信エラーが発生しました。", u"Communication error has happened."},
        {347, u"通信エラーが発生しました。", u"Communication error has happened."},
        {343, u"FlashROMの消去エラーが発生しました。", u"Flash ROM erase error has happened."},
        {350, u"FlashROMの消去エラーが発生しました。", u"Flash ROM erase error has happened."},
        {360, u"FlashROMの書込みエラーが発生しました。", u"Flash ROM write error has happened."},
        {361, u"FlashROMの書込みエラーが発生しました。", u"Flash ROM write error has happened."},
    };
    for (const ErrorCase &c : cases) {
        gLangBase = 0;
        EXPECT_EQ(GetErrorMessage(c.n), QString::fromUtf16(c.japanese)) << c.n;
        gLangBase = 100;
        EXPECT_EQ(GetErrorMessage(c.n), QString::fromUtf16(c.english)) << c.n;
    }
    gLangBase = 0;
    EXPECT_EQ(GetErrorMessage(331), GetErrorMessage(301));
    EXPECT_EQ(
        GetErrorMessage(302),
        QString::fromUtf16(adjJa) +
            QStringLiteral("\r\n  ケーブルの接続\r\n  接続したデバイスの電源がONになっているか"
                           "\r\n  Startランプが点灯しているか"));
    EXPECT_EQ(GetErrorMessage(303),
              QString::fromUtf16(adjJa) +
                  QStringLiteral("\r\n  選択した機種\r\n  Startランプが点灯しているか"));
    gLangBase = 100;
    EXPECT_EQ(GetErrorMessage(302),
              QString::fromUtf16(adjEn) +
                  QStringLiteral("\r\n  Cable connection\r\n  Power of the connected device\r\n"
                                 "  If the Start LED of the control box is lit"));
    EXPECT_EQ(GetErrorMessage(304), QString::fromUtf16(adjEn) +
                                        QStringLiteral("\r\n  Selected model\r\n  If the Start LED "
                                                       "of the control box is lit"));
}

TEST_F(Messages, UnlistedNumbersGiveTheUnexpectedTextWithTheRunTimeLine) {
    for (const int16_t n : {109, 119, 129, 139, 149, 169, 314, 371, 999, -1}) {
        gLangBase = 100;
        gRunErrNo = 0;
        EXPECT_EQ(GetErrorMessage(n), QStringLiteral("Unexpected\u3000error has happened.")) << n;
        gLangBase = 0;
        EXPECT_EQ(GetErrorMessage(n), QStringLiteral("予期していないエラーが発生しました。")) << n;
    }
    gLangBase = 100;
    gRunErrNo = 5;
    gErrFileName = "/app/torvane.cha";
    EXPECT_EQ(GetErrorMessage(119), QStringLiteral("Unexpected\u3000error has happened.\r\n"
                                                   "ErrNo 5:Invalid procedure call or argument\r\n"
                                                   "  File name: /app/torvane.cha"));
    gRunErrNo = 53; // a listed number never shows the run-time line
    EXPECT_EQ(GetErrorMessage(130),
              QStringLiteral("Could not open the selected file.\r\n  File name: /app/torvane.cha"));
    gLangBase = 0;
    EXPECT_EQ(GetErrorMessage(130), QStringLiteral("指定されたファイルがオープンできませんでした。"
                                                   "\r\n  ファイル名: /app/torvane.cha"));
}

TEST_F(Messages, ChecksumErrorShowsBothValues) {
    gLangBase = 100;
    gFlashCheckSum = "abcd"; // the description's text as it stands
    gObtainedCheckSum = 0x2F;
    EXPECT_EQ(GetErrorMessage(370), QStringLiteral("Flash ROM check sum error has happened.\r\n"
                                                   "  Correct value: abcd\r\n"
                                                   "  Obtained value: 002F"));
    gObtainedCheckSum = 0x1ABCD; // only the last four digits
    gLangBase = 0;
    EXPECT_EQ(GetErrorMessage(370),
              QStringLiteral("FlashROMのチェックサムエラーが発生しました。\r\n"
                             "  正常値: abcd\r\n  取得値: ABCD"));
}

TEST_F(Messages, MissingInformationNamesTheKey) {
    gLangBase = 100;
    gErrKey = "FSA";
    gErrFileName = "/store/a.ift";
    EXPECT_EQ(GetErrorMessage(123),
              QStringLiteral("Could not find the necessary information in the file.\r\n  FSA\r\n"
                             "  File name: /store/a.ift"));
}

TEST_F(Messages, ErrorWindowAddsTheStepName) {
    gLangBase = 100;
    gErrNo = 302;
    gFuncName = "AdjBitRate";
    const QString text = ErrorWindowText();
    EXPECT_EQ(text.split("\r\n").size(), 7); // five lines, an empty one, the step
    EXPECT_TRUE(text.endsWith("lit\r\n\r\n  Function: AdjBitRate"));
    EXPECT_EQ(ErrorCodeText(), "E302");
    gErrNo = 0;
    gFuncName.clear();
    EXPECT_EQ(ErrorWindowText(), "Error Detection Error");
    EXPECT_EQ(ErrorCodeText(), "E0");
    gLangBase = 0;
    gErrNo = 340;
    gFuncName = "CheckIrd";
    EXPECT_EQ(ErrorWindowText(),
              QStringLiteral("制限時間内に応答がありませんでした。\r\n\r\n  関数: CheckIrd"));
}

} // namespace
