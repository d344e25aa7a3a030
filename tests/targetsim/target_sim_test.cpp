// The simulated target's core: the boot program's answers per variant, the kernel's commands
// over the emulated flash, the line-speed check and every scripted fault, byte for byte.

#include "target_sim.h"

#include <gtest/gtest.h>

using namespace targetsim;
using std::chrono::milliseconds;

namespace {

struct Answer {
    QByteArray bytes;
    int drops = 0;
    QList<milliseconds> delays; // of the send actions that carried a delay
};

Answer feed(TargetSim &sim, const QByteArray &in, int bitRate = 0) {
    Answer answer;
    for (char byte : in) {
        for (const Action &action : sim.receive(static_cast<uint8_t>(byte), bitRate)) {
            if (action.kind == Action::Drop) {
                ++answer.drops;
                continue;
            }
            answer.bytes += action.bytes;
            if (action.delay.count() != 0)
                answer.delays.append(action.delay);
        }
    }
    return answer;
}

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

// A small target: blocks of 4 bytes, 16 bytes of flash at 1000.
SimConfig smallConfig(int variant = 2) {
    SimConfig config;
    config.variant = variant;
    config.blockSize = 4;
    config.flashStart = 0x1000;
    config.flashSize = 16;
    return config;
}

// Adjustment, 55, kernel 01 02 03 (sum 0006): whatever the variant answers, up to the kernel.
void loadKernel(TargetSim &sim) {
    feed(sim, hex("00"));
    feed(sim, hex("55"));
    feed(sim, hex("0003010203"));
    ASSERT_TRUE(sim.kernelLoaded());
}

} // namespace

TEST(TargetSimBoot, AnswersTheZeroPatternWithZeroAndIgnoresOtherNoise) {
    TargetSim sim(smallConfig());
    EXPECT_EQ(feed(sim, hex("7f80")).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("00")).bytes, hex("00"));
    // Late 00 bytes of the pattern do not count as the end of adjustment.
    EXPECT_EQ(feed(sim, hex("0000")).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("55")).bytes, hex("aa"));
}

struct VariantCase {
    int variant;
    const char *afterAdjustEnd; // answer to 55
    const char *afterKernel;    // what follows the last kernel echo
};

class TargetSimVariant : public ::testing::TestWithParam<VariantCase> {};

void PrintTo(const VariantCase &c, std::ostream *os) {
    *os << "variant " << c.variant;
}

TEST_P(TargetSimVariant, BootProgramAnswersInTheVariantsOrder) {
    const VariantCase c = GetParam();
    SimConfig config = smallConfig(c.variant);
    config.flashFill = 0x00; // so an erase shows
    TargetSim sim(config);
    EXPECT_EQ(feed(sim, hex("00")).bytes, hex("00"));
    EXPECT_EQ(feed(sim, hex("55")).bytes, hex(c.afterAdjustEnd));
    EXPECT_EQ(feed(sim, hex("0003a1b2")).bytes, hex("0003a1b2"));
    EXPECT_FALSE(sim.kernelLoaded());
    EXPECT_EQ(feed(sim, hex("c3")).bytes, QByteArray(hex("c3") + hex(c.afterKernel)));
    EXPECT_TRUE(sim.kernelLoaded());
    EXPECT_EQ(feed(sim, hex("100003")).bytes, hex("100216")); // A1 + B2 + C3 = 0216
}

INSTANTIATE_TEST_SUITE_P(Variants, TargetSimVariant,
                         ::testing::Values(VariantCase{0, "aa", "aa"}, VariantCase{1, "aa", "aa"},
                                           VariantCase{2, "aa", ""}, VariantCase{3, "aa", ""}));

TEST(TargetSimBoot, BootEraseClearsTheFlashOnlyInVariantsZeroAndOne) {
    for (int variant : {0, 1, 2}) {
        SimConfig config = smallConfig(variant);
        config.flashFill = 0x12;
        TargetSim sim(config);
        loadKernel(sim);
        const char expected = variant == 2 ? 0x12 : static_cast<char>(0xFF);
        EXPECT_EQ(sim.flash(), QByteArray(16, expected)) << "variant " << variant;
    }
}

TEST(TargetSimBoot, EraseTimeDelaysTheBootProgramsEraseAnswer) {
    for (int variant : {0, 1}) {
        SimConfig config = smallConfig(variant);
        config.eraseTime = milliseconds(250);
        TargetSim sim(config);
        feed(sim, hex("00"));
        const Answer afterAdjustEnd = feed(sim, hex("55"));
        const Answer afterKernel = feed(sim, hex("000101"));
        const Answer erase = variant == 1 ? afterAdjustEnd : afterKernel;
        EXPECT_EQ(erase.delays, QList<milliseconds>{milliseconds(250)}) << "variant " << variant;
    }
}

TEST(TargetSimKernel, CommandsBeforeTheKernelIsLoadedGetNoAnswer) {
    TargetSim sim(smallConfig());
    EXPECT_EQ(feed(sim, hex("1012")).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("15141311")).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("00")).bytes, hex("00"));
    EXPECT_EQ(feed(sim, hex("1514")).bytes, QByteArray()); // awaiting 55
    EXPECT_FALSE(sim.kernelLoaded());
    EXPECT_EQ(sim.flash(), QByteArray(16, static_cast<char>(0xFF)));
}

TEST(TargetSimKernel, PlacesBlocksOneAfterAnotherAndSkippedBlocksStayErased) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    EXPECT_EQ(feed(sim, hex("1101020304")).bytes, hex("11000a"));
    EXPECT_EQ(feed(sim, hex("12")).bytes, hex("120000"));
    EXPECT_EQ(feed(sim, hex("14")).bytes, hex("140000"));
    EXPECT_EQ(feed(sim, hex("11a0a1a2ff")).bytes, hex("1102e2"));
    EXPECT_EQ(feed(sim, hex("12")).bytes, hex("120000"));
    EXPECT_EQ(sim.flash(), hex("01020304ffffffffa0a1a2ffffffffff"));
    EXPECT_EQ(sim.nextBlock(), 3);
    EXPECT_FALSE(sim.finished());
}

TEST(TargetSimKernel, FlashSumCoversTheRangeBothEndsIncluded) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    feed(sim, hex("110102030412"));
    // 1000..1003 = 01 02 03 04
    EXPECT_EQ(feed(sim, hex("130000100000001003")).bytes, hex("13000a"));
    EXPECT_TRUE(sim.finished());
}

TEST(TargetSimKernel, FlashSumReadsUnmappedAddressesAsFF) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    feed(sim, hex("110102030412"));
    // 0FFE, 0FFF unmapped (FF FF), then 01 02: 01FE + 03 = 0201
    EXPECT_EQ(feed(sim, hex("1300000ffe00001001")).bytes, hex("130201"));
}

TEST(TargetSimKernel, FlashSumOfAReversedRangeIsZeroAndTheWholeAddressSpaceIsQuick) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    feed(sim, hex("11000000ff12")); // 1000..1002 become 00
    EXPECT_EQ(feed(sim, hex("130000100100001000")).bytes, hex("130000"));
    // 2^32 bytes of FF sum to 0 modulo 65536; the three 00 bytes take 3 * FF off: FD03.
    EXPECT_EQ(feed(sim, hex("1300000000ffffffff")).bytes, hex("13fd03"));
}

TEST(TargetSimKernel, WriteProgramsBitsOnlyFromOneToZero) {
    SimConfig config = smallConfig();
    config.flashFill = 0x0F;
    TargetSim sim(config);
    loadKernel(sim);
    feed(sim, hex("11f0ff3c0112"));
    EXPECT_EQ(sim.flash().left(4), hex("000f0c01"));
    EXPECT_EQ(feed(sim, hex("15")).bytes, hex("150000"));
    EXPECT_EQ(sim.flash(), QByteArray(16, static_cast<char>(0xFF)));
}

TEST(TargetSimKernel, WriteBeyondTheFlashOrWithoutDataFails) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    EXPECT_EQ(feed(sim, hex("12")).bytes, hex("120001")); // no block waiting
    feed(sim, hex("14141414"));                           // 16 bytes skipped
    feed(sim, hex("1100000000"));
    EXPECT_EQ(feed(sim, hex("12")).bytes, hex("12ffff"));
    EXPECT_EQ(sim.flash(), QByteArray(16, static_cast<char>(0xFF)));
}

TEST(TargetSimKernel, WriteTimeDelaysEachWriteAnswer) {
    SimConfig config = smallConfig();
    config.writeTime = milliseconds(40);
    TargetSim sim(config);
    loadKernel(sim);
    EXPECT_EQ(feed(sim, hex("110102030412")).delays, QList<milliseconds>{milliseconds(40)});
    EXPECT_TRUE(feed(sim, hex("14")).delays.isEmpty());
}

TEST(TargetSimKernel, UnknownCommandBytesAreIgnored) {
    TargetSim sim(smallConfig());
    loadKernel(sim);
    EXPECT_EQ(feed(sim, hex("00ff1620")).bytes, QByteArray());
    EXPECT_EQ(sim.ignoredBytes(), 4);
    EXPECT_EQ(feed(sim, hex("14")).bytes, hex("140000"));
}

TEST(TargetSimLine, BytesAtTheWrongSpeedAreNoise) {
    SimConfig config = smallConfig();
    config.bootBitRate = 9600;
    config.dataBitRate = 38400;
    TargetSim sim(config);
    EXPECT_EQ(feed(sim, hex("00"), 19200).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("00"), 9600).bytes, hex("00"));
    feed(sim, hex("55000101"), 9600);
    ASSERT_TRUE(sim.kernelLoaded());
    EXPECT_EQ(sim.expectedBitRate(), 38400);
    EXPECT_EQ(feed(sim, hex("100001"), 9600).bytes, QByteArray());
    EXPECT_EQ(feed(sim, hex("100001"), 38400).bytes, hex("100001"));
}

struct FaultCase {
    const char *name;
    std::function<void(SimConfig &)> fault;
    const char *input;    // from a fresh target
    const char *expected; // everything it answers
    int drops;
    bool finished;
};

class TargetSimFault : public ::testing::TestWithParam<FaultCase> {};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

TEST_P(TargetSimFault, AnswersAsScripted) {
    const FaultCase &c = GetParam();
    SimConfig config = smallConfig(2);
    c.fault(config);
    TargetSim sim(config);
    const Answer answer = feed(sim, hex(c.input));
    EXPECT_EQ(answer.bytes.toHex(' '), hex(c.expected).toHex(' '));
    EXPECT_EQ(answer.drops, c.drops);
    EXPECT_EQ(sim.finished(), c.finished);
}

// Boot phase of variant 2: 00 55 00 04 k0..k3, answered 00 AA 00 04 k0..k3.
#define BOOT                                                                                       \
    "00"                                                                                           \
    "55"                                                                                           \
    "0004a1b2c3d4"
#define BOOT_ANSWER                                                                                \
    "00"                                                                                           \
    "aa"                                                                                           \
    "0004a1b2c3d4"

INSTANTIATE_TEST_SUITE_P(
    Faults, TargetSimFault,
    ::testing::Values(
        FaultCase{"NoAdjustAnswer", [](SimConfig &c) { c.faults.noAdjustAnswer = true; }, "000000",
                  "", 0, false},
        FaultCase{"WrongAdjustAnswer", [](SimConfig &c) { c.faults.adjustAnswer = 0x80; }, "00",
                  "80", 0, true},
        FaultCase{"WrongAckAnswer", [](SimConfig &c) { c.faults.ackAnswer = 0x11; }, "0055", "0011",
                  0, true},
        FaultCase{"CorruptEcho", [](SimConfig &c) { c.faults.corruptEcho = 1; }, BOOT,
                  "00aa0004a14dc3d4", 0, true},
        FaultCase{"SilentAtKernelSum", [](SimConfig &c) { c.faults.silentAt = Step::KernelSum; },
                  BOOT "100004"
                       "14",
                  BOOT_ANSWER, 0, false},
        FaultCase{"SilentAtKernel", [](SimConfig &c) { c.faults.silentAt = Step::Kernel; }, BOOT,
                  "00aa", 0, false},
        FaultCase{"EraseFailsOnCommand", [](SimConfig &c) { c.faults.eraseFails = true; },
                  BOOT "15", BOOT_ANSWER "15ffff", 0, true},
        FaultCase{"WriteFailsOnSecondBlock",
                  [](SimConfig &c) {
                      c.faults.writeFailBlock = 1;
                      c.faults.writeFailStatus = 0x0001;
                  },
                  BOOT "110000000112"
                       "110000000212",
                  BOOT_ANSWER "110001120000"
                              "110002120001",
                  0, true},
        FaultCase{"WriteFailsWithFFFF", [](SimConfig &c) { c.faults.writeFailBlock = 0; },
                  BOOT "110000000112", BOOT_ANSWER "11000112ffff", 0, true},
        FaultCase{"BadBlockSum", [](SimConfig &c) { c.faults.badBlockSum = 0; }, BOOT "1101010101",
                  BOOT_ANSWER "110005", 0, true},
        FaultCase{"BadFlashSum", [](SimConfig &c) { c.faults.badFlashSum = true; },
                  BOOT "130000100000001000", BOOT_ANSWER "130100", 0, true},
        FaultCase{"ExtraByteAfterAdjust", [](SimConfig &c) { c.faults.extraByteAt = Step::Adjust; },
                  "00", "00ee", 0, false},
        FaultCase{"ExtraByteAfterBlank", [](SimConfig &c) { c.faults.extraByteAt = Step::Blank; },
                  BOOT "14", BOOT_ANSWER "140000ee", 0, false},
        FaultCase{"DropInTheMiddleOfTheKernel",
                  [](SimConfig &c) { c.faults.dropAt = Step::Kernel; }, BOOT "14", "00aa0004a1b2",
                  1, true},
        FaultCase{"DropInTheMiddleOfABlock", [](SimConfig &c) { c.faults.dropAt = Step::Data; },
                  BOOT "1101020304", BOOT_ANSWER, 1, true},
        FaultCase{"DropAtWrite", [](SimConfig &c) { c.faults.dropAt = Step::Write; },
                  BOOT "110102030412"
                       "14",
                  BOOT_ANSWER "11000a", 1, true}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

TEST(TargetSimFaults, EraseFailureInTheBootProgramAnswersFF) {
    for (int variant : {0, 1}) {
        SimConfig config = smallConfig(variant);
        config.faults.eraseFails = true;
        TargetSim sim(config);
        const Answer answer = feed(sim, hex("0055000101"));
        const QByteArray expected = variant == 0 ? hex("00aa000101ff") : hex("00ff000101aa");
        EXPECT_EQ(answer.bytes.toHex(' '), expected.toHex(' ')) << "variant " << variant;
        EXPECT_TRUE(sim.finished());
    }
}

TEST(TargetSimFaults, WrongAnswerTo55InVariantOneReplacesTheEraseByte) {
    SimConfig config = smallConfig(1);
    config.faults.ackAnswer = 0x11;
    config.eraseTime = milliseconds(70);
    TargetSim sim(config);
    feed(sim, hex("00"));
    const Answer answer = feed(sim, hex("55"));
    EXPECT_EQ(answer.bytes, hex("11"));
    EXPECT_EQ(answer.delays, QList<milliseconds>{milliseconds(70)});
    EXPECT_TRUE(sim.finished());
}

TEST(TargetSimFaults, SilentAtAdjustEndInVariantOneLeavesFiftyFiveUnanswered) {
    SimConfig config = smallConfig(1);
    config.faults.silentAt = Step::BootErase;
    TargetSim sim(config);
    EXPECT_EQ(feed(sim, hex("0055000101")).bytes, hex("00"));
    EXPECT_TRUE(sim.dead());
}

TEST(TargetSimSteps, NamesRoundTripAndUnknownNamesAreRefused) {
    for (const char *name : {"adjust", "adjust-end", "kernel", "boot-erase", "kernel-ack",
                             "kernel-sum", "data", "write", "flash-sum", "blank", "erase"}) {
        const auto step = stepFromName(name);
        ASSERT_TRUE(step.has_value()) << name;
        EXPECT_EQ(stepName(*step), QString(name));
    }
    EXPECT_FALSE(stepFromName("Adjust").has_value());
    EXPECT_FALSE(stepFromName("").has_value());
}
