#include "catalogue.h"
#include "error_messages.h"
#include "shared_state.h"

#include <gtest/gtest.h>

namespace {

TEST(Messages, CatalogueHoldsBothLanguagesWithEverySpace) {
    ResetSharedState();
    EXPECT_EQ(
        QStringList({LoadResString(111), LoadResString(102), LoadResString(149), LoadResString(249),
                     LoadResString(253), LoadResString(289)})
            .join('|'),
        QString::fromUtf16(u"開  始|Velmora QARN (Ver.3.31J) |\u3000国/地域:|  Country/Region: "
                           u"|  OK|Unexpected\u3000error has happened."));
    int entries = 0;
    for (int id = 0; id < 1000; ++id) { // a Japanese and an English text for each offset
        const bool japanese = id >= 100 && id < 200;
        entries += HasResString(id);
        EXPECT_TRUE(!HasResString(id) || japanese || (id >= 200 && id <= 292)) << id;
        EXPECT_EQ(japanese && HasResString(id), japanese && HasResString(id + 100)) << id;
        EXPECT_EQ(HasResString(id), !LoadResString(id).isEmpty()) << id;
    }
    EXPECT_EQ(entries, 2 * 67);
    EXPECT_FALSE(HasResString(165) || HasResString(168) || HasResString(179) || HasResString(180));
}

TEST(Messages, ErrorNumbersGiveTheirTextsInBothLanguages) {
    // clang-format off
    const std::tuple<int16_t, int32_t, int16_t, const char *, const char16_t *> rows[] = {
        {0, 100, 0, "", u"Error Detection Error"},
        {130, 100, 53, "/a/QARN.ini", u"Could not open the selected file.\r\n  File name: /a/QARN.ini"},
        {130, 0, 0, "/a/QARN.ini", u"指定されたファイルがオープンできませんでした。\r\n  ファイル名: /a/QARN.ini"},
        {304, 0, 0, "", u"制限時間内に通信の調整ができませんでした。\r\n以下の項目を確認してください。\r\n  選択した機種\r\n  Startランプが点灯しているか"},
        {331, 100, 0, "", u"Selected port is not available.\r\nSelect another port using \"COM Port Select\" in \"System Management\" of Main Menu."},
        {119, 100, 5, "/a/torvane.cha", u"Unexpected\u3000error has happened.\r\nErrNo 5:Invalid procedure call or argument\r\n  File name: /a/torvane.cha"},
        {118, 100, 75, "/a/torvane.cha.buk", u"Could not write the result to torvane.cha, so torvane was not started. Start torvane by hand.\r\nErrNo 75:Path/File access error\r\n  File name: /a/torvane.cha.buk"},
        {118, 0, 0, "", u"結果をtorvane.chaに書き込めなかったため、torvaneを起動していません。torvaneを手動で起動してください。"},
        {370, 0, 0, "", u"FlashROMのチェックサムエラーが発生しました。\r\n  正常値: abcd\r\n  取得値: ABCD"},
        {123, 100, 0, "", u"Could not find the necessary information in the file.\r\n  FSA"}};
    // clang-format on
    for (const auto &[n, base, runErr, file, text] : rows) {
        gLangBase = base;
        gRunErrNo = runErr;
        gErrFileName = file;
        gErrKey = "FSA";
        gFlashCheckSum = "abcd";     // the description's text as it stands
        gObtainedCheckSum = 0x1ABCD; // only the last four digits show
        EXPECT_EQ(GetErrorMessage(n), QString::fromUtf16(text)) << n;
    }
    gRunErrNo = 0;
    gErrFileName.clear();
    gLangBase = 100;
    QStringList texts; // each number of the table has its text; any other the unexpected one
    for (const int16_t n : {100, 121, 111, 300, 302, 330, 340, 342, 343, 360, 314, 371, 999})
        texts << GetErrorMessage(n).section("\r\n", 0, 0).left(30);
    EXPECT_EQ(texts.join('|').toStdString(),
              "Could not open the selected fi|Could not find the necessary f|Could not find the "
              "necessary i|Could not open serial port.|Could not complete serial comm|Change of "
              "the communication se|Did not receive the response w|Communication error has "
              "happen|Flash ROM erase error has happ|Flash ROM write error has happ|Unexpected"
              "　error has happened.|Unexpected　error has happened.|Unexpected　error "
              "has happened.");
}

} // namespace
