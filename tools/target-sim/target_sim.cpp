#include "target_sim.h"

#include <QMap>

#include <algorithm>

namespace targetsim {

namespace {
struct StepNameEntry {
    Step step;
    const char *name;
};
constexpr StepNameEntry kStepNames[] = {
    {Step::Adjust, "adjust"},
    {Step::AdjustEnd, "adjust-end"},
    {Step::Kernel, "kernel"},
    {Step::BootErase, "boot-erase"},
    {Step::KernelAck, "kernel-ack"},
    {Step::KernelSum, "kernel-sum"},
    {Step::Data, "data"},
    {Step::Write, "write"},
    {Step::FlashSum, "flash-sum"},
    {Step::Blank, "blank"},
    {Step::Erase, "erase"},
};

constexpr uint8_t kCmdKernelSum = 0x10;
constexpr uint8_t kCmdData = 0x11;
constexpr uint8_t kCmdWrite = 0x12;
constexpr uint8_t kCmdFlashSum = 0x13;
constexpr uint8_t kCmdBlank = 0x14;
constexpr uint8_t kCmdErase = 0x15;
constexpr uint8_t kAck = 0xAA;
constexpr uint8_t kEraseFailed = 0xFF;

uint32_t bigEndian32(const QByteArray &bytes, int at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}
} // namespace

QString stepName(Step step) {
    for (const auto &entry : kStepNames)
        if (entry.step == step)
            return QString::fromLatin1(entry.name);
    return {};
}

std::optional<Step> stepFromName(const QString &name) {
    for (const auto &entry : kStepNames)
        if (name == QLatin1String(entry.name))
            return entry.step;
    return std::nullopt;
}

TargetSim::TargetSim(const SimConfig &config)
    : m_config(config),
      m_flash(static_cast<qsizetype>(config.flashSize), static_cast<char>(config.flashFill)) {}

uint16_t TargetSim::sum16(const QByteArray &bytes) {
    uint32_t sum = 0;
    for (char byte : bytes)
        sum += static_cast<uint8_t>(byte);
    return static_cast<uint16_t>(sum & 0xFFFF);
}

int TargetSim::expectedBitRate() const {
    return m_kernelLoaded ? m_config.dataBitRate : m_config.bootBitRate;
}

QList<Action> TargetSim::receive(uint8_t byte, int bitRate) {
    if (m_state == State::Dead)
        return {};
    if (bitRate != 0 && bitRate != expectedBitRate()) {
        // At the wrong speed the chip samples garbage and answers nothing.
        ++m_ignored;
        return {};
    }
    switch (m_state) {
    case State::Adjust:
        return adjust(byte);
    case State::AwaitAdjustEnd:
        return adjustEnd(byte);
    case State::KernelLengthHigh:
    case State::KernelLengthLow:
    case State::KernelBody:
        return kernelByte(byte);
    case State::KernelCommand:
    case State::KernelArguments:
        return command(byte);
    case State::Dead:
        break;
    }
    return {};
}

bool TargetSim::stopsAt(Step step, QList<Action> &actions) {
    const Faults &faults = m_config.faults;
    if (faults.silentAt == step) {
        m_state = State::Dead;
        return true;
    }
    if (faults.dropAt == step) {
        actions.append(Action{Action::Drop, {}, {}});
        m_state = State::Dead;
        m_finished = true;
        return true;
    }
    return false;
}

QList<Action> TargetSim::reply(Step step, QByteArray bytes, std::chrono::milliseconds delay) {
    if (m_config.faults.extraByteAt == step)
        bytes.append(static_cast<char>(kExtraByte));
    return {Action{Action::Send, bytes, delay}};
}

QList<Action> TargetSim::replyWord(Step step, uint8_t code, uint16_t value,
                                   std::chrono::milliseconds delay) {
    QByteArray bytes;
    bytes.append(static_cast<char>(code));
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));
    return reply(step, bytes, delay);
}

QList<Action> TargetSim::adjust(uint8_t byte) {
    QList<Action> actions;
    if (byte != 0x00) // the boot program measures only the 00 pattern
        return actions;
    if (m_steps.isEmpty())
        m_steps.append(Step::Adjust);
    if (m_config.faults.noAdjustAnswer || stopsAt(Step::Adjust, actions))
        return actions;
    const uint8_t answer = m_config.faults.adjustAnswer.value_or(0x00);
    if (answer != 0x00)
        m_finished = true;
    m_state = State::AwaitAdjustEnd;
    return reply(Step::Adjust, QByteArray(1, static_cast<char>(answer)));
}

QList<Action> TargetSim::adjustEnd(uint8_t byte) {
    // 00 bytes the host sent before it saw the answer are still arriving: not the end yet.
    QList<Action> actions;
    if (byte != 0x55)
        return actions;
    m_state = State::KernelLengthHigh;
    m_steps.append(Step::AdjustEnd);
    if (m_config.variant == 1) {
        if (stopsAt(Step::AdjustEnd, actions) || stopsAt(Step::BootErase, actions))
            return actions;
        if (const auto wrong = m_config.faults.ackAnswer) {
            // The erase runs, but its completion byte comes out wrong.
            m_steps.append(Step::BootErase);
            eraseFlash();
            m_finished = true;
            return reply(Step::AdjustEnd, QByteArray(1, static_cast<char>(*wrong)),
                         m_config.eraseTime);
        }
        return bootErase(m_config.eraseTime);
    }
    if (stopsAt(Step::AdjustEnd, actions))
        return actions;
    const uint8_t answer = m_config.faults.ackAnswer.value_or(kAck);
    if (answer != kAck)
        m_finished = true;
    return reply(Step::AdjustEnd, QByteArray(1, static_cast<char>(answer)));
}

QList<Action> TargetSim::bootErase(std::chrono::milliseconds delay) {
    m_steps.append(Step::BootErase);
    if (m_config.faults.eraseFails) {
        m_finished = true;
        return reply(Step::BootErase, QByteArray(1, static_cast<char>(kEraseFailed)), delay);
    }
    eraseFlash();
    return reply(Step::BootErase, QByteArray(1, static_cast<char>(kAck)), delay);
}

QList<Action> TargetSim::kernelByte(uint8_t byte) {
    QList<Action> actions;
    const QByteArray echo(1, static_cast<char>(byte));
    if (m_state == State::KernelLengthHigh) {
        // A drop in the kernel step comes halfway through the kernel, below.
        if (m_config.faults.silentAt == Step::Kernel) {
            m_state = State::Dead;
            return actions;
        }
        m_kernelLength = byte << 8;
        m_state = State::KernelLengthLow;
        return {Action{Action::Send, echo, {}}};
    }
    if (m_state == State::KernelLengthLow) {
        m_kernelLength |= byte;
        m_state = State::KernelBody;
        actions.append(Action{Action::Send, echo, {}});
        if (m_kernelLength == 0)
            actions.append(afterKernel());
        return actions;
    }
    const int index = static_cast<int>(m_kernel.size());
    if (m_config.faults.dropAt == Step::Kernel && index == m_kernelLength / 2) {
        m_state = State::Dead;
        m_finished = true;
        return {Action{Action::Drop, {}, {}}};
    }
    m_kernel.append(static_cast<char>(byte));
    QByteArray answer = echo;
    if (index == m_config.faults.corruptEcho) {
        answer[0] = static_cast<char>(byte ^ 0xFF);
        m_finished = true;
    }
    if (m_kernel.size() < m_kernelLength)
        return {Action{Action::Send, answer, {}}};
    actions.append(reply(Step::Kernel, answer));
    actions.append(afterKernel());
    return actions;
}

QList<Action> TargetSim::afterKernel() {
    QList<Action> actions;
    m_steps.append(Step::Kernel);
    m_kernelLoaded = true;
    m_state = State::KernelCommand;
    if (m_config.variant == 0) {
        if (stopsAt(Step::BootErase, actions))
            return actions;
        return bootErase(m_config.eraseTime);
    }
    if (m_config.variant == 1) {
        if (stopsAt(Step::KernelAck, actions))
            return actions;
        return reply(Step::KernelAck, QByteArray(1, static_cast<char>(kAck)));
    }
    return actions;
}

QList<Action> TargetSim::command(uint8_t byte) {
    if (m_state == State::KernelCommand) {
        m_command = byte;
        m_arguments.clear();
        switch (byte) {
        case kCmdKernelSum:
            m_argumentsWanted = 2;
            break;
        case kCmdData:
            m_argumentsWanted = m_config.blockSize;
            break;
        case kCmdFlashSum:
            m_argumentsWanted = 8;
            break;
        case kCmdWrite:
        case kCmdBlank:
        case kCmdErase:
            return runCommand();
        default:
            ++m_ignored; // not a command of this kernel
            return {};
        }
        m_state = State::KernelArguments;
        return {};
    }
    m_arguments.append(static_cast<char>(byte));
    if (m_command == kCmdData && m_config.faults.dropAt == Step::Data &&
        m_arguments.size() == std::max(1, m_config.blockSize / 2)) {
        m_state = State::Dead;
        m_finished = true;
        return {Action{Action::Drop, {}, {}}};
    }
    if (m_arguments.size() < m_argumentsWanted)
        return {};
    m_state = State::KernelCommand;
    return runCommand();
}

QList<Action> TargetSim::runCommand() {
    QList<Action> actions;
    const Faults &faults = m_config.faults;
    static const QMap<uint8_t, Step> kCommandSteps{
        {kCmdKernelSum, Step::KernelSum}, {kCmdData, Step::Data},   {kCmdWrite, Step::Write},
        {kCmdFlashSum, Step::FlashSum},   {kCmdBlank, Step::Blank}, {kCmdErase, Step::Erase}};
    m_steps.append(kCommandSteps.value(m_command));
    switch (m_command) {
    case kCmdKernelSum:
        if (stopsAt(Step::KernelSum, actions))
            return actions;
        return replyWord(Step::KernelSum, kCmdKernelSum, sum16(m_kernel));
    case kCmdData: {
        if (stopsAt(Step::Data, actions))
            return actions;
        m_pendingBlock = m_arguments;
        uint16_t sum = sum16(m_arguments);
        if (faults.badBlockSum == m_nextBlock) {
            sum = static_cast<uint16_t>(sum + 1);
            m_finished = true;
        }
        return replyWord(Step::Data, kCmdData, sum);
    }
    case kCmdWrite: {
        if (stopsAt(Step::Write, actions))
            return actions;
        uint16_t status = 0x0000;
        const qint64 offset = static_cast<qint64>(m_nextBlock) * m_config.blockSize;
        if (!m_pendingBlock) {
            status = 0x0001;
        } else if (faults.writeFailBlock == m_nextBlock) {
            status = faults.writeFailStatus;
        } else if (offset + m_config.blockSize > m_flash.size()) {
            status = 0xFFFF;
        } else {
            for (int i = 0; i < m_config.blockSize; ++i)
                m_flash[offset + i] = static_cast<char>(m_flash[offset + i] & (*m_pendingBlock)[i]);
            ++m_nextBlock;
        }
        m_pendingBlock.reset();
        if (status != 0x0000)
            m_finished = true;
        return replyWord(Step::Write, kCmdWrite, status, m_config.writeTime);
    }
    case kCmdFlashSum: {
        if (stopsAt(Step::FlashSum, actions))
            return actions;
        uint16_t sum = flashSum(bigEndian32(m_arguments, 0), bigEndian32(m_arguments, 4));
        if (faults.badFlashSum)
            sum = static_cast<uint16_t>(sum + 1);
        m_finished = true;
        return replyWord(Step::FlashSum, kCmdFlashSum, sum);
    }
    case kCmdBlank:
        if (stopsAt(Step::Blank, actions))
            return actions;
        ++m_nextBlock;
        return replyWord(Step::Blank, kCmdBlank, 0x0000);
    case kCmdErase:
        if (stopsAt(Step::Erase, actions))
            return actions;
        if (faults.eraseFails) {
            m_finished = true;
            return replyWord(Step::Erase, kCmdErase, 0xFFFF, m_config.eraseTime);
        }
        eraseFlash();
        return replyWord(Step::Erase, kCmdErase, 0x0000, m_config.eraseTime);
    default:
        break;
    }
    return actions;
}

uint16_t TargetSim::flashSum(uint32_t first, uint32_t last) const {
    if (last < first)
        return 0;
    const uint64_t count = uint64_t(last) - first + 1;
    const uint64_t flashFirst = m_config.flashStart;
    const uint64_t flashLast = flashFirst + static_cast<uint64_t>(m_flash.size()) - 1;
    const uint64_t lo = std::max<uint64_t>(first, flashFirst);
    const uint64_t hi = std::min<uint64_t>(last, flashLast);
    uint64_t sum = 0;
    uint64_t inside = 0;
    if (!m_flash.isEmpty() && lo <= hi) {
        inside = hi - lo + 1;
        for (uint64_t address = lo; address <= hi; ++address)
            sum += static_cast<uint8_t>(m_flash[static_cast<qsizetype>(address - flashFirst)]);
    }
    sum += (count - inside) * 0xFF; // unmapped addresses read as FF
    return static_cast<uint16_t>(sum & 0xFFFF);
}

void TargetSim::eraseFlash() {
    m_flash.fill(static_cast<char>(0xFF));
}

} // namespace targetsim
