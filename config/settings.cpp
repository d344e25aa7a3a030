#include "settings.h"

#include "number_text.h"
#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"
#include "text_helpers.h"

void SetDefaultSettings() {
    gBitRate = QStringLiteral("9600");
    gDataBits = QStringLiteral("8");
    gParity = QStringLiteral("N");
    gStopBits = QStringLiteral("1");
    gBitRate2 = QStringLiteral("9600");
    gPacketSize = 512;
    gPacketSizeKey.clear();
    gPacketSizeFile.clear();
    gSendBlankBlocks = false;
    gWaitTime = QStringLiteral("3");
    gAdjustTimeout = 15;
    gEraseTimeout = 90;
    gStatusTimeout = 10;
    gTransferTimeout = 20;
    gDataTimeout = 10;
    gWriteTimeout = 30;
    gSetupInfo = QStringLiteral("1");
}

QString ParityLetter(const QString &value) {
    if (value == u"1")
        return QStringLiteral("O");
    if (value == u"2")
        return QStringLiteral("E");
    return QStringLiteral("N");
}

int ApplySettingLines(const QStringList &lines, const QList<SettingKey> &keys) {
    for (const QString &raw : lines) {
        if (raw.size() > kMaxLineLength)
            return RunError::Overflow;
        const QString line = raw.toUpper();
        for (const SettingKey &k : keys) {
            const auto match = IsKeyLine(line, k.key, int16_t(k.key.size()));
            if (match && *match == 0)
                continue;
            QString value;
            if (match) {
                int16_t pos = int16_t(k.key.size() + 1);
                value = GetWord(line, pos);
            }
            k.apply(value);
            break;
        }
    }
    return 0;
}

namespace {
template <typename T, typename F> void convertInto(T &target, const QString &value, F convert) {
    if (const auto v = convert(value))
        target = *v;
}

void setBitRate(const QString &value) {
    gBitRate = value;
    gBitRate2 = gBitRate;
}

void setDataLength(const QString &value) {
    if (const auto v = ToInt16(value))
        gDataBits = QString::number(*v);
}
} // namespace

SettingKey PacketSizeKey(const char *key, QString (*file)()) {
    const QString name = QString::fromLatin1(key);
    return {name, [name, file](const QString &v) {
                if (const auto n = ToInt32(v)) {
                    gPacketSize = *n;
                    gPacketSizeKey = name;
                    gPacketSizeFile = file();
                }
            }};
}

QList<SettingKey> CommonSettingKeys() {
    return {
        {"BAUD",
         [](const QString &v) {
             if (const auto n = ToInt32(v))
                 gBitRate = QString::number(*n);
         }},
        {"BRATE", setBitRate},
        {"DLEN", [](const QString &v) { gDataBits = v; }},
        {"DLENGTH", setDataLength},
        {"PARI", [](const QString &v) { gParity = ParityLetter(v); }},
        {"PARITY", [](const QString &v) { gParity = ParityLetter(v); }},
        {"STOP", [](const QString &v) { gStopBits = v; }},
        {"SBIT", [](const QString &v) { gStopBits = v; }},
        {"NDTCD", [](const QString &v) { gSendBlankBlocks = (v == u"1"); }},
    };
}

static QString settingsFilePath() {
    return AppFilePath(QStringLiteral("QARN.ini"));
}

static QList<SettingKey> makeQarnIniKeys() {
    const QList<SettingKey> common = CommonSettingKeys();
    auto commonKey = [&](const char *key) {
        for (const SettingKey &k : common) {
            if (k.key == QLatin1String(key))
                return k.apply;
        }
        return std::function<void(const QString &)>();
    };
    return {
        {"CMDCSL", [](const QString &v) { gCmdConsole = v; }},
        {"PROTOTYPE", [](const QString &v) { convertInto(gPrototype, v, ToInt16); }},
        {"LANGUAGE",
         [](const QString &v) {
             const auto n = ToInt32(v);
             if (n && *n >= INT32_MIN / 100 && *n <= INT32_MAX / 100)
                 gLangBase = *n * 100;
         }},
        {"PORT", [](const QString &v) { gPort = v; }},
        {"DSTO",
         [](const QString &v) {
             convertInto(gStatusTimeout, v, ToSingle);
             gAdjustTimeout = gTransferTimeout = gDataTimeout = gWriteTimeout = gStatusTimeout;
         }},
        {"DETO", [](const QString &v) { convertInto(gEraseTimeout, v, ToSingle); }},
        {"BAUD", commonKey("BAUD")},
        {"BRATE", setBitRate},
        {"DBRATE", setBitRate},
        {"DLEN", commonKey("DLEN")},
        {"DLENGTH", setDataLength},
        {"DDLENGTH", setDataLength},
        {"PARI", commonKey("PARI")},
        {"PARITY", commonKey("PARITY")},
        {"DPARITY", commonKey("PARITY")},
        {"STOP", commonKey("STOP")},
        {"SBIT", commonKey("SBIT")},
        {"DSBIT", commonKey("SBIT")},
        PacketSizeKey("PIZE", settingsFilePath),
        PacketSizeKey("PDSIZE", settingsFilePath),
        PacketSizeKey("DPDSIZE", settingsFilePath),
        {"NDTCD", commonKey("NDTCD")},
        {"TRACE", [](const QString &v) { gTrace = (v == u"1"); }},
        {"HISTORY",
         [](const QString &v) {
             if (const auto n = ToInt16(v))
                 gHistory = *n != 0;
         }},
        {"STREAM", [](const QString &v) { gStreamKernel = (v == u"1"); }},
    };
}

// Built once: every read tests the same keys.
static const QList<SettingKey> &qarnIniKeys() {
    static const QList<SettingKey> keys = makeQarnIniKeys();
    return keys;
}

namespace {
void beginSettingsRead() {
    gErrNo = 139;
    gRunErrNo = 0;
    gPrototype = 0;
    gLangBase = 0;
    gTrace = false;
    gHistory = true;
    gStreamKernel = false;
}
} // namespace

bool ReadQARNIni() {
    beginSettingsRead();
    gFilePath = AppFilePath(QStringLiteral("QARN.ini"));
    gErrFileName = gFilePath;

    QByteArray bytes;
    const int code = ReadTextFile(gFilePath, bytes);
    if (code == RunError::FileNotFound || code == RunError::BadFileName) {
        gErrNo = 130;
        return false;
    }
    if (code != 0) {
        gRunErrNo = int16_t(code);
        return false;
    }
    return QARNIniFromBytes(bytes);
}

bool QARNIniFromBytes(const QByteArray &bytes) {
    beginSettingsRead();
    if (const int code = ApplySettingLines(TextLines(bytes), qarnIniKeys())) {
        gRunErrNo = int16_t(code);
        gPrototype = 0;
        gLangBase = 0;
        return false;
    }
    gErrNo = 0;
    gErrFileName.clear();
    return true;
}
