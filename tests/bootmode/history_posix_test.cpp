// The run history file where this system differs: a lock another run holds (an advisory lock,
// which leaves the bytes to every handle), a line cut short by a full disk, and paths that are
// never written through (links, folders, pipes).

#include "history.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(History, ALockHeldByAnotherRunLeavesTheFileAsItStandsAndACutLineIsTakenBack) {
    TempAppDir app;
    const QString path = app.filePath("h.csv");
    RunRecord r;
    r.tool = "qarnctl", r.outcome = "ok";
    const QByteArray line = HistoryLine(r);
    const QByteArray full =
        HistoryHeader() + QByteArray(kHistoryLimit - line.size() + 1 - HistoryHeader().size(), 'x');
    app.write("h.csv.1", "older");

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
        EXPECT_EQ(app.read("h.csv.1"), "older");
    }

    // While another run holds the lock of a file of the older layout (without the fingerprints),
    // the line goes nowhere rather than under the other header.
    const QByteArray older =
        QByteArray(HistoryHeader()).replace(",kernel SHA-256,image SHA-256", "");
    app.write("h.csv", older + "old line\r\n");
    const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(AppendHistory(path, r), path + " is busy and has an older header: another run holds "
                                             "it, the line was not written");
    ::close(holder);
    EXPECT_EQ(app.read("h.csv"), older + "old line\r\n");
    EXPECT_EQ(app.read("h.csv.1"), "older");

    // A line cut short (here by the file-size limit, as by a full disk) is taken back: the
    // file ends as before, and the next line does not run on from half of this one.
    const QByteArray before = HistoryHeader() + line;
    app.write("h.csv", before);
    rlimit limit = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small = {rlim_t(before.size() + 10), limit.rlim_max};
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString cut = AppendHistory(path, r);
    ::setrlimit(RLIMIT_FSIZE, &limit), std::signal(SIGXFSZ, ignored);
    EXPECT_EQ(cut.toStdString(),
              (path + ": File too large, the line was not written").toStdString());
    EXPECT_EQ(app.read("h.csv"), before);
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
