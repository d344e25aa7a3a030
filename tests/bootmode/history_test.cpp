// The run history file: what a line holds as a spreadsheet reads it, a new file's header, the
// move aside when it is full, a lock another run holds, and paths that are never written through.

#include "history.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const QByteArray full = kHeader + QByteArray(kHistoryLimit - line.size() + 1 - kHeader.size(), 'x');
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

    // A file of the older layout moves aside as a full one does, whatever its size; while
    // another run holds its lock, the line goes nowhere rather than under the other header.
    for (const bool held : {true, false}) {
        app.write("h.csv", kOldHeader + "old line\r\n");
        const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, held ? LOCK_EX : LOCK_UN), 0);
        EXPECT_EQ(AppendHistory(path, r), held ? path + " is busy and has an older header: "
                                                        "another run holds it, the line was not "
                                                        "written"
                                               : "");
        ::close(holder);
        EXPECT_EQ(app.read("h.csv"), held ? kOldHeader + "old line\r\n" : kHeader + line);
        EXPECT_EQ(app.read("h.csv.1"), held ? full : kOldHeader + "old line\r\n");
    }

    // A line cut short (here by the file-size limit, as by a full disk) is taken back: the
    // file ends as before, and the next line does not run on from half of this one.
    app.write("h.csv", kHeader + line);
    rlimit limit = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small = {rlim_t(kHeader.size() + line.size() + 10), limit.rlim_max};
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString cut = AppendHistory(path, r);
    ::setrlimit(RLIMIT_FSIZE, &limit), std::signal(SIGXFSZ, ignored);
    EXPECT_EQ(cut.toStdString(),
              (path + ": File too large, the line was not written").toStdString());
    EXPECT_EQ(app.read("h.csv"), kHeader + line);
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
