// The simulated target's command line.

#include "sim_options.h"

#include <gtest/gtest.h>

using namespace targetsim;

namespace {
std::optional<SimOptions> parse(const QStringList &args, QString *errorOut = nullptr) {
    QString error;
    auto options = parseSimOptions(args, error);
    if (errorOut)
        *errorOut = error;
    return options;
}
} // namespace

TEST(SimOptions, ReadsTheTargetTimingAndFaults) {
    const auto options = parse(
        {"--link",        "/tmp/x/COM1", "--variant",    "1",      "--block-size",    "128",
         "--flash-start", "0x20000",     "--flash-size", "8000",   "--flash-fill",    "00",
         "--boot-rate",   "19200",       "--data-rate",  "38400",  "--erase-time",    "300",
         "--write-time",  "7",           "--pace",       "--once", "--save-flash",    "/tmp/f.bin",
         "--write-fail",  "3:0001",      "--drop-at",    "kernel", "--bad-block-sum", "2",
         "--ack-answer",  "5a"});
    ASSERT_TRUE(options.has_value());
    const SimConfig &c = options->config;
    EXPECT_EQ(options->link, "/tmp/x/COM1");
    EXPECT_EQ(c.variant, 1);
    EXPECT_EQ(c.blockSize, 128);
    EXPECT_EQ(c.flashStart, 0x20000u);
    EXPECT_EQ(c.flashSize, 0x8000u);
    EXPECT_EQ(c.flashFill, 0x00);
    EXPECT_EQ(c.bootBitRate, 19200);
    EXPECT_EQ(c.dataBitRate, 38400);
    EXPECT_EQ(c.eraseTime.count(), 300);
    EXPECT_EQ(c.writeTime.count(), 7);
    EXPECT_TRUE(options->pace);
    EXPECT_TRUE(options->once);
    EXPECT_EQ(options->saveFlash, "/tmp/f.bin");
    EXPECT_EQ(c.faults.writeFailBlock, 3);
    EXPECT_EQ(c.faults.writeFailStatus, 0x0001);
    EXPECT_EQ(c.faults.dropAt, Step::Kernel);
    EXPECT_EQ(c.faults.badBlockSum, 2);
    EXPECT_EQ(c.faults.ackAnswer, std::optional<uint8_t>(0x5A));
    EXPECT_FALSE(c.faults.adjustAnswer.has_value());
}

TEST(SimOptions, DefaultsAreAnErasedFlashAtZeroWithBlocksOf512AtBoth9600) {
    const auto options = parse({"--link", "COM1"});
    ASSERT_TRUE(options.has_value());
    const SimConfig &c = options->config;
    EXPECT_EQ(c.variant, 0);
    EXPECT_EQ(c.blockSize, 512);
    EXPECT_EQ(c.flashStart, 0u);
    EXPECT_EQ(c.flashFill, 0xFF);
    EXPECT_EQ(c.bootBitRate, 9600);
    EXPECT_EQ(c.dataBitRate, 9600);
    EXPECT_EQ(c.faults.writeFailStatus, 0xFFFF);
    EXPECT_EQ(c.faults.writeFailBlock, -1);
    EXPECT_FALSE(options->once);
}

TEST(SimOptions, RefusesBadValues) {
    const QList<QStringList> bad = {
        {},                                // no link
        {"--link"},                        // no value
        {"--link", "C", "--variant", "4"}, // no such variant
        {"--link", "C", "--block-size", "0"},
        {"--link", "C", "--block-size", "32768"},
        {"--link", "C", "--flash-size", "0"},
        {"--link", "C", "--flash-size", "1000001"},
        {"--link", "C", "--flash-fill", "100"},
        {"--link", "C", "--drop-at", "somewhere"},
        {"--link", "C", "--write-fail", "x"},
        {"--link", "C", "--write-fail", "1:0"},
        {"--link", "C", "--write-fail", "1:2:3"},
        {"--link", "C", "--corrupt-echo", "-1"},
        {"--link", "C", "--frobnicate"},
    };
    for (const QStringList &args : bad) {
        QString error;
        EXPECT_FALSE(parse(args, &error).has_value()) << qPrintable(args.join(' '));
        EXPECT_FALSE(error.isEmpty()) << qPrintable(args.join(' '));
    }
}

TEST(SimOptions, HelpNeedsNoLinkAndDefinesTheChecksums) {
    const auto options = parse({"--help"});
    ASSERT_TRUE(options.has_value());
    EXPECT_TRUE(options->help);
    const QString text = usageText();
    EXPECT_TRUE(text.contains("kernel sum  sum of the kernel bytes received"));
    EXPECT_TRUE(text.contains("flash sum   sum of the flash bytes from FSA to FEA"));
    EXPECT_TRUE(text.contains("--drop-at STEP"));
}
