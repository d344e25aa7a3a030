// Every fuzz target on its seed corpus and a few hundred deterministic mutations of it, so a reader
// that starts to crash, hang or break its checks on odd bytes fails before anyone runs a fuzzer.

#include "fuzz_targets.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <random>

// Small edits of the kind that break line readers: flipped bits, lost bytes, line ends, control
// bytes and long runs, numbers at their limits, and pieces of other inputs.
static QByteArray mutate(QByteArray input, const std::vector<QByteArray> &corpus,
                         std::mt19937 &rng) {
    static const QByteArray kPieces[] = {
        "\r\n", "\r", QByteArray(1, '\0'), "\x82\xA0", "\xE3\x81", "\t",
        "=",    "&H", "99999999999",       "-1"};
    auto below = [&rng](qsizetype n) { return n <= 0 ? 0 : qsizetype(rng() % uint32_t(n)); };
    for (int e = 1 + int(rng() % 4); e > 0; --e) {
        const qsizetype at = below(input.size() + 1);
        const uint32_t kind = rng() % 6;
        if (kind == 0 && !input.isEmpty())
            input[below(input.size())] ^= char(1 << (rng() % 8));
        else if (kind == 1)
            input.remove(at, 1 + below(8));
        else if (kind == 2)
            input.insert(at, kPieces[rng() % std::size(kPieces)]);
        else if (kind == 3)
            input.insert(at, QByteArray(1 + below(400), char('A' + rng() % 26)));
        else if (kind == 4)
            input = input.left(at) + corpus[rng() % corpus.size()].mid(below(200));
        else if (kind == 5)
            input.insert(at, char(rng() & 0xFF));
    }
    return input;
}

TEST(FuzzSmoke, EveryTargetKeepsItsChecksOnSeedsAndMutations) {
    for (const FuzzTarget &target : FuzzTargets()) {
        SCOPED_TRACE(target.name);
        const QDir dir(QStringLiteral(QARN_FUZZ_CORPUS_DIR "/") + QLatin1String(target.name));
        std::vector<QByteArray> corpus;
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            corpus.push_back(file.readAll());
            EXPECT_EQ(target.run(corpus.back()), "") << "seed " << name.toStdString();
        }
        ASSERT_GE(corpus.size(), 3u) << "seed corpus missing";
        std::mt19937 rng(std::hash<std::string>{}(target.name) & 0xFFFFFFFFu);
        for (int i = 0, failures = 0; i < 300 && failures < 5; ++i) {
            const QByteArray input = mutate(corpus[rng() % corpus.size()], corpus, rng);
            if (const std::string failure = target.run(input); !failure.empty() && ++failures)
                ADD_FAILURE() << failure << "\ninput (hex): " << input.toHex().constData();
        }
    }
}
