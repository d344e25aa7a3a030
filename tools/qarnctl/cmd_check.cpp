#include "cli.h"
#include "commands.h"

#include "error_messages.h"
#include "ift_file.h"
#include "number_text.h"
#include "run_report.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {
const char kCheckDescription[] =
    "Reads a firmware description exactly as the tool does before a download, starting from\n"
    "the QARN.ini of DIR (default: the folder of qarnctl), and prints the values a download\n"
    "would use, one name=value line each. A protected description is unpacked in memory.\n"
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
    if (!ReadIftFile(QFileInfo(file).absoluteFilePath())) {
        QString text = GetErrorMessage(gErrNo);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        printUtf8(ErrorCodeText() + u'\n' + text + u'\n');
        sayErrorNotes(kCommand);
        return 1;
    }
    printUtf8(valueLines());
    return 0;
}
