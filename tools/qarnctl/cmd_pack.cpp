#include "cli.h"
#include "commands.h"

#include "ift_protect.h"
#include "run_errors.h"
#include "text_file.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cstdio>

namespace {
const char kPackDescription[] =
    "Writes the protected form of the plain description IN to OUT. Key table A is 5 bytes\n"
    "(10 hexadecimal digits), key table B 4 bytes (8 digits); each needs a zero byte, which\n"
    "ends the part of the table that is used (for example --key-a 1122334400). OUT is\n"
    "replaced only when it has been written completely.\n"
    "\n"
    "Exit status: 0 written, 1 refused (IN unreadable, empty or already protected, OUT not\n"
    "writable), 2 usage error.";

const QString kCommand = QStringLiteral("qarnctl pack");

int refuse(const QString &message) {
    std::fprintf(stderr, "qarnctl pack: %s\n", qPrintable(message));
    return 1;
}

// Exactly 2 * size hexadecimal digits; std::nullopt otherwise.
std::optional<QByteArray> keyTable(const QString &text, int size) {
    if (text.size() != 2 * size)
        return std::nullopt;
    for (const QChar c : text) {
        if (!isxdigit(c.toLatin1()) || c.unicode() > 0x7F)
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}
} // namespace

int runPack(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kPackDescription));
    const QCommandLineOption keyAOption(QStringLiteral("key-a"),
                                        QStringLiteral("key table A, 10 hexadecimal digits"),
                                        QStringLiteral("HEX"));
    const QCommandLineOption keyBOption(QStringLiteral("key-b"),
                                        QStringLiteral("key table B, 8 hexadecimal digits"),
                                        QStringLiteral("HEX"));
    parser.addOptions({keyAOption, keyBOption});
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("the plain description"));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("the file to write"));
    if (const auto status = parseCommandLine(parser, kCommand, args))
        return *status;
    const QString keyAText = parser.value(keyAOption);
    const QString keyBText = parser.value(keyBOption);
    const QStringList files = parser.positionalArguments();
    if (keyAText.isEmpty() || keyBText.isEmpty())
        return usageError(kCommand, QStringLiteral("both --key-a and --key-b are needed"));
    if (files.size() != 2)
        return usageError(kCommand, QStringLiteral("give one input file and one output file"));

    const auto keyA = keyTable(keyAText, kIftKeyASize);
    if (!keyA)
        return usageError(kCommand,
                          QStringLiteral("--key-a must be 10 hexadecimal digits (5 bytes)"));
    const auto keyB = keyTable(keyBText, kIftKeyBSize);
    if (!keyB)
        return usageError(kCommand,
                          QStringLiteral("--key-b must be 8 hexadecimal digits (4 bytes)"));
    if (!IsUsableKeyTable(*keyA))
        return usageError(kCommand,
                          QStringLiteral("--key-a needs a zero byte (00) to end the table"));
    if (!IsUsableKeyTable(*keyB))
        return usageError(kCommand,
                          QStringLiteral("--key-b needs a zero byte (00) to end the table"));

    const QString &in = files.at(0);
    const QString &out = files.at(1);
    // A pipe or a device would never end; a description is a small regular file.
    QByteArray plain;
    const int code = ReadFileBytes(in, plain, kMaxTextFileSize, RunError::OutOfMemory);
    if (code == RunError::PathFileAccess && QFileInfo::exists(in))
        return refuse(QStringLiteral("'%1' is not a regular file").arg(in));
    if (code == RunError::OutOfMemory)
        return refuse(QStringLiteral("'%1' is too large for a description").arg(in));
    if (code != 0)
        return refuse(QStringLiteral("cannot read '%1' (error %2)").arg(in).arg(code));
    if (plain.isEmpty())
        return refuse(QStringLiteral("'%1' is empty").arg(in));
    if (IsProtectedIft(plain))
        return refuse(QStringLiteral("'%1' is already protected").arg(in));

    const auto packed = PackIft(plain, *keyA, *keyB, *QRandomGenerator::global());
    if (!packed)
        return refuse(QStringLiteral("cannot pack '%1'").arg(in));

    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(*packed) != packed->size() ||
        !file.commit()) {
        return refuse(QStringLiteral("cannot write '%1': %2").arg(out, file.errorString()));
    }
    return 0;
}
