// The readers' cores, fed the bytes of one file each as the file edge hands them on, and the host
// side of the download on the in-memory port and a fake clock, answered from the input.

#include "fuzz_targets.h"

#include "download.h"
#include "error_messages.h"
#include "host_conf.h"
#include "host_files.h"
#include "ift_file.h"
#include "ift_protect.h"
#include "link_clock.h"
#include "memory_port.h"
#include "number_text.h"
#include "run_errors.h"
#include "settings.h"
#include "shared_state.h"
#include "target_sim.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <type_traits>

namespace {

QString freshAppDir() { // fresh shared state in the process's one temporary application folder
    static const QTemporaryDir dir;
    ResetSharedState();
    return gAppDir = dir.path();
}

QString writeAppFile(const QString &name, const QByteArray &bytes) {
    const QString path = QDir(gAppDir).filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    if (QFile file(path); file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

// The first check that broke, with the error state it found; empty while every check holds.
struct Verdict {
    const char *target;
    QString path{}; // the file a failure must name
    std::string broken{};
    void operator()(bool failed, const char *what) {
        if (failed && broken.empty())
            broken = std::string(target) + ": " + what + " (error " + std::to_string(gErrNo) + ')';
    }
};

// A reader returns 0 and leaves no error, or 99 with its own number, the file, x9's code, a text.
void checkOutcome(Verdict &v, int result, const QList<int> &numbers) {
    v(result != 0 && result != 99, "result neither 0 nor 99");
    if (result == 0)
        return v(gErrNo != 0 || gRunErrNo != 0 || !gErrFileName.isEmpty(), "success left an error");
    v(!numbers.contains(gErrNo), "foreign error number");
    v(gErrFileName != v.path, "failure names another file");
    v(gErrNo % 10 == 9 && gRunErrNo == 0, "x9 error without a failure code");
    v(GetErrorMessage(gErrNo).isEmpty(), "error without a text");
}

// A file's core on fresh state and the path the edge sets; then what no such file can break.
template <typename Core>
Verdict readFile(const QByteArray &input, const char *name, const QList<int> &numbers, Core core) {
    gFilePath = gErrFileName = freshAppDir() + u'/' + QLatin1String(name);
    Verdict v{name, gFilePath};
    const auto result = core(input); // QARN.ini's core answers true or false, the others 0 or 99
    checkOutcome(v, std::is_same_v<decltype(result), const bool> ? !result * 99 : result, numbers);
    v(gLangBase % 100 != 0, "language base off the hundreds");
    v(gCountryList.size() > 32767 || gLangList.size() > 32767, "a list grew past 32767 elements");
    v(gErrNo == 111 && gRunErrNo != 0, "incomplete hand-off with a failure code");
    v(gTgbnList.size() != gTgbnDescList.size(), "board names and descriptions out of step");
    v(!gTgbnList.isEmpty() && !gTgbnList.first().isEmpty(), "board entry 0 is set");
    return v;
}

std::string fuzzHostCha(const QByteArray &input) {
    Verdict v = readFile(input, "torvane.cha", {111, 119}, HostChaFromBytes);
    v(gErrNo == 0 && (gFdir.isEmpty() || gSelectedModel.isEmpty() || gSelectedPcb.isEmpty()),
      "accepted a hand-off without folder, model or board");
    return v.broken;
}

// A tree control's refusals, noting a node other than the selected model, board and its versions.
struct CheckingTree : FirmTreeSink {
    void clear() override {}
    void expandAll() override {}
    bool addNode(const QString &parent, const QString &key, const QString &) override {
        if (keys.contains(key) || (!parent.isEmpty() && !keys.contains(parent)))
            return false;
        keys << key;
        const QString board = gSelectedModel + u'=' + gSelectedPcb;
        stray = stray ||
                (parent.isEmpty()           ? key != gSelectedModel
                 : parent == gSelectedModel ? key != board
                                            : parent != board || !key.startsWith(board + u'\\'));
        return true;
    }
    QStringList keys;
    bool stray = false;
};

std::string fuzzHostConf(const QByteArray &input) {
    CheckingTree tree;
    Verdict v = readFile(input, "torvane.conf", {169}, [&tree](const QByteArray &bytes) {
        gSelectedModel = QStringLiteral("M100");
        gSelectedPcb = QStringLiteral("MAIN");
        return HostConfFromBytes(bytes, tree);
    });
    v(tree.stray, "a node outside the selected model and board");
    return v.broken;
}

// A description over the defaults and QARN.ini, beside the kernel and image a good one names.
Verdict readDescription(const QByteArray &bytes) {
    static const QString path = [] {
        freshAppDir();
        writeAppFile("fw/KERNEL.DF", QByteArray::fromHex("01223344f0"));
        writeAppFile("fw/IMAGE.PFN", QByteArray(64, '\x5a'));
        return QDir(gAppDir).filePath("fw/FW.ift");
    }();
    freshAppDir();
    SetDefaultSettings();
    QARNIniFromBytes("LANGUAGE 1\r\nPORT 3\r\n");
    Verdict v{"description", path};
    const bool ok = IftFromBytes(path, bytes);
    checkOutcome(v, ok ? 0 : 99, {120, 121, 122, 123, 129});
    v(gSeqType < 0 || gSeqType > 3, "variant out of range");
    v(ok && (gPacketSize < 1 || gPacketSize > 32767), "accepted a block size out of range");
    return v;
}

// Key table A (5 bytes), key table B (4) and the packed text, in a header with both markers.
std::string fuzzIftProtected(const QByteArray &input) {
    const QByteArray keyA = input.left(kIftKeyASize).leftJustified(kIftKeyASize, '\0');
    const QByteArray keyB = input.mid(kIftKeyASize, kIftKeyBSize).leftJustified(kIftKeyBSize, '\0');
    const QByteArray body = input.mid(kIftKeyASize + kIftKeyBSize);
    QByteArray file(kIftHeaderSize, '\x5a');
    file.replace(kIftMarkerAOffset, kIftMarkerASize, QByteArray::fromHex("5B21E07C94D3A6F8"));
    file.replace(kIftMarkerBOffset, kIftMarkerBSize,
                 QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    file.replace(kIftKeyAOffset, kIftKeyASize, keyA).replace(kIftKeyBOffset, kIftKeyBSize, keyB);
    Verdict v = readDescription(file += body);
    // A table restarts at a zero past entry 0; one without runs out at byte 5 (B) or 6 (A).
    auto returnsToStart = [](const QByteArray &table) { return table.indexOf('\0', 1) > 0; };
    if (body.isEmpty())
        return v.broken;
    const bool runsOut = (!returnsToStart(keyB) && body.size() > kIftKeyBSize) ||
                         (!returnsToStart(keyA) && body.size() > kIftKeyASize);
    const std::optional<QByteArray> plain = UnpackIft(file);
    v(runsOut && plain, "unpacked past the end of a key table");
    v(!runsOut && !plain, "refused usable key tables");
    v(runsOut && gErrNo != 120, "failed unpacking not 120");
    v(plain && plain->size() != body.size(), "plain text and packed text differ in length");
    if (plain && returnsToStart(keyA) && returnsToStart(keyB)) {
        QRandomGenerator rng{quint32(input.size())};
        const std::optional<QByteArray> packed = PackIft(*plain, keyA, keyB, rng);
        v(!packed || UnpackIft(*packed) != *plain, "packing and unpacking lose the text");
    }
    return v.broken;
}

// The device end of the in-memory port, reading the input front to back.
struct Device {
    const QByteArray &in;
    int pos = 0;
    std::optional<targetsim::TargetSim> target{}; // none: raw answers from the input alone
    MemoryPort port{};
    int openings = 0, bitRate = 0;

    bool atEnd() const { return pos >= in.size(); }
    int nextOr(int fallback) { return atEnd() ? fallback : uint8_t(in[pos++]); }
    QByteArray take(int n) { return in.mid(std::exchange(pos, qMin(pos + n, in.size())), n); }
    // Raw: a length byte, then that many answer bytes. Otherwise a control byte bends the target's
    // answer. Once the input is used up, nothing answers (raw) or the target answers as it should.
    void hostWrote(const QByteArray &bytes) {
        if (!target)
            return atEnd() ? void() : port.deliver(take(nextOr(0) % 24));
        if (port.openings().size() != openings) { // parsed once per opening
            openings = port.openings().size();
            LineSettings line;
            bitRate = ParseLineSettings(port.openings().last().settings, line) ? 0 : line.bitRate;
        }
        QByteArray answer;
        bool lineUp = true; // false once the target drops the line
        for (qsizetype i = 0; lineUp && i < bytes.size(); ++i)
            for (const targetsim::Action &action : target->receive(uint8_t(bytes[i]), bitRate))
                answer += (lineUp = lineUp && action.kind != targetsim::Action::Drop)
                              ? action.bytes
                              : QByteArray();
        const int op = nextOr(0), kind = op < 0xA0 ? 0 : op >> 4; // A: the answer is lost
        if (kind == 0xD && !answer.isEmpty()) {                   // one bit of the answer bent
            const int at = nextOr(0) % answer.size();
            answer[at] = char(answer[at] ^ (1 << (op & 7)));
        }
        if (kind == 0xE) // the adapter goes away, or refuses the next write
            return op & 0x08 ? port.setWriteError(RunError::DeviceIo) : port.fail();
        if (kind == 0 && !lineUp)
            return port.fail();
        gStopRequested = gStopRequested || kind == 0xF; // Stop Downloading pressed
        port.deliver(kind == 0xA   ? QByteArray()
                     : kind == 0xB ? take(op & 0x0F)          // another answer instead
                     : kind == 0xC ? answer + take(op & 0x0F) // line noise after the answer
                                   : answer);
    }
};

// Input: variant and mode (80 raw, 40 blank blocks sent, 20 the kernel streamed), block size,
// kernel length, data bit rate, then the answer stream.
std::string fuzzProtocol(const QByteArray &input) {
    // Kernels of every length an input can choose, their sums, the image and its 256-byte sum.
    static QStringList kernels, kernelSums, image;
    if (image.isEmpty()) {
        freshAppDir();
        QByteArray kernel,
            bytes = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f1011121314151617");
        bytes += QByteArray(40, '\xFF') + QByteArray::fromHex("a0a1a2a3");
        for (int length = 0; length < 40; kernel.append(char(0x30 + length++ * 7))) {
            kernels << writeAppFile(QStringLiteral("K%1.DF").arg(length), kernel);
            kernelSums << Hex4(targetsim::TargetSim::sum16(kernel));
        }
        image << writeAppFile("IMAGE.PFN", bytes)
              << Hex4(targetsim::TargetSim::sum16(bytes.leftJustified(0x100, '\xFF')));
    }
    freshAppDir();
    Device device{input};
    static const int kBlockSizes[] = {16, 32, 64, 7, 0, -1, 40000, 128};
    static const char *const kDataRates[] = {"9600", "115200", "fast", ""};
    const int mode = device.nextOr(0), blockSize = kBlockSizes[device.nextOr(0) % 8],
              kernelLength = device.nextOr(4) % 40;
    SetDefaultSettings();
    gPort = QStringLiteral("1");
    gBitRate2 = QString::fromLatin1(kDataRates[device.nextOr(0) % 4]);
    gSeqType = int16_t(mode & 3);
    gPacketSize = blockSize;
    gSendBlankBlocks = mode & 0x40;
    gStreamKernel = mode & 0x20;
    gWaitTime = QStringLiteral("1");
    gIrdFile = kernels.at(kernelLength);
    gIrdCheckSum = kernelSums.at(kernelLength);
    gPrgFile = image.at(0);
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("000000FF");
    gFlashCheckSum = image.at(1);
    const bool raw = mode & 0x80, usable = blockSize > 0 && blockSize <= 32767;
    if (!raw)
        device.target.emplace(targetsim::SimConfig{.variant = mode & 3,
                                                   .blockSize = usable ? blockSize : 16,
                                                   .flashSize = 0x100,
                                                   .faults = {}});
    // Without a single control byte the simulated target answers everything as it should.
    const bool clean = device.atEnd() && !raw && kernelLength > 0 && usable && gBitRate2 == u"9600";
    device.port.setWriteHook([&device](const QByteArray &bytes) { device.hostWrote(bytes); });
    FakeLinkClock clock;
    ScopedLinkClock useClock(&clock);
    gComm = &device.port;
    QString checksum;
    const bool ok = RunDownload(checksum);
    gComm = nullptr;
    Verdict v{"protocol"};
    v(device.port.isOpen() || checksum.size() != 4, "port left open or checksum not 4 characters");
    v(ok && (gErrNo != 0 || gDownloadState != 5 || raw || !usable), "success with an error");
    v(!ok && clean, "a run without faults failed");
    v(!ok && !(gErrNo >= 300 && gErrNo <= 371) && gErrNo != 123 && gErrNo != 170 && gErrNo != 171,
      "failure with a foreign error number");
    v(!ok && (gDownloadState < 1 || gDownloadState > 4), "failure outside the download states");
    return v.broken;
}

} // namespace

const std::vector<FuzzTarget> &FuzzTargets() {
    using Input = const QByteArray &;
    static const std::vector<FuzzTarget> targets = {
        {"settings",
         [](Input in) { return readFile(in, "QARN.ini", {139}, QARNIniFromBytes).broken; }},
        {"host_ini",
         [](Input in) { return readFile(in, "torvane.ini", {109}, HostIniFromBytes).broken; }},
        {"host_cha", fuzzHostCha},
        {"firm_desc",
         [](Input in) { return readFile(in, "FirmDesc.txt", {149}, FirmDescFromBytes).broken; }},
        {"host_conf", fuzzHostConf},
        {"ift_plain", [](Input in) { return readDescription(in).broken; }},
        {"ift_protected", fuzzIftProtected},
        {"protocol", fuzzProtocol},
    };
    return targets;
}
