// Every fuzz target replays its seed corpus and a few hundred deterministic mutations of it in
// the ordinary build, so a reader that starts to crash, hang or break its checks on odd bytes
// fails here before anyone runs the fuzzers.

#include "fuzz_targets.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <random>

void PrintTo(const FuzzTarget &target, std::ostream *os) {
    *os << target.name;
}

namespace {

std::string run(const FuzzTarget &target, const QByteArray &input) {
    return target.run(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
}

// Small edits of the kind that break line readers: flipped bits, lost bytes, line ends, control
// bytes and long runs, numbers at their limits, and pieces of other inputs.
QByteArray mutate(QByteArray input, const std::vector<QByteArray> &corpus, std::mt19937 &rng) {
    static const QByteArray kPieces[] = {
        "\r\n", "\r", QByteArray(1, '\0'), "\x82\xA0", "\xE3\x81", "\t",
        "=",    "&H", "99999999999",       "-1"};
    auto below = [&rng](qsizetype n) { return n <= 0 ? 0 : qsizetype(rng() % uint32_t(n)); };
    for (int e = 1 + int(rng() % 4); e > 0; --e) {
        const qsizetype at = below(input.size() + 1);
        switch (rng() % 6) {
        case 0:
            if (!input.isEmpty())
                input[below(input.size())] ^= char(1 << (rng() % 8));
            break;
        case 1:
            input.remove(at, 1 + below(8));
            break;
        case 2:
            input.insert(at, kPieces[rng() % std::size(kPieces)]);
            break;
        case 3:
            input.insert(at, QByteArray(1 + below(400), char('A' + rng() % 26)));
            break;
        case 4:
            input = input.left(at) + corpus[rng() % corpus.size()].mid(below(200));
            break;
        default:
            input.insert(at, char(rng() & 0xFF));
            break;
        }
    }
    return input;
}

class FuzzSmoke : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzSmoke, SeedsAndMutationsKeepEveryCheck) {
    const FuzzTarget target = GetParam();
    const QDir dir(QStringLiteral(QARN_FUZZ_CORPUS_DIR "/") + QLatin1String(target.name));
    std::vector<QByteArray> corpus;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        corpus.push_back(file.readAll());
        EXPECT_EQ(run(target, corpus.back()), "") << "seed " << name.toStdString();
    }
    ASSERT_GE(corpus.size(), 3u) << "seed corpus missing";
    std::mt19937 rng(std::hash<std::string>{}(target.name) & 0xFFFFFFFFu);
    for (int i = 0, failures = 0; i < 300 && failures < 5; ++i) {
        const QByteArray input = mutate(corpus[rng() % corpus.size()], corpus, rng);
        const std::string failure = run(target, input);
        if (!failure.empty() && ++failures)
            ADD_FAILURE() << failure << "\ninput (hex): " << input.toHex().constData();
    }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzSmoke, ::testing::ValuesIn(FuzzTargets()),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
