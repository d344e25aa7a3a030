// Every fuzz target replays its seed corpus and a few hundred deterministic mutations of it in
// the ordinary build, so a reader that starts to crash, hang or break its checks on odd bytes
// fails here before anyone runs the fuzzers.

#include "fuzz_app_dir.h"
#include "fuzz_targets.h"

#include "shared_state.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <random>

// Test names and failure messages show the target by its name.
void PrintTo(const FuzzTarget &target, std::ostream *os) {
    *os << target.name;
}

namespace {

constexpr int kMutationsPerTarget = 300;

std::vector<QByteArray> corpusOf(const char *target) {
    std::vector<QByteArray> inputs;
    const QDir dir(QStringLiteral(QARN_FUZZ_CORPUS_DIR "/") + QLatin1String(target));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            inputs.push_back(file.readAll());
    }
    return inputs;
}

// Small edits of the kind that break line readers: flipped bits, lost and doubled bytes, line
// ends, control bytes, long runs, and pieces of other inputs.
QByteArray mutate(QByteArray input, const std::vector<QByteArray> &corpus, std::mt19937 &rng) {
    auto below = [&rng](qsizetype n) {
        return n <= 0 ? qsizetype(0) : qsizetype(rng() % static_cast<uint32_t>(n));
    };
    static const QByteArray kPieces[] = {
        "\r\n", "\r", "\n", QByteArray(1, '\0'), "\xFF\xFE", "\x82\xA0", "\xE3\x81", " ",
        "\t",   "=",  "&H", "99999999999",       "-1",       "0"};
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const qsizetype at = below(input.size() + 1);
        switch (rng() % 8) {
        case 0:
            if (!input.isEmpty()) {
                const qsizetype i = below(input.size());
                input[i] = static_cast<char>(input[i] ^ (1 << (rng() % 8)));
            }
            break;
        case 1:
            input.remove(at, 1 + below(8));
            break;
        case 2:
            input.insert(at, static_cast<char>(rng() & 0xFF));
            break;
        case 3:
            input.insert(at, kPieces[rng() % std::size(kPieces)]);
            break;
        case 4:
            input.insert(at, QByteArray(1 + below(400), static_cast<char>('A' + rng() % 26)));
            break;
        case 5:
            if (!input.isEmpty()) {
                const qsizetype from = below(input.size());
                input.insert(at, input.mid(from, 1 + below(32)));
            }
            break;
        case 6: {
            const QByteArray &other = corpus[rng() % corpus.size()];
            input = input.left(at) + other.mid(below(other.size()));
            break;
        }
        default:
            input.truncate(at);
            break;
        }
    }
    return input;
}

class FuzzSmoke : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzSmoke, SeedCorpusKeepsEveryCheck) {
    const FuzzTarget target = GetParam();
    const std::vector<QByteArray> corpus = corpusOf(target.name);
    ASSERT_GE(corpus.size(), 3u) << "seed corpus of " << target.name << " is missing";
    for (size_t i = 0; i < corpus.size(); ++i) {
        const QByteArray &input = corpus[i];
        EXPECT_EQ(
            target.run(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size())),
            "")
            << target.name << " seed " << i;
    }
}

TEST_P(FuzzSmoke, MutatedInputsKeepEveryCheck) {
    const FuzzTarget target = GetParam();
    const std::vector<QByteArray> corpus = corpusOf(target.name);
    ASSERT_FALSE(corpus.empty());
    std::mt19937 rng(std::hash<std::string>{}(target.name) & 0xFFFFFFFFu);
    int failures = 0;
    for (int i = 0; i < kMutationsPerTarget && failures < 5; ++i) {
        const QByteArray input = mutate(corpus[rng() % corpus.size()], corpus, rng);
        const std::string failure =
            target.run(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        if (!failure.empty()) {
            ++failures;
            ADD_FAILURE() << failure << "\ninput (hex): " << input.toHex().constData();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzSmoke, ::testing::ValuesIn(FuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTarget> &info) {
                             return std::string(info.param.name);
                         });

TEST(FuzzChecks, ReaderOutcomeCatchesEachBrokenRule) {
    struct Case {
        const char *what;
        bool ok;
        int errNo;
        int runErrNo;
        const char *file; // relative to the application folder; "" = none
        bool broken;
    };
    const Case cases[] = {
        {"clean success", true, 0, 0, "", false},
        {"success with an error number", true, 139, 0, "", true},
        {"success naming a file", true, 0, 0, "QARN.ini", true},
        {"missing file", false, 130, 0, "QARN.ini", false},
        {"foreign number", false, 140, 0, "QARN.ini", true},
        {"other file named", false, 130, 0, "torvane.ini", true},
        {"x9 with its code", false, 139, 57, "QARN.ini", false},
        {"x9 without a code", false, 139, 0, "QARN.ini", true},
    };
    for (const Case &c : cases) {
        const QString dir = FuzzAppDir();
        gErrNo = int16_t(c.errNo);
        gRunErrNo = int16_t(c.runErrNo);
        gErrFileName = *c.file ? QDir(dir).filePath(QLatin1String(c.file)) : QString();
        const std::string failure =
            CheckReaderOutcome("QARN.ini", c.ok, {130, 139}, QDir(dir).filePath("QARN.ini"));
        EXPECT_EQ(!failure.empty(), c.broken) << c.what << ": " << failure;
    }
}

TEST(FuzzChecks, ProtocolRunWithoutFaultsSucceedsInEveryVariant) {
    // variant, block size choice 16, kernel of 5 bytes, data rate 9600, no control bytes: the
    // target's own answers must carry the run to the end (the entry reports it otherwise).
    for (const uint8_t variant : {0x00, 0x01, 0x02, 0x03, 0x41}) {
        const uint8_t input[] = {variant, 0x00, 0x05, 0x00};
        EXPECT_EQ(FuzzProtocol(input, sizeof input), "") << int(variant);
        EXPECT_EQ(gErrNo, 0) << int(variant);
        EXPECT_EQ(gDownloadState, 5) << int(variant);
    }
}

TEST(FuzzChecks, ProtocolRunEndsInItsErrorWhenTheTargetFallsSilent) {
    // The target's one answer to the 00 pattern is lost: the adjustment runs out of time.
    const uint8_t silent[] = {0x00, 0x00, 0x05, 0x00, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0};
    EXPECT_EQ(FuzzProtocol(silent, sizeof silent), "");
    EXPECT_EQ(gErrNo, 302);
    EXPECT_EQ(gDownloadState, 1);
}

} // namespace
