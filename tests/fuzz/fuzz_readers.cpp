// The readers of the tool's settings, the host's hand-off files and catalogue, and the firmware
// descriptions plain and protected. Each input is the bytes of one file, handed to the reader's
// core as the file edge would hand them on: no file is written per input.

#include "fuzz_targets.h"

#include "error_messages.h"
#include "host_conf.h"
#include "host_files.h"
#include "ift_file.h"
#include "ift_protect.h"
#include "settings.h"
#include "shared_state.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <optional>

QString FuzzAppDir() {
    static const std::unique_ptr<QTemporaryDir> dir = std::make_unique<QTemporaryDir>();
    ResetSharedState();
    gAppDir = dir->path();
    return gAppDir;
}

QString WriteAppFile(const QString &name, const QByteArray &bytes) {
    const QString full = QDir(gAppDir).filePath(name);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return full;
}

namespace {

QByteArray bytesOf(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Fresh state, and the file's path where the edge leaves it before handing the bytes on.
QString startReader(const char *name) {
    gFilePath = gErrFileName = FuzzAppDir() + u'/' + QLatin1String(name);
    return gFilePath;
}

// What every reader keeps: success leaves no error behind; failure leaves one of the core's own
// numbers, names the file, carries a failure code with an x9 number, and has a text.
std::string checkOutcome(const std::string &reader, bool ok, std::initializer_list<int> numbers,
                         const QString &path) {
    if (ok)
        return gErrNo == 0 && gRunErrNo == 0 && gErrFileName.isEmpty()
                   ? std::string()
                   : reader + ": success left error " + std::to_string(gErrNo);
    if (std::find(numbers.begin(), numbers.end(), gErrNo) == numbers.end())
        return reader + ": failure with foreign error number " + std::to_string(gErrNo);
    if (gErrFileName != path)
        return reader + ": failure names '" + gErrFileName.toStdString() + "'";
    if (gErrNo % 10 == 9 && gRunErrNo == 0)
        return reader + ": error " + std::to_string(gErrNo) + " without a failure code";
    if (GetErrorMessage(gErrNo).isEmpty())
        return reader + ": no text for error " + std::to_string(gErrNo);
    return {};
}

std::string hostFile(const char *name, int16_t (*core)(const QByteArray &),
                     std::initializer_list<int> numbers, const uint8_t *data, size_t size) {
    const QString path = startReader(name);
    const int16_t result = core(bytesOf(data, size));
    if (result != 0 && result != 99)
        return std::string(name) + ": result " + std::to_string(result);
    return checkOutcome(name, result == 0, numbers, path);
}

// A tree that refuses a key it holds and a parent it does not, as a tree control does, and
// checks that only the selected model, its selected board and that board's versions appear.
class CheckingTree : public FirmTreeSink {
public:
    void clear() override {}
    bool addNode(const QString &parent, const QString &key, const QString &) override {
        if (m_parents.contains(key) || (!parent.isEmpty() && !m_parents.contains(parent)))
            return false;
        m_parents.insert(key, parent);
        const QString board = gSelectedModel + u'=' + gSelectedPcb;
        if (parent.isEmpty()           ? key != gSelectedModel
            : parent == gSelectedModel ? key != board
                                       : parent != board || !key.startsWith(board + u'\\'))
            m_failure = "torvane.conf: unexpected node '" + key.toStdString() + "'";
        return true;
    }
    void expandAll() override {}
    std::string m_failure;

private:
    QHash<QString, QString> m_parents;
};

// The firmware folder with the files a good description names, written once per process; each
// input starts from the defaults and the same QARN.ini, as the description reader does.
QString startDescription() {
    static const QString path = [] {
        FuzzAppDir();
        WriteAppFile("fw/KERNEL.DF", QByteArray::fromHex("01223344f0"));
        WriteAppFile("fw/IMAGE.PFN", QByteArray(64, '\x5a'));
        return QDir(gAppDir).filePath("fw/FW.ift");
    }();
    FuzzAppDir();
    SetDefaultSettings();
    QARNIniFromBytes("LANGUAGE 1\r\nPORT 3\r\n");
    return path;
}

std::string checkDescription(bool ok, const QString &path) {
    if (std::string failure = checkOutcome("description", ok, {120, 121, 122, 123, 129}, path);
        !failure.empty())
        return failure;
    if (gSeqType < 0 || gSeqType > 3)
        return "description: variant " + std::to_string(gSeqType) + " out of range";
    if (ok && (gPacketSize < 1 || gPacketSize > 32767))
        return "description: accepted a block size of " + std::to_string(gPacketSize);
    return {};
}

bool returnsToStart(const QByteArray &table) {
    return table.indexOf('\0', 1) > 0;
}

} // namespace

std::string FuzzSettingsFile(const uint8_t *data, size_t size) {
    const QString path = startReader("QARN.ini");
    const bool ok = QARNIniFromBytes(bytesOf(data, size));
    if (std::string failure = checkOutcome("QARN.ini", ok, {139}, path); !failure.empty())
        return failure;
    return gLangBase % 100 == 0 ? std::string() : "QARN.ini: language base off the hundreds";
}

std::string FuzzHostIni(const uint8_t *data, size_t size) {
    if (std::string failure = hostFile("torvane.ini", HostIniFromBytes, {109}, data, size);
        !failure.empty())
        return failure;
    return gCountryList.size() > 32767 || gLangList.size() > 32767
               ? "torvane.ini: a list grew past 32767 elements"
               : std::string();
}

std::string FuzzHostCha(const uint8_t *data, size_t size) {
    if (std::string failure = hostFile("torvane.cha", HostChaFromBytes, {111, 119}, data, size);
        !failure.empty())
        return failure;
    if (gErrNo == 0 && (gFdir.isEmpty() || gSelectedModel.isEmpty() || gSelectedPcb.isEmpty()))
        return "torvane.cha: accepted a hand-off without folder, model or board";
    return gErrNo == 111 && gRunErrNo != 0 ? "torvane.cha: incomplete with a failure code"
                                           : std::string();
}

std::string FuzzFirmDesc(const uint8_t *data, size_t size) {
    if (std::string failure = hostFile("FirmDesc.txt", FirmDescFromBytes, {149}, data, size);
        !failure.empty())
        return failure;
    if (gTgbnList.size() != gTgbnDescList.size())
        return "FirmDesc.txt: board names and descriptions out of step";
    return !gTgbnList.isEmpty() && !gTgbnList.first().isEmpty() ? "FirmDesc.txt: entry 0 is set"
                                                                : std::string();
}

std::string FuzzHostConf(const uint8_t *data, size_t size) {
    const QString path = startReader("torvane.conf");
    gSelectedModel = QStringLiteral("M100");
    gSelectedPcb = QStringLiteral("MAIN");
    CheckingTree tree;
    const int result = HostConfFromBytes(bytesOf(data, size), tree);
    if (result != 0 && result != 99)
        return "torvane.conf: result " + std::to_string(result);
    if (std::string failure = checkOutcome("torvane.conf", result == 0, {169}, path);
        !failure.empty())
        return failure;
    return tree.m_failure;
}

std::string FuzzIftPlain(const uint8_t *data, size_t size) {
    const QString path = startDescription();
    return checkDescription(IftFromBytes(path, bytesOf(data, size)), path);
}

// The input is key table A (5 bytes), key table B (4 bytes) and the packed text; the header
// around the tables carries both markers, so the bytes are always taken as protected.
std::string FuzzIftProtected(const uint8_t *data, size_t size) {
    const QByteArray input = bytesOf(data, size);
    const QByteArray keyA = input.left(kIftKeyASize).leftJustified(kIftKeyASize, '\0');
    const QByteArray keyB = input.mid(kIftKeyASize, kIftKeyBSize).leftJustified(kIftKeyBSize, '\0');
    const QByteArray body = input.mid(kIftKeyASize + kIftKeyBSize);
    QByteArray file(kIftHeaderSize, '\x5a');
    file.replace(kIftMarkerAOffset, kIftMarkerASize, QByteArray::fromHex("5B21E07C94D3A6F8"));
    file.replace(kIftMarkerBOffset, kIftMarkerBSize,
                 QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    file.replace(kIftKeyAOffset, kIftKeyASize, keyA);
    file.replace(kIftKeyBOffset, kIftKeyBSize, keyB);
    file += body;

    const QString path = startDescription();
    const bool ok = IftFromBytes(path, file);
    if (std::string failure = checkDescription(ok, path); !failure.empty() || body.isEmpty())
        return failure;
    // The index walks a table from its start and goes back there at a zero it reaches; a table
    // with no zero past its first entry runs out at packed byte 5 (B) or 6 (A).
    const bool runsOut = (!returnsToStart(keyB) && body.size() > kIftKeyBSize) ||
                         (!returnsToStart(keyA) && body.size() > kIftKeyASize);
    const std::optional<QByteArray> plain = UnpackIft(file);
    if (plain.has_value() == runsOut)
        return runsOut ? "protected: unpacked past the end of a key table"
                       : "protected: refused usable key tables";
    if (runsOut)
        return !ok && gErrNo == 120 ? std::string() : "protected: failed unpacking not 120";
    if (plain->size() != body.size())
        return "protected: plain text and packed text differ in length";
    if (returnsToStart(keyA) && returnsToStart(keyB)) {
        QRandomGenerator rng{quint32(size)};
        const std::optional<QByteArray> packed = PackIft(*plain, keyA, keyB, rng);
        if (!packed || UnpackIft(*packed) != *plain)
            return "protected: packing and unpacking do not give the text back";
    }
    return {};
}
