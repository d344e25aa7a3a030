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
        {304, 0, 0, "", u"制限時間内に通信の調整ができませんでした。\r\n以下の項目を確認してください。\r\n  選択した機種\r\n  Startランプが点灯しているか"},
        {331, 100, 0, "", u"Selected port is not available.\r\nSelect another port using \"COM Port Select\" in \"System Management\" of Main Menu."},
        {119, 100, 5, "/a/torvane.cha", u"Unexpected\u3000error has happened.\r\nErrNo 5:Invalid procedure call or argument\r\n  File name: /a/torvane.cha"},
        {118, 0, 0, "", u"結果をtorvane.chaに書き込めなかったため、torvaneを起動していません。torvaneを手動で起動してください。"},
        {370, 0, 0, "", u"FlashROMのチェックサムエラーが発生しました。\r\n  正常値: abcd\r\n  取得値: ABCD"},
        {123, 100, 0, "", u"Could not find the necessary information in the file.\r\n  FSA"}};
    // clang-format on
    // The description's check sum as it stands; of the one obtained only the last four digits show.
    std::tie(gErrKey, gFlashCheckSum, gObtainedCheckSum) = std::tuple("FSA", "abcd", 0x1ABCD);
    for (const auto &[n, base, runErr, file, text] : rows) {
        std::tie(gLangBase, gRunErrNo, gErrFileName) = std::tuple(base, runErr, file);
        EXPECT_EQ(GetErrorMessage(n), QString::fromUtf16(text)) << n;
    }
    std::tie(gRunErrNo, gErrFileName) = std::tuple(0, "");
    // clang-format off
    const std::pair<QList<int16_t>, int> groups[] = { // numbers and the catalogue text they begin with
        {{100, 110, 120, 130, 140, 160, 170, 171}, 161}, {{121, 122}, 163}, {{111}, 164}, {{300}, 169},
        {{301, 331}, 191}, {{302}, 170}, {{303, 304}, 175}, {{330}, 181}, {{310, 340, 344, 346}, 182},
        {{312, 313, 341, 342, 345, 347}, 183}, {{343, 350}, 184}, {{360, 361}, 185}, {{370}, 186},
        {{109, 129, 139, 149, 169, 314, 371, 999}, 189}};
    // clang-format on
    for (const auto &[numbers, id] : groups)
        for (const int16_t n : numbers)
            EXPECT_EQ(GetErrorMessage(n).section("\r\n", 0, 0), Msg(id)) << n;
}

} // namespace
