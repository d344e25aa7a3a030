#include "commands.h"

#include "error_messages.h"
#include "ift_file.h"
#include "number_text.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {
const char kCheckUsage[] =
    "usage: qarnctl check [--app-dir DIR] FILE.ift\n"
    "\n"
    "Reads a firmware description exactly as the tool does before a download, starting from\n"
    "the QARN.ini of DIR (default: the folder of qarnctl), and prints the values a download\n"
    "would use, one name=value line each. A protected description is unpacked in memory.\n"
    "\n"
    "Exit status: 0 the description is usable, 1 it is refused (the first line is E and the\n"
    "error number, the error text follows), 2 usage error.\n";

void printUtf8(const QString &text) {
    std::fputs(text.toUtf8().constData(), stdout);
}

int usageError(const char *message) {
    std::fprintf(stderr, "qarnctl check: %s\n\n%s", message, kCheckUsage);
    return 2;
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
    QString appDir;
    QString file;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--help" || arg == u"-h") {
            std::fputs(kCheckUsage, stdout);
            return 0;
        }
        if (arg == u"--app-dir") {
            if (i + 1 >= args.size())
                return usageError("--app-dir needs a folder");
            appDir = args.at(++i);
        } else if (arg.startsWith(u"--app-dir=")) {
            appDir = arg.mid(10);
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return usageError(qPrintable(QStringLiteral("unknown option '%1'").arg(arg)));
        } else if (file.isEmpty()) {
            file = arg;
        } else {
            return usageError("only one description file can be checked");
        }
    }
    if (file.isEmpty())
        return usageError("no description file given");
    if (appDir.isEmpty())
        appDir = QCoreApplication::applicationDirPath();
    if (!QFileInfo(appDir).isDir())
        return usageError(qPrintable(QStringLiteral("'%1' is not a folder").arg(appDir)));

    gAppDir = QFileInfo(appDir).absoluteFilePath();
    if (!ReadIftFile(QFileInfo(file).absoluteFilePath())) {
        QString text = GetErrorMessage(gErrNo);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        printUtf8(ErrorCodeText() + u'\n' + text + u'\n');
        return 1;
    }
    printUtf8(valueLines());
    return 0;
}
