// The simulated target's answers that no download of the tool provokes: commands out of order,
// writes beyond its flash, checksum ranges outside it, and the faults of the other steps.

#include "adapter_chip.h"
#include "target_sim.h"

#include <gtest/gtest.h>

#include <map>

using namespace targetsim;

TEST(TargetSim, AnswersByteForByteAsScripted) {
    // Variant 2, blocks of 4 bytes, 8 bytes of flash at 1000 filled with 0F; the host's bytes
    // after the boot phase 00 55 00 03 01 02 03 (answered 00 AA 00 03 01 02 03).
    const std::tuple<const char *, std::function<void(SimConfig &)>, const char *, const char *>
        cases[] = {
            {"a write without data, then writes past the flash", [](SimConfig &) {},
             "12 1100000000 12 14 1100000000 12", "120001 110000 120000 140000 110000 12FFFF"},
            {"bits go from 1 to 0 only; the sum reads FF beyond the flash, 0 for a reversed range",
             [](SimConfig &) {}, "11F0FF3C01 12 1300000FFF00001001 130000100100001000",
             "11022C 120000 13010E 130000"},
            {"unknown bytes are ignored", [](SimConfig &) {}, "00FF1620 14", "140000"},
            {"silent from the kernel", [](SimConfig &c) { c.faults.silentAt = Step::KernelSum; },
             "100003", ""},
            {"the line drops at the write", [](SimConfig &c) { c.faults.dropAt = Step::Write; },
             "1101020304 12 14", "11000A drop"},
            {"the line drops at the flash sum",
             [](SimConfig &c) { c.faults.dropAt = Step::FlashSum; }, "130000100000001007", "drop"},
            {"a stray byte after the blank block",
             [](SimConfig &c) { c.faults.extraByteAt = Step::Blank; }, "14", "140000EE"}};
    for (const auto &[name, fault, input, expected] : cases) {
        SCOPED_TRACE(name);
        SimConfig config;
        config.variant = 2, config.blockSize = 4, config.flashStart = 0x1000;
        config.flashSize = 8, config.flashFill = 0x0F;
        fault(config);
        TargetSim sim(config);
        QStringList answers;
        for (const QString &command : ("00550003010203 " + QString(input)).split(' ')) {
            QByteArray answer;
            for (const char byte : QByteArray::fromHex(command.toLatin1()))
                for (const Action &action : sim.receive(static_cast<uint8_t>(byte)))
                    answer += action.kind == Action::Drop ? QByteArray("drop")
                                                          : action.bytes.toHex().toUpper();
            if (!answer.isEmpty())
                answers << answer;
        }
        EXPECT_EQ(answers.join(' ').toStdString(),
                  ("00AA0003010203 " + QString(expected)).trimmed().toStdString());
    }
    for (const char *step : {"adjust", "adjust-end", "kernel", "boot-erase", "kernel-ack",
                             "kernel-sum", "data", "write", "flash-sum", "blank", "erase"})
        EXPECT_EQ(stepName(*stepFromName(step)), step);
    EXPECT_FALSE(stepFromName("Adjust").has_value());
    // Variant 1 erases on 55: a wrong answer replaces its erase byte.
    SimConfig config;
    config.variant = 1, config.faults.ackAnswer = 0x11;
    TargetSim sim(config);
    sim.receive(0x00);
    EXPECT_EQ(sim.receive(0x55).value(0).bytes, QByteArray::fromHex("11"));
    EXPECT_TRUE(sim.finished());
}

// A USB adapter's chip at 16 ms: what it has handed on by each moment, bytes taken at moments.
TEST(AdapterChip, HoldsBytesForItsLatencySinceTheFirstThatWaitsOrUntil62Wait) {
    // name, bytes taken at each millisecond, bytes handed on by each millisecond
    const std::tuple<const char *, std::map<int, int>, std::map<int, int>> cases[] = {
        {"an echo waits the whole latency", {{0, 1}}, {{15, 0}, {16, 1}}},
        {"a later byte does not restart the timer", {{0, 1}, {10, 2}}, {{15, 0}, {16, 3}}},
        {"62 bytes go at once, the 63rd waits its own latency",
         {{5, 63}},
         {{5, 62}, {20, 62}, {21, 63}}},
        {"bytes after a hand-on start a new wait", {{0, 1}, {20, 1}}, {{16, 1}, {35, 1}, {36, 2}}}};
    for (const auto &[name, takes, handedOn] : cases) {
        SCOPED_TRACE(name);
        AdapterChip chip(std::chrono::milliseconds(16));
        QByteArray sent;
        for (int ms = 0; ms <= 40; ++ms) {
            const auto now = AdapterChip::Clock::time_point(std::chrono::milliseconds(ms));
            for (int i = 0; i < (takes.count(ms) ? takes.at(ms) : 0); ++i)
                chip.take(char(sent.size()), now), sent += char(sent.size());
            if (handedOn.count(ms)) {
                EXPECT_EQ(chip.ready(now).toHex(), sent.left(handedOn.at(ms)).toHex()) << ms;
            }
        }
    }
}
