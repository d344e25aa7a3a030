#include "ift_file.h"

#include "ift_protect.h"
#include "number_text.h"
#include "run_errors.h"
#include "settings.h"
#include "shared_state.h"
#include "text_file.h"

#include <QFile>
#include <QFileInfo>

namespace {
// The description open between OpenIftFile and CloseIftFile. It is unpacked in memory: no
// plain copy of a protected description ever lands on disk, and two instances of the tool
// sharing one folder cannot overwrite each other's copy.
QByteArray s_plainText;
bool s_wasProtected = false;

// The longest settling pause a description may ask for, in seconds.
constexpr float kMaxWaitTime = 600;

// A description is a small text file; anything bigger is not one.
constexpr qint64 kMaxIftFileSize = kMaxTextFileSize + kIftHeaderSize;

int readDescriptionBytes(const QString &path, QByteArray &bytes) {
    return ReadFileBytes(path, bytes, kMaxIftFileSize, RunError::OutOfMemory);
}

// CPUT to download sequence variant; std::nullopt for a CPUT the tool has no sequence for.
std::optional<int16_t> seqTypeForCput(int16_t cput) {
    switch (cput) {
    case 0:
    case 3:
        return 0;
    case 1:
    case 2:
    case 4:
        return 1;
    case 5:
        return 2;
    case 6:
        return 3;
    default:
        return std::nullopt;
    }
}

// The description whose lines are being applied, and what the line loop learnt beyond the
// shared values, for the checks after it.
QString s_readPath;
QString s_readFolder;
bool s_cputUsable = false; // the last CPUT line named a known sequence variant

QString readPath() {
    return s_readPath;
}

QString fileInFolder(const QString &name) {
    return name.isEmpty() ? QString() : ResolvePathNoCase(s_readFolder + name);
}

void setTimeout(float &target, const QString &value) {
    // Description time-outs are whole seconds in hexadecimal without a prefix.
    if (const auto v = ToSingle(QStringLiteral("&H") + value))
        target = *v;
}

QList<SettingKey> makeDescriptionKeys() {
    QList<SettingKey> common = CommonSettingKeys();
    auto commonKey = [&common](const char *key) {
        for (const SettingKey &k : common) {
            if (k.key == QLatin1String(key))
                return k;
        }
        return SettingKey{};
    };
    return {
        {"CPUT",
         [](const QString &v) {
             const auto cput = ToInt16(v);
             const auto seq = cput ? seqTypeForCput(*cput) : std::nullopt;
             if (seq)
                 gSeqType = *seq;
             s_cputUsable = seq.has_value();
         }},
        {"DF", [](const QString &v) { gIrdFile = fileInFolder(v); }},
        {"UT",
         [](const QString &v) {
             // A number too large for a single stays as written, for the check after the lines.
             if (const auto f = ToSingle(v))
                 gWaitTime = SingleText(*f);
             else if (ToNumber(v))
                 gWaitTime = v;
         }},
        {"UCS", [](const QString &v) { gIrdCheckSum = v; }},
        {"PFN", [](const QString &v) { gPrgFile = fileInFolder(v); }},
        {"FSA", [](const QString &v) { gFlashStart = v; }},
        {"FEA", [](const QString &v) { gFlashEnd = v; }},
        {"FCS", [](const QString &v) { gFlashCheckSum = v; }},
        {"ATO", [](const QString &v) { setTimeout(gAdjustTimeout, v); }},
        {"ETO", [](const QString &v) { setTimeout(gEraseTimeout, v); }},
        {"STO", [](const QString &v) { setTimeout(gStatusTimeout, v); }},
        {"TTO", [](const QString &v) { setTimeout(gTransferTimeout, v); }},
        {"DTO", [](const QString &v) { setTimeout(gDataTimeout, v); }},
        {"WTO", [](const QString &v) { setTimeout(gWriteTimeout, v); }},
        commonKey("BAUD"),
        commonKey("BRATE"),
        {"BRATE2", [](const QString &v) { gBitRate2 = v; }},
        commonKey("DLEN"),
        commonKey("DLENGTH"),
        commonKey("PARI"),
        commonKey("PARITY"),
        commonKey("STOP"),
        commonKey("SBIT"),
        PacketSizeKey("PIZE", readPath),
        PacketSizeKey("PDSIZE", readPath),
        commonKey("NDTCD"),
        {"SETUPINFO", [](const QString &v) { gSetupInfo = v; }},
        // Block size of older descriptions: read as a number, used by nothing.
        {"BSZ", [](const QString &v) { (void)ToNumber(QStringLiteral("&H") + v); }},
    };
}

// Built once: every read tests the same keys.
const QList<SettingKey> &descriptionKeys() {
    static const QList<SettingKey> keys = makeDescriptionKeys();
    return keys;
}

bool isHexText(const QString &text, int minDigits, int maxDigits) {
    return text.size() >= minDigits && HexDigits(text, maxDigits).has_value();
}

// The first key whose value cannot drive a correct download, or an empty text. The keys are
// checked in the order of the key table.
QString unusableKey() {
    if (!s_cputUsable)
        return QStringLiteral("CPUT");
    if (gIrdFile.isEmpty())
        return QStringLiteral("DF");
    // Nothing, not even Stop, shortens the settling pause: it must be one.
    const std::optional<float> pause = ToSingle(gWaitTime);
    if (!pause || !(*pause >= 0 && *pause <= kMaxWaitTime))
        return QStringLiteral("UT");
    if (!isHexText(gIrdCheckSum, 1, 4))
        return QStringLiteral("UCS");
    if (gPrgFile.isEmpty())
        return QStringLiteral("PFN");
    if (!isHexText(gFlashStart, 8, 8))
        return QStringLiteral("FSA");
    if (!isHexText(gFlashEnd, 8, 8))
        return QStringLiteral("FEA");
    if (!isHexText(gFlashCheckSum, 1, 4))
        return QStringLiteral("FCS");
    if (*HexDigits(gFlashStart, 8) > *HexDigits(gFlashEnd, 8))
        return QStringLiteral("FSA");
    if (gPacketSize < 1 || gPacketSize > 32767)
        return gPacketSizeKey.isEmpty() ? QStringLiteral("PDSIZE") : gPacketSizeKey;
    return QString();
}

// Takes a description's bytes as the open description: unpacked when protected.
int16_t openIftBytes(const QByteArray &bytes) {
    s_plainText.clear();
    s_wasProtected = false;
    gIftFileNo = 0;
    if (IsProtectedIft(bytes)) {
        const auto plain = UnpackIft(bytes);
        if (!plain) {
            // A key table without a zero byte ran past its end.
            gRunErrNo = RunError::SubscriptOutOfRange;
            return 99;
        }
        s_plainText = *plain;
        s_wasProtected = true;
    } else {
        s_plainText = bytes;
    }
    gIftFileNo = 1;
    return 0;
}

// Forgets the description open before, then reads the file's bytes; a failure leaves its code.
int16_t readFreshDescription(const QString &path, QByteArray &bytes) {
    s_plainText.clear();
    s_wasProtected = false;
    gIftFileNo = 0;
    if (const int code = readDescriptionBytes(path, bytes)) {
        gRunErrNo = int16_t(code);
        return 99;
    }
    return 0;
}

} // namespace

int16_t OpenIftFile(const QString &path) {
    QByteArray bytes;
    if (readFreshDescription(path, bytes) != 0)
        return 99;
    return openIftBytes(bytes);
}

const QByteArray &IftFilePlainText() {
    return s_plainText;
}

bool IftFileWasProtected() {
    return s_wasProtected;
}

void CloseIftFile() {
    s_plainText.clear();
    gIftFileNo = 0;
    if (gAppDir.isEmpty())
        return;
    const QString stale = AppFilePath(QStringLiteral("TmpFile"));
    if (QFileInfo(stale).isFile())
        QFile::remove(stale);
}

bool ReadIftFile(const QString &path) {
    ResetDescriptionValues();
    gErrKey.clear();
    SetDefaultSettings();
    if (!ReadQARNIni())
        return false;

    gErrNo = 129;
    gRunErrNo = 0;
    gErrFileName = path;
    QByteArray bytes;
    if (readFreshDescription(path, bytes) != 0) {
        gErrNo = 120;
        return false;
    }
    return IftFromBytes(path, bytes);
}

bool IftFromBytes(const QString &path, const QByteArray &bytes) {
    ResetDescriptionValues();
    gErrKey.clear();
    gErrNo = 129;
    gRunErrNo = 0;
    gErrFileName = path;
    if (openIftBytes(bytes) != 0) {
        gErrNo = 120;
        return false;
    }
    s_readPath = path;
    s_readFolder = path.left(LastSeparator(path) + 1);
    s_cputUsable = false;
    const int code = ApplySettingLines(TextLines(IftFilePlainText()), descriptionKeys());
    CloseIftFile();
    if (code != 0) {
        gRunErrNo = int16_t(code);
        return false;
    }

    const QString key = unusableKey();
    if (!key.isEmpty()) {
        gErrNo = 123;
        gErrKey = key;
        // A block size that QARN.ini gave and the description left alone is QARN.ini's fault.
        if (key == gPacketSizeKey && !gPacketSizeFile.isEmpty())
            gErrFileName = gPacketSizeFile;
        return false;
    }
    if (gPrototype != 9) {
        if (!QFileInfo(gIrdFile).isFile()) {
            gErrNo = 121;
            return false;
        }
        if (!QFileInfo(gPrgFile).isFile()) {
            gErrNo = 122;
            return false;
        }
    }
    gErrNo = 0;
    gErrFileName.clear();
    return true;
}
