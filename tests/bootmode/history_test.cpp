// The run history file: what a line holds as a spreadsheet reads it, a new file's header and the
// move aside when it is full.

#include "history.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

// A new file: the UTF-8 byte-order mark, then the header; before the fingerprints, it ended at
// the seconds.
const QByteArray kOldHeader = "\xEF\xBB\xBF"
                              "date,tool,command,firmware,port,device,adapter driver,adapter "
                              "vendor:product,adapter serial,boot bit rate,data bit rate,outcome,"
                              "error,checksum,FCS,seconds\r\n";
const QByteArray kHeader = kOldHeader.chopped(2) + ",kernel SHA-256,image SHA-256\r\n";

TEST(History, LinesAppendAsASpreadsheetReadsThemAndAFullFileMovesAside) {
    TempAppDir app;
    const QString path = app.filePath("h.csv");
    RunRecord r{QDateTime(QDate(2026, 12, 7), QTime(19, 20, 47), QTimeZone(-(5 * 3600 + 30 * 60))),
                "qarnctl",
                "flash",
                "/fw/a, c.ift",
                "COM1",
                "/dev/\"b\"",
                "=cmd|' /C calc'!A0", // a formula to a spreadsheet
                "0403:6001",
                " A10K ",
                "115200",
                "38400",
                "failed",
                370,
                "FEE5",
                "FEE6",
                7.26,
                QString(64, 'a'),
                ""};
    const QByteArray line =
        "2026-12-07T19:20:47-05:30,qarnctl,flash,\"/fw/a, c.ift\","
        "COM1,\"/dev/\"\"b\"\"\",'=cmd|' /C calc'!A0,0403:6001,\" A10K \",115200,38400,failed,"
        "370,0xFEE5,0xFEE6,7.3," +
        QByteArray(64, 'a') + ",\r\n"; // the sums stay text in a spreadsheet
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv"), kHeader + line + line);

    // Full: the next line would pass the limit, so the file moves aside, replacing an older one.
    const QByteArray full =
        kHeader + QByteArray(kHistoryLimit - line.size() + 1 - kHeader.size(), 'x');
    app.write("h.csv", full);
    app.write("h.csv.1", "older");
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv.1"), full);
    EXPECT_EQ(app.read("h.csv"), kHeader + line);
    app.write("h.csv", full.chopped(1)); // exactly at the limit with the line: stays
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv").size(), kHistoryLimit);

    // A file of the older layout moves aside whatever its size, beside the full one moved before
    // and beside an earlier file of another layout, never over either.
    app.write("h.csv.old", "earlier layout");
    app.write("h.csv", kOldHeader + "old line\r\n");
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv"), kHeader + line);
    EXPECT_EQ(
        QList<QByteArray>({app.read("h.csv.1"), app.read("h.csv.old"), app.read("h.csv.old2")}),
        QList<QByteArray>({full, "earlier layout", kOldHeader + "old line\r\n"}));
}

TEST(History, ARecordKeepsTheErrorOfAFailureAndTheChecksumTheTargetGave) {
    // outcome, the error number and checksum recorded with gErrNo 340 or 370 and sum 1234
    const std::tuple<const char *, int, int, const char *> cases[] = {
        {"stopped", 340, 0, ""}, // a Stop failed nothing, whatever the step had provisionally
        {"failed", 340, 340, ""},
        {"failed", 370, 370, "1234"},
        {"ok", 0, 0, "1234"},
        {"differs", 0, 0, "1234"}};
    gHistory = false; // recorded, not written
    for (const auto &[outcome, errNo, recorded, checksum] : cases) {
        SCOPED_TRACE(outcome);
        gErrNo = int16_t(errNo), gObtainedCheckSum = 0x1234;
        RunHistory history("qarnctl", "flash", "fw.ift");
        EXPECT_EQ(history.finish(outcome), "");
        EXPECT_EQ(history.record().errNo, recorded);
        EXPECT_EQ(history.record().checksum, checksum);
    }
    gHistory = true, gErrNo = 0;
}

} // namespace
