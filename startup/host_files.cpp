#include "host_files.h"

#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"
#include "text_helpers.h"

#include <QStringList>
#include <optional>

namespace {
constexpr int16_t kReadOk = 0;
constexpr int16_t kReadFailed = 99;

// Stores the path of an application-folder file where the error window finds it and reads its
// bytes. Returns 0 or the failure code of the open or read.
int readHostFile(const QString &name, QByteArray &bytes) {
    gFilePath = AppFilePath(name);
    gErrFileName = gFilePath;
    return ReadTextFile(gFilePath, bytes);
}

// Sets the error state of a failed read: the file's "cannot open" number for a missing file or a
// bad name, its "any other failure" number with the code otherwise. gErrFileName keeps the path.
int16_t readFailed(int code, int16_t missingErrNo, int16_t otherErrNo) {
    if (code == RunError::FileNotFound || code == RunError::BadFileName) {
        gErrNo = missingErrNo;
        gRunErrNo = 0;
    } else {
        gErrNo = otherErrNo;
        gRunErrNo = int16_t(code);
    }
    return kReadFailed;
}

int16_t readSucceeded() {
    gErrNo = 0;
    gErrFileName.clear();
    gRunErrNo = 0;
    return kReadOk;
}

// The key line loop of torvane.ini and torvane.cha: the index of the first key (in table order)
// that starts the line, -1 when none does. A line that is one of the keys alone has no separator
// to test and fails with code 5, given back in `code`.
int matchKey(const QString &line, const QStringList &keys, int &code) {
    for (int i = 0; i < keys.size(); ++i) {
        const auto match = IsKeyLine(line, keys.at(i), int16_t(keys.at(i).size()));
        if (!match) {
            code = RunError::InvalidArgument;
            return -1;
        }
        if (*match == 1)
            return i;
    }
    return -1;
}

QString valueAfterKey(const QString &line, const QString &key) {
    int16_t pos = int16_t(key.size() + 1);
    return GetWord(line, pos);
}

// Appends one element to a host list; false (overflow) when the list is already full.
bool appendBounded(QStringList &list, const QString &value) {
    if (list.size() >= kMaxHostListSize)
        return false;
    list.append(value);
    return true;
}

// The code of a line no reader may take: positions inside a line are 16-bit.
int lineLengthCode(const QString &line) {
    return line.size() > kMaxLineLength ? RunError::Overflow : 0;
}
} // namespace

int16_t ReadHostIni() {
    gErrNo = 100;
    gCountryList.clear();
    gLangList.clear();
    QByteArray bytes;
    if (const int code = readHostFile(QStringLiteral("torvane.ini"), bytes))
        return readFailed(code, 100, 109);
    return HostIniFromBytes(bytes);
}

int16_t HostIniFromBytes(const QByteArray &bytes) {
    gErrNo = 100;
    gCountryList.clear();
    gLangList.clear();
    const QStringList lines = TextLines(bytes);
    const QStringList keys = {QStringLiteral("cntry"), QStringLiteral("lang"),
                              QStringLiteral("DRIVE")};
    for (const QString &line : lines) {
        int code = lineLengthCode(line);
        const int key = code ? -1 : matchKey(line, keys, code);
        if (code)
            return readFailed(code, 100, 109);
        if (key < 0)
            continue;
        const QString value = valueAfterKey(line, keys.at(key));
        bool stored = true;
        switch (key) {
        case 0:
            stored = appendBounded(gCountryList, value);
            break;
        case 1:
            stored = appendBounded(gLangList, value);
            break;
        default:
            gDrive = value;
            break;
        }
        if (!stored)
            return readFailed(RunError::Overflow, 100, 109);
    }
    return readSucceeded();
}

int16_t ReadHostCha() {
    gFdir.clear();
    gSelectedModel.clear();
    gSelectedPcb.clear();
    QByteArray bytes;
    if (const int code = readHostFile(QStringLiteral("torvane.cha"), bytes))
        return readFailed(code, 110, 119);
    return HostChaFromBytes(bytes);
}

int16_t HostChaFromBytes(const QByteArray &bytes) {
    gFdir.clear();
    gSelectedModel.clear();
    gSelectedPcb.clear();
    const QStringList lines = TextLines(bytes);
    const QStringList keys = {QStringLiteral("MAIN"), QStringLiteral("Fdir"),
                              QStringLiteral("SelectedModel"), QStringLiteral("SelectedPCB")};
    QString mainState;
    for (const QString &line : lines) {
        int code = lineLengthCode(line);
        const int key = code ? -1 : matchKey(line, keys, code);
        if (code)
            return readFailed(code, 110, 119);
        if (key < 0)
            continue;
        const QString value = valueAfterKey(line, keys.at(key));
        switch (key) {
        case 0:
            mainState = value;
            break;
        case 1:
            gFdir = value;
            break;
        case 2:
            gSelectedModel = value;
            break;
        default:
            gSelectedPcb = value;
            break;
        }
    }

    // The host writes "SET" in capitals; the comparison is exact although the keys are not.
    const bool complete = mainState == u"SET" && !gFdir.isEmpty() && !gSelectedModel.isEmpty() &&
                          !gSelectedPcb.isEmpty();
    if (!complete) {
        gErrNo = 111;
        gRunErrNo = 0;
        return kReadFailed;
    }
    return readSucceeded();
}

int16_t ReadFirmDesc() {
    gErrNo = 140;
    gTgbnList.clear();
    gTgbnDescList.clear();
    QByteArray bytes;
    if (const int code = readHostFile(QStringLiteral("FirmDesc.txt"), bytes))
        return readFailed(code, 140, 149);
    return FirmDescFromBytes(bytes);
}

int16_t FirmDescFromBytes(const QByteArray &bytes) {
    gErrNo = 140;
    gTgbnList.clear();
    gTgbnDescList.clear();
    const QStringList lines = TextLines(bytes);
    int entry = 0; // entries run from 1; entry 0 stays empty
    for (const QString &line : lines) {
        if (const int code = lineLengthCode(line))
            return readFailed(code, 140, 149);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(QStringLiteral("TGBN "))) {
            if (entry >= kMaxHostListSize)
                return readFailed(RunError::Overflow, 140, 149);
            ++entry;
            while (gTgbnList.size() <= entry)
                gTgbnList.append(QString());
            while (gTgbnDescList.size() <= entry)
                gTgbnDescList.append(QString());
            int16_t pos = 5;
            gTgbnList[entry] = GetWord(line, pos);
        } else if (line.startsWith(QStringLiteral("TGBNDESC"))) {
            if (entry == 0) // a description before any board has nothing to describe
                return readFailed(RunError::SubscriptOutOfRange, 140, 149);
            int16_t pos = 9;
            gTgbnDescList[entry] = GetRestOfLine(line, pos);
        }
    }
    return readSucceeded();
}
