#pragma once
// The simulated target: the chip's boot program and the write kernel it loads, byte for byte
// as the host sees them on the wire, over an emulated flash memory, with scripted faults.
//
// Boot program (at the boot-phase bit rate):
//   00 ...          -> 00          bit-rate adjustment, answered after the first 00
//   55              -> AA          end of adjustment (variants 0 and 2)
//   55              -> AA | FF     variant 1: the boot program erases the flash first, and its
//                                  erase-complete byte is the only answer to 55
//   LH LL k0 .. kN  -> each echoed the kernel's 16-bit length, then the kernel itself
//   (after kernel)  -> AA | FF     variant 0: the boot program erases the flash, then answers
//   (after kernel)  -> AA          variant 1: acknowledge of the kernel
//                                  variants 2 and 3 answer nothing after the kernel
// Write kernel (at the data-phase bit rate). Every reply is the command byte and a 16-bit
// value, high byte first:
//   10 LH LL            -> 10 SS SS  SSSS = kernel sum
//   11 b0 .. b(size-1)  -> 11 SS SS  SSSS = block sum; the block waits for the write command
//   12                  -> 12 00 00  the waiting block is written at the next block position
//                                    (12 FF FF: the block lies beyond the flash; 12 00 01: no
//                                    block was waiting)
//   13 A3 A2 A1 A0 E3 E2 E1 E0 -> 13 SS SS  SSSS = flash sum over FSA..FEA
//   14                  -> 14 00 00  the next block position is skipped and stays FF
//   15                  -> 15 00 00  the whole flash is erased to FF (15 FF FF: erase failed)
// Commands sent before the kernel is loaded are not the kernel's: the boot program takes them
// as line noise and answers nothing.
//
// Checksums, all modulo 65536:
//   kernel sum  the sum of the kernel bytes received after the two length bytes
//   block sum   the sum of the block's bytes as received
//   flash sum   the sum of the flash bytes from address FSA to FEA, both included; addresses
//               outside the emulated flash read as FF, and FEA below FSA gives 0
// Blocks are placed one after another from the flash start, whether written (12) or skipped
// (14). Writing programs bits from 1 to 0 only (flash byte := flash byte AND data byte), as real
// flash does, so a block written over unerased flash shows it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

namespace targetsim {

// The steps of a download as the target sees them; faults name the step they act in.
enum class Step {
    Adjust,    // 00 pattern -> 00
    AdjustEnd, // 55 -> AA (variant 1: 55 -> erase -> AA)
    Kernel,    // length and kernel bytes, each echoed
    BootErase, // the boot program's erase and its AA/FF
    KernelAck, // variant 1: AA after the kernel
    KernelSum, // command 10
    Data,      // command 11
    Write,     // command 12
    FlashSum,  // command 13
    Blank,     // command 14
    Erase,     // command 15
};

// Option names of the steps: "adjust", "adjust-end", "kernel", "boot-erase", "kernel-ack",
// "kernel-sum", "data", "write", "flash-sum", "blank", "erase".
QString stepName(Step step);
std::optional<Step> stepFromName(const QString &name);

struct Faults {
    bool noAdjustAnswer = false;
    std::optional<uint8_t> adjustAnswer; // wrong answer to the 00 pattern
    std::optional<uint8_t> ackAnswer;    // wrong answer to 55
    int corruptEcho = -1;                // kernel byte (0 = first after the length) echoed wrong
    std::optional<Step> silentAt;        // stop answering from this step on
    bool eraseFails = false;             // boot erase answers FF, command 15 answers 15 FF FF
    int writeFailBlock = -1;             // block position whose write fails
    uint16_t writeFailStatus = 0xFFFF;
    int badBlockSum = -1; // block position whose data sum is answered wrong
    bool badFlashSum = false;
    std::optional<Step> extraByteAt; // an unsolicited byte right after this step's reply
    std::optional<Step> dropAt;      // the line drops in the middle of this step
};

struct SimConfig {
    int variant = 0; // download sequence variant 0 to 3 (CPUT 0/3 -> 0, 1/2/4 -> 1, 5 -> 2, 6 -> 3)
    int blockSize = 512;
    uint32_t flashStart = 0;
    uint32_t flashSize = 0x40000;
    uint8_t flashFill = 0xFF; // contents before any erase
    int bootBitRate = 9600;
    int dataBitRate = 9600;
    std::chrono::milliseconds eraseTime{0};
    std::chrono::milliseconds writeTime{0}; // per written block
    Faults faults;
};

// What the target does in answer to a byte: send bytes (after a delay, for erase and write
// times), or drop the line.
struct Action {
    enum Kind { Send, Drop };
    Kind kind = Send;
    QByteArray bytes;
    std::chrono::milliseconds delay{0};
};

inline constexpr uint8_t kExtraByte = 0xEE;

class TargetSim {
public:
    explicit TargetSim(const SimConfig &config);

    // One byte from the host. `bitRate` is the line speed the host set when it sent it; a byte
    // at a speed other than the one the current phase expects is noise to the chip and is
    // ignored. 0 skips the check (in-memory use).
    QList<Action> receive(uint8_t byte, int bitRate = 0);

    // True once the flash sum has been answered or a fault has ended the download.
    bool finished() const { return m_finished; }
    // The chip's receiver overran: the boot program waits for a byte that never comes.
    void overrun() { m_state = State::Dead; }
    // True once the target has gone quiet for good (silent fault, dropped line, overrun).
    bool dead() const { return m_state == State::Dead; }
    bool kernelLoaded() const { return m_kernelLoaded; }
    // True while the boot program takes the kernel's length and bytes, each echoed.
    bool inKernelTransfer() const {
        return m_state == State::KernelLengthHigh || m_state == State::KernelLengthLow ||
               m_state == State::KernelBody;
    }
    // The speed the target expects now: the boot rate until the kernel runs.
    int expectedBitRate() const;

    const QByteArray &flash() const { return m_flash; }
    const QByteArray &kernel() const { return m_kernel; }
    int nextBlock() const { return m_nextBlock; }
    int ignoredBytes() const { return m_ignored; }
    // The steps the target has taken up so far, in order: each kernel command as it came, the
    // boot program's exchanges and its erase.
    const QList<Step> &steps() const { return m_steps; }

    static uint16_t sum16(const QByteArray &bytes);

private:
    enum class State {
        Adjust,
        AwaitAdjustEnd,
        KernelLengthHigh,
        KernelLengthLow,
        KernelBody,
        KernelCommand,
        KernelArguments,
        Dead,
    };

    QList<Action> adjust(uint8_t byte);
    QList<Action> adjustEnd(uint8_t byte);
    QList<Action> kernelByte(uint8_t byte);
    QList<Action> afterKernel();
    QList<Action> command(uint8_t byte);
    QList<Action> runCommand();
    QList<Action> bootErase(std::chrono::milliseconds delay);
    QList<Action> reply(Step step, QByteArray bytes, std::chrono::milliseconds delay = {});
    QList<Action> replyWord(Step step, uint8_t code, uint16_t value,
                            std::chrono::milliseconds delay = {});
    // True (and the target goes quiet or drops) when a fault stops the target at this step.
    bool stopsAt(Step step, QList<Action> &actions);
    uint16_t flashSum(uint32_t first, uint32_t last) const;
    void eraseFlash();

    SimConfig m_config;
    State m_state = State::Adjust;
    QByteArray m_flash;
    QByteArray m_kernel;
    int m_kernelLength = 0;
    bool m_kernelLoaded = false;
    bool m_finished = false;
    uint8_t m_command = 0;
    QByteArray m_arguments;
    int m_argumentsWanted = 0;
    std::optional<QByteArray> m_pendingBlock;
    int m_nextBlock = 0;
    int m_ignored = 0;
    QList<Step> m_steps;
};

} // namespace targetsim
