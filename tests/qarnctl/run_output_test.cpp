#include "run_output.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

// Standard error is a pipe that nobody reads until everything has been said: the writer stands
// on the full pipe, what is said meanwhile queues, and past the bound only progress is dropped.
// The outcome still arrives, behind every byte said before it, and once the reader has caught
// up nothing is dropped any more.
TEST(RunOutput, WhileTheReaderStandsOnlyProgressIsDroppedAndTheOutcomeArrivesLast) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_GT(::fcntl(ends[1], F_SETPIPE_SZ, 4096), 0); // holds far less than the opening
    const int savedError = ::dup(STDERR_FILENO);
    ASSERT_GE(savedError, 0);
    ASSERT_EQ(::dup2(ends[1], STDERR_FILENO), STDERR_FILENO);
    ::close(ends[1]);

    const QByteArray opening(100 * 1024, 'o');
    const QByteArray progress(1024, 'p');
    Say(stderr, opening);
    for (int line = 0; line < 512; ++line) // twice the bound
        Say(stderr, progress, true);
    Say(stderr, "error 342\n");
    Say(stderr, "outcome\n");

    QByteArray received;
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            received.append(buffer, n);
    });
    FinishSaying();
    Say(stderr, "[5/5]\n", true); // once the reader has caught up, progress goes out again
    FinishSaying();
    ::dup2(savedError, STDERR_FILENO); // the pipe's last writer goes: the reader sees its end
    ::close(savedError);
    reader.join();
    ::close(ends[0]);

    // The opening stood queued all along, so the progress kept is what fits beside it.
    const QByteArray keptProgress = QByteArray(256 * 1024 - opening.size(), 'p');
    EXPECT_EQ(received, opening + keptProgress + "error 342\noutcome\n[5/5]\n");
}
