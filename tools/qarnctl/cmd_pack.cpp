#include "commands.h"

#include "ift_protect.h"
#include "text_file.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cstdio>

namespace {
const char kPackUsage[] =
    "usage: qarnctl pack --key-a HEX --key-b HEX IN OUT\n"
    "\n"
    "Writes the protected form of the plain description IN to OUT. Key table A is 5 bytes\n"
    "(10 hexadecimal digits), key table B 4 bytes (8 digits); each needs a zero byte, which\n"
    "ends the part of the table that is used (for example --key-a 1122334400). OUT is\n"
    "replaced only when it has been written completely.\n"
    "\n"
    "Exit status: 0 written, 1 refused (IN unreadable, empty or already protected, OUT not\n"
    "writable), 2 usage error.\n";

int usageError(const QString &message) {
    std::fprintf(stderr, "qarnctl pack: %s\n\n%s", qPrintable(message), kPackUsage);
    return 2;
}

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
    QString keyAText;
    QString keyBText;
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--help" || arg == u"-h") {
            std::fputs(kPackUsage, stdout);
            return 0;
        }
        if (arg == u"--key-a" || arg == u"--key-b") {
            if (i + 1 >= args.size())
                return usageError(arg + QStringLiteral(" needs a value"));
            (arg == u"--key-a" ? keyAText : keyBText) = args.at(++i);
        } else if (arg.startsWith(u"--key-a=")) {
            keyAText = arg.mid(8);
        } else if (arg.startsWith(u"--key-b=")) {
            keyBText = arg.mid(8);
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        } else {
            files << arg;
        }
    }
    if (keyAText.isEmpty() || keyBText.isEmpty())
        return usageError(QStringLiteral("both --key-a and --key-b are needed"));
    if (files.size() != 2)
        return usageError(QStringLiteral("give one input file and one output file"));

    const auto keyA = keyTable(keyAText, kIftKeyASize);
    if (!keyA)
        return usageError(QStringLiteral("--key-a must be 10 hexadecimal digits (5 bytes)"));
    const auto keyB = keyTable(keyBText, kIftKeyBSize);
    if (!keyB)
        return usageError(QStringLiteral("--key-b must be 8 hexadecimal digits (4 bytes)"));
    if (!IsUsableKeyTable(*keyA))
        return usageError(QStringLiteral("--key-a needs a zero byte (00) to end the table"));
    if (!IsUsableKeyTable(*keyB))
        return usageError(QStringLiteral("--key-b needs a zero byte (00) to end the table"));

    const QString &in = files.at(0);
    const QString &out = files.at(1);
    // A pipe or a device would never end; a description is a small regular file.
    const QFileInfo inInfo(in);
    if (inInfo.exists() && !inInfo.isFile())
        return refuse(QStringLiteral("'%1' is not a regular file").arg(in));
    if (inInfo.size() > kMaxTextFileSize)
        return refuse(QStringLiteral("'%1' is too large for a description").arg(in));
    QByteArray plain;
    if (const int code = ReadBinaryFile(in, plain))
        return refuse(QStringLiteral("cannot read '%1' (error %2)").arg(in).arg(code));
    if (plain.isEmpty())
        return refuse(QStringLiteral("'%1' is empty").arg(in));
    if (plain.size() > kMaxTextFileSize)
        return refuse(QStringLiteral("'%1' is too large for a description").arg(in));
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
