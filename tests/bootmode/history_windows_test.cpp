// Windows locks keep every other handle from the bytes they cover: the history's lock covers
// none of its data, so a run that did not get it still appends its line.

#include "history.h"
#include "history_file.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsHistory, ALockHeldByAnotherRunBlocksNoAppend) {
    TempAppDir app;
    const QString path = app.filePath("h.csv");
    const QByteArray full =
        HistoryHeader() + QByteArray(kHistoryLimit - HistoryHeader().size(), 'x');
    app.write("h.csv", full);
    RunRecord record;
    record.tool = "qarnctl";
    HistoryFile holder;
    QString why;
    ASSERT_TRUE(holder.open(path, QDeadlineTimer(0), why)) << why.toStdString();
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(AppendHistory(path, record), ""); // alone, into the full file: nothing moves
    EXPECT_TRUE(holder.append("held\r\n", why)) << why.toStdString();
    holder.close();
    EXPECT_EQ(app.read("h.csv"), full + HistoryLine(record) + "held\r\n");
    EXPECT_FALSE(app.exists("h.csv.1"));
}

} // namespace
