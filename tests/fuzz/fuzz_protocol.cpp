// The host side of the download, every variant, against a target whose answers come from the
// input: either the simulated target with its replies dropped, replaced, extended or bent by
// the input, or raw input bytes alone. A fake clock lets every time-out pass at once, and the
// kernel and image files are written once per process.

#include "fuzz_targets.h"

#include "download.h"
#include "line_settings.h"
#include "link_clock.h"
#include "memory_port.h"
#include "number_text.h"
#include "run_errors.h"
#include "settings.h"
#include "shared_state.h"
#include "target_sim.h"

#include <optional>

namespace {

constexpr uint32_t kFlashSize = 0x100;

// Reads the input front to back; past its end every read gives nothing.
struct InputStream {
    const uint8_t *data;
    size_t size, pos = 0;
    bool atEnd() const { return pos >= size; }
    std::optional<uint8_t> next() { return atEnd() ? std::nullopt : std::optional(data[pos++]); }
    uint8_t nextOr(uint8_t fallback) { return next().value_or(fallback); }
    QByteArray take(size_t count) {
        const size_t n = std::min(count, size - std::min(pos, size));
        pos += n;
        return QByteArray(reinterpret_cast<const char *>(data + pos - n), qsizetype(n));
    }
};

// The device end of the in-memory port. Each host write is answered under one control byte of
// the input; once the input is used up the simulated target answers on its own (or, without
// it, nothing answers any more).
class FuzzDevice {
public:
    FuzzDevice(MemoryPort &port, InputStream &input, std::optional<targetsim::SimConfig> config)
        : m_port(port), m_input(input) {
        if (config)
            m_target.emplace(*config);
        m_port.setWriteHook([this](const QByteArray &bytes) { hostWrote(bytes); });
    }
    ~FuzzDevice() { m_port.setWriteHook({}); }

private:
    // What the simulated target answers, at the bit rate of the port's last opening (parsed
    // once per opening); false when it drops the line.
    bool targetAnswer(const QByteArray &bytes, QByteArray &answer) {
        if (m_port.openings().size() != m_openings) {
            m_openings = m_port.openings().size();
            LineSettings line;
            const bool ok = ParseLineSettings(m_port.openings().last().settings, line) == 0;
            m_bitRate = ok ? line.bitRate : 0;
        }
        for (const char byte : bytes) {
            for (const targetsim::Action &action : m_target->receive(uint8_t(byte), m_bitRate)) {
                if (action.kind == targetsim::Action::Drop)
                    return false;
                answer += action.bytes;
            }
        }
        return true;
    }

    void hostWrote(const QByteArray &bytes) {
        if (!m_target) { // raw: a length byte, then that many answer bytes
            if (const std::optional<uint8_t> length = m_input.next())
                m_port.deliver(m_input.take(*length % 24));
            return;
        }
        QByteArray answer;
        const bool lineUp = targetAnswer(bytes, answer);
        const uint8_t op = m_input.nextOr(0);
        switch (op < 0xA0 ? 0 : op & 0xF0) {
        case 0:
            lineUp ? m_port.deliver(answer) : m_port.fail();
            break;
        case 0xA0: // the answer is lost
            break;
        case 0xB0: // another answer instead
            m_port.deliver(m_input.take(op & 0x0F));
            break;
        case 0xC0: // line noise after the answer
            m_port.deliver(answer + m_input.take(op & 0x0F));
            break;
        case 0xD0: // one bit of the answer bent
            if (!answer.isEmpty()) {
                const int at = m_input.nextOr(0) % answer.size();
                answer[at] = char(answer[at] ^ (1 << (op & 7)));
            }
            m_port.deliver(answer);
            break;
        case 0xE0: // the adapter goes away, or refuses the next write
            op & 0x08 ? m_port.setWriteError(RunError::DeviceIo) : m_port.fail();
            break;
        default: // Stop Downloading pressed
            m_port.deliver(answer);
            gStopRequested = true;
            break;
        }
    }

    MemoryPort &m_port;
    InputStream &m_input;
    std::optional<targetsim::TargetSim> m_target;
    qsizetype m_openings = 0;
    int m_bitRate = 0;
};

// The kernels of every length the input can choose, with their sums, and the image: written
// once per process.
struct ProtocolFiles {
    QStringList kernels, kernelSums;
    QString image, flashSum;
};

const ProtocolFiles &protocolFiles() {
    static const ProtocolFiles files = [] {
        FuzzAppDir();
        ProtocolFiles f;
        QByteArray kernel, image;
        for (int length = 0; length < 40; kernel.append(char(0x30 + length++ * 7))) {
            f.kernels << WriteAppFile(QStringLiteral("K%1.DF").arg(length), kernel);
            f.kernelSums << Hex4(targetsim::TargetSim::sum16(kernel));
        }
        for (int i = 0; i < 24; ++i)
            image.append(char(i));
        image += QByteArray(40, '\xFF') + QByteArray::fromHex("a0a1a2a3");
        f.image = WriteAppFile("IMAGE.PFN", image);
        f.flashSum = Hex4(
            targetsim::TargetSim::sum16(image + QByteArray(kFlashSize - image.size(), '\xFF')));
        return f;
    }();
    return files;
}

} // namespace

// Input: variant and mode, block size, kernel length, data bit rate, then the answer stream.
std::string FuzzProtocol(const uint8_t *data, size_t size) {
    const ProtocolFiles &files = protocolFiles();
    FuzzAppDir();
    InputStream input{data, size};
    const uint8_t mode = input.nextOr(0);
    static const int kBlockSizes[] = {16, 32, 64, 7, 0, -1, 40000, 128};
    const int blockSize = kBlockSizes[input.nextOr(0) % 8];
    const int kernelLength = input.nextOr(4) % 40;
    static const char *const kDataRates[] = {"9600", "115200", "fast", ""};
    SetDefaultSettings();
    gPort = QStringLiteral("1");
    gBitRate2 = QString::fromLatin1(kDataRates[input.nextOr(0) % 4]);
    gSeqType = int16_t(mode & 3);
    gPacketSize = blockSize;
    gSendBlankBlocks = mode & 0x40;
    gWaitTime = QStringLiteral("1");
    gIrdFile = files.kernels.at(kernelLength);
    gIrdCheckSum = files.kernelSums.at(kernelLength);
    gPrgFile = files.image;
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("000000FF");
    gFlashCheckSum = files.flashSum;

    const bool raw = mode & 0x80;
    const bool usable = blockSize > 0 && blockSize <= 32767;
    std::optional<targetsim::SimConfig> config;
    if (!raw) {
        config.emplace();
        config->variant = mode & 3;
        config->blockSize = usable ? blockSize : 16;
        config->flashSize = kFlashSize;
        config->dataBitRate = 9600;
    }
    // Without a single control byte the simulated target answers everything as it should.
    const bool clean = input.atEnd() && !raw && kernelLength > 0 && usable && gBitRate2 == u"9600";
    FakeLinkClock clock;
    ScopedLinkClock useClock(&clock);
    MemoryPort port;
    gComm = &port;
    QString checksum;
    bool ok = false;
    {
        FuzzDevice device(port, input, config);
        ok = RunDownload(checksum);
    }
    gComm = nullptr;
    const std::string state =
        std::to_string(gErrNo) + " in state " + std::to_string(gDownloadState);
    if (port.isOpen() || checksum.size() != 4)
        return "protocol: port left open or checksum text '" + checksum.toStdString() + "'";
    if (ok)
        return gErrNo != 0 || gDownloadState != 5 || raw || !usable
                   ? "protocol: success with error " + state
                   : std::string();
    if (clean)
        return "protocol: a run without faults failed with error " + state;
    if (!(gErrNo >= 300 && gErrNo <= 371) && gErrNo != 123 && gErrNo != 170 && gErrNo != 171)
        return "protocol: failure with error number " + state;
    if (gDownloadState < 1 || gDownloadState > 4)
        return "protocol: failure with error " + state;
    return {};
}

const std::vector<FuzzTarget> &FuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"settings", FuzzSettingsFile},      {"host_ini", FuzzHostIni},
        {"host_cha", FuzzHostCha},           {"firm_desc", FuzzFirmDesc},
        {"host_conf", FuzzHostConf},         {"ift_plain", FuzzIftPlain},
        {"ift_protected", FuzzIftProtected}, {"protocol", FuzzProtocol},
    };
    return targets;
}

const FuzzTarget *FindFuzzTarget(const std::string &name) {
    for (const FuzzTarget &target : FuzzTargets()) {
        if (name == target.name)
            return &target;
    }
    return nullptr;
}
