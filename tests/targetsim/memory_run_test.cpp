// Whole downloads, as the Start button runs them, against the simulated target on the
// in-memory port: every variant to success with the image in the flash, and the target's
// faults ending in their error numbers.

#include "download.h"
#include "link_clock.h"
#include "memory_port.h"
#include "memory_target.h"
#include "settings.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <functional>

using namespace targetsim;

namespace {

constexpr int kBlock = 16;
constexpr uint32_t kFlashSize = 0x100;

// Kernel of 5 bytes (sum 0x01 + 0x22 + 0x33 + 0x44 + 0xF0 = 0x018A).
const QByteArray kKernel = QByteArray::fromHex("01223344f0");
const char kKernelSum[] = "018A";

// Image: one data block, one blank block (skipped), and 8 bytes that end the third block.
QByteArray image() {
    QByteArray bytes;
    for (int i = 0; i < kBlock; ++i)
        bytes.append(static_cast<char>(0x10 + i));
    bytes.append(QByteArray(kBlock, static_cast<char>(0xFF)));
    bytes.append(QByteArray::fromHex("a0a1a2a3a4a5a6a7"));
    return bytes;
}

// The flash after a good download: the image, then FF to the end.
QByteArray expectedFlash() {
    QByteArray flash = image();
    flash.append(QByteArray(kFlashSize - flash.size(), static_cast<char>(0xFF)));
    return flash;
}

QString flashSumText(const QByteArray &flash) {
    uint32_t sum = 0;
    for (char byte : flash)
        sum += static_cast<uint8_t>(byte);
    return QString::number(sum & 0xFFFF, 16).toUpper().rightJustified(4, '0');
}

class MemoryRun : public ::testing::Test {
protected:
    MemoryRun() {
        SetDefaultSettings();
        app.write("kernel.bin", kKernel);
        app.write("image.bin", image());
        gPort = "1";
        gComm = &port;
        gIrdFile = app.filePath("kernel.bin");
        gPrgFile = app.filePath("image.bin");
        gIrdCheckSum = kKernelSum;
        gFlashStart = "00000000";
        gFlashEnd = "000000FF";
        gFlashCheckSum = flashSumText(expectedFlash());
        gPacketSize = kBlock;
        gWaitTime = "1";
        config.blockSize = kBlock;
        config.flashSize = kFlashSize;
        config.flashFill = 0x5A; // unerased: a missing erase shows in the flash
    }
    ~MemoryRun() override { gComm = nullptr; }

    bool run(int variant, QString &checksum) {
        gSeqType = static_cast<int16_t>(variant);
        config.variant = variant;
        MemoryTarget target(port, config);
        const bool ok = RunDownload(checksum);
        flash = target.target().flash();
        return ok;
    }

    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort port;
    SimConfig config;
    QByteArray flash;
};

} // namespace

TEST_F(MemoryRun, EveryVariantWritesTheImageAndReportsTheFlashSum) {
    for (int variant : {0, 1, 2, 3}) {
        SCOPED_TRACE(variant);
        QString checksum;
        EXPECT_TRUE(run(variant, checksum));
        EXPECT_EQ(gErrNo, 0);
        EXPECT_EQ(gDownloadState, 5);
        EXPECT_EQ(checksum, gFlashCheckSum);
        EXPECT_EQ(flash.toHex(), expectedFlash().toHex());
        EXPECT_FALSE(port.isOpen());
        port.clearRecord();
        SetDefaultSettings();
        gPacketSize = kBlock;
        gWaitTime = "1";
    }
}

TEST_F(MemoryRun, DataPhaseRunsAtTheSecondBitRate) {
    gBitRate = "9600";
    gBitRate2 = "38400";
    config.dataBitRate = 38400;
    QString checksum;
    EXPECT_TRUE(run(2, checksum));
    EXPECT_EQ(flash, expectedFlash());
}

struct MemoryFault {
    const char *name;
    int variant;
    std::function<void(SimConfig &)> fault;
    int errNo;
    int state; // gDownloadState where the run stopped
};

class MemoryRunFault : public MemoryRun, public ::testing::WithParamInterface<MemoryFault> {};

void PrintTo(const MemoryFault &c, std::ostream *os) {
    *os << c.name;
}

TEST_P(MemoryRunFault, EndsWithTheStepsErrorNumber) {
    const MemoryFault &c = GetParam();
    c.fault(config);
    QString checksum;
    EXPECT_FALSE(run(c.variant, checksum));
    EXPECT_EQ(gErrNo, c.errNo);
    EXPECT_EQ(gDownloadState, c.state);
    EXPECT_FALSE(port.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MemoryRunFault,
    ::testing::Values(
        MemoryFault{"NoAdjustAnswer", 0, [](SimConfig &c) { c.faults.noAdjustAnswer = true; }, 302,
                    1},
        MemoryFault{"WrongAdjustAnswer", 0, [](SimConfig &c) { c.faults.adjustAnswer = 0x80; }, 303,
                    1},
        MemoryFault{"ExtraByteAfterAdjust", 0,
                    [](SimConfig &c) { c.faults.extraByteAt = Step::Adjust; }, 304, 1},
        MemoryFault{"WrongAckAnswer", 2, [](SimConfig &c) { c.faults.ackAnswer = 0x11; }, 312, 1},
        MemoryFault{"WrongEraseByteAfter55", 1, [](SimConfig &c) { c.faults.ackAnswer = 0x11; },
                    343, 2},
        MemoryFault{"SilentAtAdjustEnd", 0,
                    [](SimConfig &c) { c.faults.silentAt = Step::AdjustEnd; }, 310, 1},
        MemoryFault{"CorruptEcho", 0, [](SimConfig &c) { c.faults.corruptEcho = 2; }, 314, 1},
        MemoryFault{"SilentInKernel", 2, [](SimConfig &c) { c.faults.silentAt = Step::Kernel; },
                    310, 1},
        MemoryFault{"BootEraseFails", 0, [](SimConfig &c) { c.faults.eraseFails = true; }, 350, 2},
        MemoryFault{"BootEraseFailsBeforeKernel", 1,
                    [](SimConfig &c) { c.faults.eraseFails = true; }, 350, 2},
        MemoryFault{"SilentKernelAck", 1, [](SimConfig &c) { c.faults.silentAt = Step::KernelAck; },
                    310, 3},
        MemoryFault{"KernelEraseFails", 2, [](SimConfig &c) { c.faults.eraseFails = true; }, 350,
                    3},
        MemoryFault{"WrongDataBitRate", 2, [](SimConfig &c) { c.dataBitRate = 19200; }, 340, 2},
        MemoryFault{"WriteFailsFFFF", 2, [](SimConfig &c) { c.faults.writeFailBlock = 0; }, 360, 4},
        MemoryFault{"WriteFails0001", 2,
                    [](SimConfig &c) {
                        c.faults.writeFailBlock = 2;
                        c.faults.writeFailStatus = 0x0001;
                    },
                    361, 4},
        MemoryFault{"BadBlockSum", 0, [](SimConfig &c) { c.faults.badBlockSum = 2; }, 341, 4},
        MemoryFault{"SilentAtWrite", 0, [](SimConfig &c) { c.faults.silentAt = Step::Write; }, 344,
                    4},
        MemoryFault{"SilentAtBlank", 0, [](SimConfig &c) { c.faults.silentAt = Step::Blank; }, 346,
                    4},
        MemoryFault{"BadFlashSum", 1, [](SimConfig &c) { c.faults.badFlashSum = true; }, 370, 4},
        MemoryFault{"DropInKernel", 0, [](SimConfig &c) { c.faults.dropAt = Step::Kernel; }, 313,
                    1},
        MemoryFault{"DropInBlock", 2, [](SimConfig &c) { c.faults.dropAt = Step::Data; }, 342, 4},
        MemoryFault{"DropAtFlashSum", 2, [](SimConfig &c) { c.faults.dropAt = Step::FlashSum; },
                    342, 4}),
    [](const ::testing::TestParamInfo<MemoryFault> &info) { return std::string(info.param.name); });

TEST_F(MemoryRun, BadFlashSumReportsTheObtainedValue) {
    config.faults.badFlashSum = true;
    QString checksum;
    EXPECT_FALSE(run(2, checksum));
    EXPECT_EQ(gErrNo, 370);
    const uint16_t good = static_cast<uint16_t>(gFlashCheckSum.toUInt(nullptr, 16));
    EXPECT_EQ(gObtainedCheckSum, (good + 1) & 0xFFFF);
}
