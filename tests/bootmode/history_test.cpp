// The run history file: what a line holds as a spreadsheet reads it, a new file's header, the
// move aside when it is full, a lock another run holds, and paths that are never written through.

#include "history.h"
#include "temp_app_dir.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new file: the UTF-8 byte-order mark, then the header.
const QByteArray kHeader = "\xEF\xBB\xBF"
                           "date,tool,command,firmware,port,device,adapter driver,adapter "
                           "vendor:product,adapter serial,boot bit rate,data bit rate,outcome,"
                           "error,checksum,FCS,seconds\r\n";

TEST(History, LinesAppendAsASpreadsheetReadsThemAndAFullFileMovesAside) {
    TempAppDir app;
    const QString path = app.filePath("h.csv");
    RunRecord r{QDateTime(QDate(2026, 12, 7), QTime(19, 20, 47), QTimeZone(-(5 * 3600 + 30 * 60))),
                "qarnctl",
                "flash",
                "/fw/a \"b\", c.ift",
                "COM1",
                "/dev/ttyUSB0",
                "=cmd|' /C calc'!A0", // a formula to a spreadsheet
                "0403:6001",
                " A10K ",
                "115200",
                "38400",
                "failed",
                370,
                "FEE5",
                "FEE6",
                7.26};
    const QByteArray line =
        "2026-12-07T19:20:47-05:30,qarnctl,flash,\"/fw/a \"\"b\"\", c.ift\","
        "COM1,/dev/ttyUSB0,'=cmd|' /C calc'!A0,0403:6001,\" A10K \",115200,38400,failed,"
        "370,0xFEE5,0xFEE6,7.3\r\n"; // the sums stay text in a spreadsheet
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv"), kHeader + line + line);

    // Full: the next line would pass the limit, so the file moves aside, replacing an older one.
    const QByteArray full = QByteArray(kHistoryLimit - line.size() + 1, 'x');
    app.write("h.csv", full);
    app.write("h.csv.1", "older");
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv.1"), full);
    EXPECT_EQ(app.read("h.csv"), kHeader + line);
    app.write("h.csv", full.chopped(1)); // exactly at the limit with the line: stays
    EXPECT_EQ(AppendHistory(path, r), "");
    EXPECT_EQ(app.read("h.csv").size(), kHistoryLimit);

    // Another run holds the lock past the wait: the line alone is appended to the file as it
    // stands, full or empty; nothing moves aside and no header is written.
    for (const QByteArray &before : {full, QByteArray()}) {
        app.write("h.csv", before);
        const int held = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        // Without the lock a line goes behind others, never into a file still without header.
        EXPECT_EQ(AppendHistory(path, r),
                  before.isEmpty() ? path + " is busy: another run holds it, the line was not "
                                            "written"
                                   : "");
        ::close(held);
        EXPECT_EQ(app.read("h.csv"), before.isEmpty() ? QByteArray() : before + line);
        EXPECT_EQ(app.read("h.csv.1"), full);
    }
}

TEST(History, ALinkAFolderOrAPipeIsNeverWrittenThrough) {
    TempAppDir app;
    app.write("target.csv", "kept");
    QDir().mkpath(app.filePath("dir.csv"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(app.filePath("pipe.csv")).constData(), 0600), 0);
    QFile::link(app.filePath("target.csv"), app.filePath("link.csv"));
    QFile::link(app.filePath("none.csv"), app.filePath("dangling.csv"));
    const std::pair<const char *, const char *> cases[] = {
        {"link.csv", " is a symbolic link, not written through"},
        {"dangling.csv", " is a symbolic link, not written through"},
        {"dir.csv", " is not a regular file, not written"},
        {"pipe.csv", " is not a regular file, not written"},
        {"no/h.csv", ": No such file or directory"}};
    for (const auto &[name, why] : cases)
        EXPECT_EQ(AppendHistory(app.filePath(name), RunRecord{}).toStdString(),
                  (app.filePath(name) + why).toStdString());
    EXPECT_EQ(app.read("target.csv"), "kept");
    EXPECT_FALSE(app.exists("none.csv"));
}

} // namespace
