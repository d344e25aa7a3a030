// The host side of the download, every variant, against a target whose answers come from the
// input: either the simulated target with its replies dropped, replaced, extended or bent by
// the input, or raw input bytes alone. A fake clock lets every time-out pass at once.

#include "fuzz_app_dir.h"
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
class InputStream {
public:
    InputStream(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    std::optional<uint8_t> next() {
        if (atEnd())
            return std::nullopt;
        return m_data[m_pos++];
    }
    uint8_t nextOr(uint8_t fallback) { return next().value_or(fallback); }
    QByteArray take(size_t count) {
        const size_t n = std::min(count, m_size - std::min(m_pos, m_size));
        QByteArray bytes(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return bytes;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
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
    FuzzDevice(const FuzzDevice &) = delete;
    FuzzDevice &operator=(const FuzzDevice &) = delete;

private:
    int lineBitRate() const {
        LineSettings settings;
        if (m_port.openings().isEmpty() ||
            ParseLineSettings(m_port.openings().last().settings, settings) != 0)
            return 0;
        return settings.bitRate;
    }

    // What the simulated target answers; false when it drops the line.
    bool targetAnswer(const QByteArray &bytes, QByteArray &answer) {
        const int bitRate = lineBitRate();
        for (const char byte : bytes) {
            for (const targetsim::Action &action :
                 m_target->receive(static_cast<uint8_t>(byte), bitRate)) {
                if (action.kind == targetsim::Action::Drop)
                    return false;
                answer += action.bytes;
            }
        }
        return true;
    }

    void hostWrote(const QByteArray &bytes) {
        if (!m_target) {
            // Raw: a length byte, then that many answer bytes.
            if (const std::optional<uint8_t> length = m_input.next())
                m_port.deliver(m_input.take(*length % 24));
            return;
        }
        QByteArray answer;
        const bool lineUp = targetAnswer(bytes, answer);
        const std::optional<uint8_t> op = m_input.next();
        if (!op || *op < 0xA0) {
            if (!lineUp)
                m_port.fail();
            else
                m_port.deliver(answer);
            return;
        }
        switch (*op & 0xF0) {
        case 0xA0: // the answer is lost
            break;
        case 0xB0: // another answer instead
            m_port.deliver(m_input.take(*op & 0x0F));
            break;
        case 0xC0: // line noise after the answer
            m_port.deliver(answer + m_input.take(*op & 0x0F));
            break;
        case 0xD0: // one bit of the answer bent
            if (!answer.isEmpty()) {
                const int at = m_input.nextOr(0) % answer.size();
                answer[at] = static_cast<char>(answer[at] ^ (1 << (*op & 7)));
            }
            m_port.deliver(answer);
            break;
        case 0xE0: // the adapter goes away, or refuses the next write
            if (*op & 0x08)
                m_port.setWriteError(RunError::DeviceIo);
            else
                m_port.fail();
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
};

} // namespace

// Input: variant and mode, block size, kernel length, data bit rate, then the answer stream.
std::string FuzzProtocol(const uint8_t *data, size_t size) {
    FuzzAppDir();
    InputStream input(data, size);
    const uint8_t mode = input.nextOr(0);
    const int variant = mode & 3;
    const bool raw = mode & 0x80;
    const bool sendBlank = mode & 0x40;
    static const int kBlockSizes[] = {16, 32, 64, 7, 0, -1, 40000, 128};
    const int blockSize = kBlockSizes[input.nextOr(0) % 8];
    const int kernelLength = input.nextOr(4) % 40;
    static const char *const kDataRates[] = {"9600", "115200", "fast", ""};
    const char *dataRate = kDataRates[input.nextOr(0) % 4];

    SetDefaultSettings();
    QByteArray kernel;
    for (int i = 0; i < kernelLength; ++i)
        kernel.append(static_cast<char>(0x30 + i * 7));
    QByteArray image;
    for (int i = 0; i < 24; ++i)
        image.append(static_cast<char>(i));
    image.append(QByteArray(40, '\xFF'));
    image.append(QByteArray::fromHex("a0a1a2a3"));

    gPort = QStringLiteral("1");
    gBitRate2 = QString::fromLatin1(dataRate);
    gSeqType = static_cast<int16_t>(variant);
    gPacketSize = blockSize;
    gSendBlankBlocks = sendBlank;
    gWaitTime = QStringLiteral("1");
    gIrdFile = WriteAppFile("KERNEL.DF", kernel);
    gPrgFile = WriteAppFile("IMAGE.PFN", image);
    gIrdCheckSum = Hex4(targetsim::TargetSim::sum16(kernel));
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("000000FF");
    QByteArray flash = image;
    flash.append(QByteArray(kFlashSize - image.size(), '\xFF'));
    gFlashCheckSum = Hex4(targetsim::TargetSim::sum16(flash));

    std::optional<targetsim::SimConfig> config;
    if (!raw) {
        config.emplace();
        config->variant = variant;
        config->blockSize = blockSize > 0 && blockSize <= 32767 ? blockSize : 16;
        config->flashSize = kFlashSize;
        config->dataBitRate = 9600;
    }

    FakeLinkClock clock;
    ScopedLinkClock useClock(&clock);
    MemoryPort port;
    gComm = &port;
    // Without a single control byte the simulated target answers everything as it should.
    const bool clean = input.atEnd() && !raw && kernelLength > 0 && blockSize > 0 &&
                       blockSize <= 32767 && gBitRate2 == u"9600";
    QString checksum;
    bool ok = false;
    {
        FuzzDevice device(port, input, config);
        ok = RunDownload(checksum);
    }
    gComm = nullptr;

    if (port.isOpen())
        return "protocol: the port is still open after the run";
    if (checksum.size() != 4)
        return "protocol: checksum text '" + checksum.toStdString() + "'";
    if (ok) {
        if (gErrNo != 0 || gDownloadState != 5)
            return "protocol: success with error " + std::to_string(gErrNo) + " in state " +
                   std::to_string(gDownloadState);
        if (raw || blockSize < 1 || blockSize > 32767)
            return "protocol: success without a target or with block size " +
                   std::to_string(blockSize);
        return {};
    }
    if (clean)
        return "protocol: a run without faults failed with error " + std::to_string(gErrNo);
    const bool protocolError = gErrNo >= 300 && gErrNo <= 371;
    if (!protocolError && !IsOneOf(gErrNo, {123, 170, 171}))
        return "protocol: failure with error number " + std::to_string(gErrNo);
    if (gDownloadState < 1 || gDownloadState > 4)
        return "protocol: failure in state " + std::to_string(gDownloadState);
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
