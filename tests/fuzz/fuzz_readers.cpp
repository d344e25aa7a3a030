// The readers of the tool's own settings, the host's hand-off files and catalogue, and the
// firmware descriptions plain and protected, each fed with the bytes of one input as its file.

#include "fuzz_app_dir.h"
#include "fuzz_targets.h"

#include "host_conf.h"
#include "host_files.h"
#include "ift_file.h"
#include "ift_protect.h"
#include "settings.h"
#include "shared_state.h"

#include <QHash>
#include <QRandomGenerator>

namespace {

const QByteArray kSettings = "LANGUAGE 1\r\nPORT 3\r\n";

std::string checkHostLists() {
    if (gCountryList.size() > 32767 || gLangList.size() > 32767)
        return "torvane.ini: a list grew past 32767 elements";
    return {};
}

// A tree that refuses a key it already holds and a parent it does not, as a tree control does.
class CheckingTree : public FirmTreeSink {
public:
    void clear() override {
        parents.clear();
        order.clear();
    }
    bool addNode(const QString &parentKey, const QString &key, const QString &) override {
        if (parents.contains(key) || (!parentKey.isEmpty() && !parents.contains(parentKey)))
            return false;
        parents.insert(key, parentKey);
        order.append(key);
        return true;
    }
    void expandAll() override {}

    // Only the selected model, its selected board and that board's versions may appear.
    std::string check() const {
        const QString model = gSelectedModel;
        const QString board = model + u'=' + gSelectedPcb;
        for (const QString &key : order) {
            const QString parent = parents.value(key);
            const bool ok = parent.isEmpty()  ? key == model
                            : parent == model ? key == board
                                              : parent == board && key.startsWith(board + u'\\');
            if (!ok)
                return "torvane.conf: unexpected node '" + key.toStdString() + "' under '" +
                       parent.toStdString() + "'";
        }
        return {};
    }

    QHash<QString, QString> parents;
    QStringList order;
};

// A header whose markers are in place, with the key tables taken from the input.
QByteArray protectedHeader(const QByteArray &keyA, const QByteArray &keyB) {
    QByteArray header(kIftHeaderSize, '\0');
    for (int i = 0; i < kIftHeaderSize; ++i)
        header[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    header.replace(12, 8, QByteArray::fromHex("5B21E07C94D3A6F8"));
    header.replace(212, 16, QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    header.replace(120, 5, keyA);
    header.replace(36, 4, keyB);
    return header;
}

bool returnsToStart(const QByteArray &table) {
    return table.indexOf('\0', 1) > 0;
}

// The description reader's side of one description file already written at `path`.
std::string checkDescription(bool ok, const QString &path) {
    if (std::string failure =
            CheckReaderOutcome("description", ok, {120, 121, 122, 123, 129}, path);
        !failure.empty())
        return failure;
    if (AppFileExists("TmpFile"))
        return "description: the plain copy TmpFile was left behind";
    if (gSeqType < 0 || gSeqType > 3)
        return "description: variant " + std::to_string(gSeqType) + " out of range";
    if (ok && gPacketSize <= 0)
        return "description: accepted a block size of " + std::to_string(gPacketSize);
    return {};
}

// The description folder with the files a good description names.
QString prepareStore() {
    FuzzAppDir();
    WriteAppFile("QARN.ini", kSettings);
    WriteAppFile("fw/KERNEL.DF", QByteArray::fromHex("01223344f0"));
    WriteAppFile("fw/IMAGE.PFN", QByteArray(64, '\x5a'));
    return WriteAppFile("fw/FW.ift", QByteArray());
}

} // namespace

std::string FuzzSettingsFile(const uint8_t *data, size_t size) {
    FuzzAppDir();
    const QString path = WriteAppFile("QARN.ini", InputBytes(data, size));
    const bool ok = ReadQARNIni();
    if (std::string failure = CheckReaderOutcome("QARN.ini", ok, {130, 139}, path);
        !failure.empty())
        return failure;
    if (gLangBase % 100 != 0)
        return "QARN.ini: language base " + std::to_string(gLangBase) + " is no multiple of 100";
    return {};
}

std::string FuzzHostIni(const uint8_t *data, size_t size) {
    FuzzAppDir();
    const QString path = WriteAppFile("torvane.ini", InputBytes(data, size));
    const int16_t result = ReadHostIni();
    if (result != 0 && result != 99)
        return "torvane.ini: result " + std::to_string(result);
    if (std::string failure = CheckReaderOutcome("torvane.ini", result == 0, {100, 109}, path);
        !failure.empty())
        return failure;
    return checkHostLists();
}

std::string FuzzHostCha(const uint8_t *data, size_t size) {
    FuzzAppDir();
    const QString path = WriteAppFile("torvane.cha", InputBytes(data, size));
    const int16_t result = ReadHostCha();
    if (result != 0 && result != 99)
        return "torvane.cha: result " + std::to_string(result);
    if (std::string failure = CheckReaderOutcome("torvane.cha", result == 0, {110, 111, 119}, path);
        !failure.empty())
        return failure;
    if (result == 0 && (gFdir.isEmpty() || gSelectedModel.isEmpty() || gSelectedPcb.isEmpty()))
        return "torvane.cha: accepted a hand-off without folder, model or board";
    if (gErrNo == 111 && gRunErrNo != 0)
        return "torvane.cha: incomplete hand-off with a failure code";
    return {};
}

std::string FuzzFirmDesc(const uint8_t *data, size_t size) {
    FuzzAppDir();
    const QString path = WriteAppFile("FirmDesc.txt", InputBytes(data, size));
    const int16_t result = ReadFirmDesc();
    if (result != 0 && result != 99)
        return "FirmDesc.txt: result " + std::to_string(result);
    if (std::string failure = CheckReaderOutcome("FirmDesc.txt", result == 0, {140, 149}, path);
        !failure.empty())
        return failure;
    if (gTgbnList.size() != gTgbnDescList.size())
        return "FirmDesc.txt: board names and descriptions out of step";
    if (!gTgbnList.isEmpty() && !gTgbnList.first().isEmpty())
        return "FirmDesc.txt: entry 0 is not empty";
    return {};
}

std::string FuzzHostConf(const uint8_t *data, size_t size) {
    FuzzAppDir();
    gSelectedModel = QStringLiteral("M100");
    gSelectedPcb = QStringLiteral("MAIN");
    const QString path = WriteAppFile("torvane.conf", InputBytes(data, size));
    CheckingTree tree;
    const int result = ReadHostConf(tree);
    if (result != 0 && result != 99)
        return "torvane.conf: result " + std::to_string(result);
    if (std::string failure = CheckReaderOutcome("torvane.conf", result == 0, {160, 169}, path);
        !failure.empty())
        return failure;
    return tree.check();
}

std::string FuzzIftPlain(const uint8_t *data, size_t size) {
    const QString path = prepareStore();
    WriteAppFile("fw/FW.ift", InputBytes(data, size));
    const bool ok = ReadIftFile(path);
    return checkDescription(ok, path);
}

// The input is key table A (5 bytes), key table B (4 bytes) and the packed text; the header
// around the tables carries both markers, so the file is always taken as protected.
std::string FuzzIftProtected(const uint8_t *data, size_t size) {
    const QByteArray input = InputBytes(data, size);
    const QByteArray keyA = input.left(kIftKeyASize).leftJustified(kIftKeyASize, '\0');
    const QByteArray keyB = input.mid(kIftKeyASize, kIftKeyBSize).leftJustified(kIftKeyBSize, '\0');
    const QByteArray body = input.mid(kIftKeyASize + kIftKeyBSize);
    const QByteArray file = protectedHeader(keyA, keyB) + body;

    const QString path = prepareStore();
    WriteAppFile("fw/FW.ift", file);
    const bool ok = ReadIftFile(path);
    if (std::string failure = checkDescription(ok, path); !failure.empty())
        return failure;

    // The index walks a table from its start and goes back there at a zero it reaches; a table
    // with no zero past its first entry runs out at packed byte 5 (B) or 6 (A).
    const bool runsOut = (!returnsToStart(keyB) && body.size() > kIftKeyBSize) ||
                         (!returnsToStart(keyA) && body.size() > kIftKeyASize);
    if (body.isEmpty())
        return {};
    const std::optional<QByteArray> plain = UnpackIft(file);
    if (plain.has_value() == runsOut)
        return runsOut ? "protected: unpacked past the end of a key table"
                       : "protected: refused usable key tables";
    if (runsOut && (ok || gErrNo != 120))
        return "protected: a failed unpacking was not error 120";
    if (!plain)
        return {};
    if (plain->size() != body.size())
        return "protected: plain text and packed text differ in length";
    if (returnsToStart(keyA) && returnsToStart(keyB)) {
        QRandomGenerator rng(static_cast<quint32>(size));
        const std::optional<QByteArray> packed = PackIft(*plain, keyA, keyB, rng);
        if (!packed || UnpackIft(*packed) != *plain)
            return "protected: packing and unpacking do not give the text back";
    }
    return {};
}
