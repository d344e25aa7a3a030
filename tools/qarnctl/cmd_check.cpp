#include "cli.h"
#include "commands.h"

#include "error_messages.h"
#include "ift_file.h"
#include "number_text.h"
#include "run_errors.h"
#include "run_report.h"
#include "shared_state.h"
#include "text_file.h"

#include <QCryptographicHash>

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {
const char kCheckDescription[] =
    "Reads a firmware description exactly as the tool does before a download, starting from\n"
    "the QARN.ini of DIR (default: the folder of qarnctl), and prints the values a download\n"
    "would use, one name=value line each. A protected description is unpacked in memory.\n"
    "\n"
    "The last two lines are the SHA-256 of the kernel (DF) and of the image (PFN) as they are\n"
    "now, to hold against the run history's.\n"
    "\n"
    "Exit status: 0 the description is usable, 1 it is refused (the first line is E and the\n"
    "error number, the error text follows), 2 usage error.";

const QString kCommand = QStringLiteral("qarnctl check");

void printUtf8(const QString &text) {
    std::fputs(text.toUtf8().constData(), stdout);
}

QString valueLines() {
    const QList<std::pair<const char *, QString>> values = {
        {"gSeqType", QString::number(gSeqType)},
        {"gIrdFile", gIrdFile},
        {"gPrgFile", gPrgFile},
        {"gIrdCheckSum", gIrdCheckSum},
        {"gFlashStart", gFlashStart},
        {"gFlashEnd", gFlashEnd},
        {"gFlashCheckSum", gFlashCheckSum},
        {"gBitRate", gBitRate},
        {"gBitRate2", gBitRate2},
        {"gDataBits", gDataBits},
        {"gParity", gParity},
        {"gStopBits", gStopBits},
        {"gPacketSize", QString::number(gPacketSize)},
        {"gSendBlankBlocks", gSendBlankBlocks ? QStringLiteral("1") : QStringLiteral("0")},
        {"gWaitTime", gWaitTime},
        {"gAdjustTimeout", SingleText(gAdjustTimeout)},
        {"gEraseTimeout", SingleText(gEraseTimeout)},
        {"gStatusTimeout", SingleText(gStatusTimeout)},
        {"gTransferTimeout", SingleText(gTransferTimeout)},
        {"gDataTimeout", SingleText(gDataTimeout)},
        {"gWriteTimeout", SingleText(gWriteTimeout)},
        {"gSetupInfo", gSetupInfo},
        {"protected", IftFileWasProtected() ? QStringLiteral("1") : QStringLiteral("0")},
    };
    QString out;
    for (const auto &[name, value] : values)
        out += QLatin1String(name) + u'=' + value + u'\n';
    return out;
}
// The SHA-256 of the file at `path` in 64 hex digits, read as a download opens it; "" with the
// run-time code in `code` when it cannot be read.
QString fileSha256(const QString &path, int &code) {
    QFile file;
    if ((code = OpenRegularFile(path, file)) != 0)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        code = RunError::DeviceIo;
        return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

int printFailure() {
    QString text = GetErrorMessage(gErrNo);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    printUtf8(ErrorCodeText() + u'\n' + text + u'\n');
    sayErrorNotes(kCommand);
    return 1;
}
} // namespace

int runCheck(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kCheckDescription));
    const QCommandLineOption appDirOption(
        QStringLiteral("app-dir"),
        QStringLiteral("application folder holding QARN.ini (default: the folder of qarnctl)"),
        QStringLiteral("DIR"));
    parser.addOption(appDirOption);
    parser.addPositionalArgument(QStringLiteral("FILE.ift"),
                                 QStringLiteral("the firmware description to read"));
    if (const auto status = parseCommandLine(parser, kCommand, args))
        return *status;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageError(kCommand, QStringLiteral("no description file given"));
    if (files.size() > 1)
        return usageError(kCommand, QStringLiteral("only one description file can be checked"));
    const QString file = files.first();
    QString appDir = parser.value(appDirOption);
    if (appDir.isEmpty())
        appDir = QCoreApplication::applicationDirPath();
    if (!QFileInfo(appDir).isDir())
        return usageError(kCommand, QStringLiteral("'%1' is not a folder").arg(appDir));

    gAppDir = QFileInfo(appDir).absoluteFilePath();
    if (!ReadIftFile(QFileInfo(file).absoluteFilePath()))
        return printFailure();
    // The same numbers as a download that cannot read the kernel or the image.
    const std::pair<int, QString> read[] = {{170, gIrdFile}, {171, gPrgFile}};
    QStringList sums;
    for (const auto &[errNo, path] : read) {
        int code = 0;
        sums << fileSha256(path, code);
        if (code != 0) {
            gErrNo = static_cast<int16_t>(errNo);
            gRunErrNo = static_cast<int16_t>(code);
            return printFailure();
        }
    }
    printUtf8(valueLines() + "kernelSha256=" + sums[0] + "\nimageSha256=" + sums[1] + u'\n');
    return 0;
}
