#include "catalogue.h"
#include "error_messages.h"
#include "shared_state.h"

#include <gtest/gtest.h>

namespace {

TEST(Messages, CatalogueHoldsBothLanguagesWithEverySpace) {
    ResetSharedState();
    // clang-format off
    const std::pair<int, const char16_t *> rows[] = {
        {111, u"開  始"}, {102, u"Velmora QARN (Ver.3.31J) "}, {202, u"Velmora QARN (Ver.3.31E)"},
        {149, u"\u3000国/地域:"}, {249, u"  Country/Region: "}, {153, u" OK"}, {253, u"  OK"},
        {289, u"Unexpected\u3000error has happened."}, {229, u"2. Trun on the device."},
        {224, u"If downloading is stopped, the device will not work until downloading is completed. "}};
    // clang-format on
    for (const auto &[id, text] : rows)
        EXPECT_EQ(LoadResString(id), QString::fromUtf16(text)) << id;
    int entries = 0;
    for (int id = 0; id < 1000; ++id) {
        const bool japanese = id >= 100 && id < 200;
        entries += HasResString(id);
        EXPECT_TRUE(!HasResString(id) || japanese || (id >= 200 && id <= 292)) << id;
        EXPECT_EQ(japanese && HasResString(id), japanese && HasResString(id + 100)) << id;
        EXPECT_EQ(HasResString(id), !LoadResString(id).isEmpty()) << id;
    }
    EXPECT_EQ(entries, 2 * 67);
    for (const int unused : {165, 166, 167, 168, 179, 180})
        EXPECT_FALSE(HasResString(unused)) << unused;
}

TEST(Messages, ErrorNumbersGiveTheirTextsInBothLanguages) {
    // clang-format off
    struct Row { int16_t n; int32_t base; int16_t runErr; const char *file; const char16_t *text; };
    const Row rows[] = {
        {0, 100, 0, "", u"Error Detection Error"},
        {130, 100, 53, "/app/QARN.ini", u"Could not open the selected file.\r\n  File name: /app/QARN.ini"},
        {130, 0, 0, "/app/QARN.ini", u"指定されたファイルがオープンできませんでした。\r\n  ファイル名: /app/QARN.ini"},
        {121, 100, 0, "", u"Could not find the necessary file."},
        {111, 0, 0, "", u"必要な情報が書かれていませんでした。"},
        {331, 100, 0, "", u"Selected port is not available.\r\nSelect another port using \"COM Port Select\" in \"System Management\" of Main Menu."},
        {302, 100, 0, "", u"Could not complete serial communication adjustment within the time limit.\r\nCheck the following items:\r\n  Cable connection\r\n  Power of the connected device\r\n  If the Start LED of the control box is lit"},
        {304, 0, 0, "", u"制限時間内に通信の調整ができませんでした。\r\n以下の項目を確認してください。\r\n  選択した機種\r\n  Startランプが点灯しているか"},
        {330, 100, 0, "", u"Change of the communication setting for data transfer has failed."},
        {346, 100, 0, "", u"Did not receive the response within the time limit."},
        {345, 0, 0, "", u"通信エラーが発生しました。"},
        {343, 100, 0, "", u"Flash ROM erase error has happened."},
        {361, 100, 0, "", u"Flash ROM write error has happened."},
        {119, 100, 5, "/app/torvane.cha", u"Unexpected\u3000error has happened.\r\nErrNo 5:Invalid procedure call or argument\r\n  File name: /app/torvane.cha"},
        {118, 100, 75, "/app/torvane.cha.buk", u"Could not write the result to torvane.cha, so torvane was not started. Start torvane by hand.\r\nErrNo 75:Path/File access error\r\n  File name: /app/torvane.cha.buk"},
        {118, 0, 0, "", u"結果をtorvane.chaに書き込めなかったため、torvaneを起動していません。torvaneを手動で起動してください。"},
        {370, 0, 0, "", u"FlashROMのチェックサムエラーが発生しました。\r\n  正常値: abcd\r\n  取得値: ABCD"}};
    // clang-format on
    for (const Row &r : rows) {
        ResetSharedState();
        gLangBase = r.base;
        gRunErrNo = r.runErr;
        gErrFileName = r.file;
        gFlashCheckSum = "abcd";     // the description's text as it stands
        gObtainedCheckSum = 0x1ABCD; // only the last four digits show
        EXPECT_EQ(GetErrorMessage(r.n), QString::fromUtf16(r.text)) << r.n;
    }
    gLangBase = 100;
    gRunErrNo = 0;
    const QString unexpected = QString::fromUtf16(u"Unexpected\u3000error has happened.");
    for (int16_t n = -1; n < 400; ++n) { // every number of the table has a text of its own
        const bool listed = QList<int>{0,   100, 110, 111, 118, 120, 121, 122, 123, 130, 140, 160,
                                       170, 171, 300, 301, 302, 303, 304, 310, 312, 313, 330, 331,
                                       340, 341, 342, 343, 344, 345, 346, 347, 350, 360, 361, 370}
                                .contains(n);
        EXPECT_EQ(GetErrorMessage(n) != unexpected, listed) << n;
    }
}

TEST(Messages, ErrorWindowAddsTheStepNameAndTheKeyOfAMissingValue) {
    ResetSharedState();
    gLangBase = 100;
    gErrNo = 123;
    gErrKey = "FSA";
    gFuncName = "CheckIrd";
    EXPECT_EQ(ErrorWindowText(), "Could not find the necessary information in the file.\r\n  FSA"
                                 "\r\n\r\n  Function: CheckIrd");
    EXPECT_EQ(ErrorCodeText(), "E123");
}

} // namespace
