#include "text_file.h"

#include "run_errors.h"
#include "shared_state.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

QString DecodeText(const QByteArray &bytes) {
    // Made once: every text file of the tool is decoded here, one after another on one thread.
    static QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    static QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
    utf8.resetState();
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    sjis.resetState();
    return sjis.decode(bytes);
}

QStringList SplitLines(const QString &text) {
    QStringList lines;
    lines.reserve(text.count(u'\n') + text.count(u'\r') + 1);
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

int OpenFailureCode(const QString &path) {
    if (path.isEmpty() || path.contains(QChar(0)))
        return RunError::BadFileName;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (!info.absoluteDir().exists())
            return RunError::PathNotFound;
        return RunError::FileNotFound;
    }
    // Folders, pipes and devices are no text files; opening a pipe would wait for a writer.
    if (!info.isFile())
        return RunError::PathFileAccess;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError || !info.isReadable())
            return RunError::PermissionDenied;
        return RunError::PathFileAccess;
    }
    return 0;
}

static int readAll(const QString &path, QByteArray &bytes, qint64 cap) {
    if (const int code = OpenFailureCode(path))
        return code;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return RunError::PathFileAccess;
    if (cap > 0 && file.size() > cap)
        return RunError::OutOfMemory;
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return RunError::DeviceIo;
    return 0;
}

QStringList TextLines(const QByteArray &bytes) {
    return SplitLines(DecodeText(bytes));
}

int ReadTextFile(const QString &path, QByteArray &bytes) {
    return readAll(path, bytes, kMaxTextFileSize);
}

int ReadBinaryFile(const QString &path, QByteArray &bytes) {
    return readAll(path, bytes, 0);
}

QString AppFilePath(const QString &name) {
    return QDir(gAppDir).filePath(name);
}

int LastSeparator(const QString &path) {
    return int(std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/')));
}

QString ResolvePathNoCase(const QString &path) {
    QString p = path;
#ifndef Q_OS_WIN
    p.replace(u'\\', u'/');
#endif
    if (p.isEmpty() || QFileInfo::exists(p))
        return p;
    const bool absolute = p.startsWith(u'/');
    const QStringList parts = p.split(u'/', Qt::SkipEmptyParts);
    QString current = absolute ? QStringLiteral("/") : QString();
    for (const QString &part : parts) {
        QString next = current.isEmpty()        ? part
                       : current.endsWith(u'/') ? current + part
                                                : current + u'/' + part;
        if (!QFileInfo::exists(next)) {
            // Of several names that differ only in letter case, the first in name order wins.
            QDirIterator it(current.isEmpty() ? QStringLiteral(".") : current,
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            QString found;
            while (it.hasNext()) {
                it.next();
                const QString entry = it.fileName();
                if (entry.compare(part, Qt::CaseInsensitive) == 0 &&
                    (found.isNull() || entry.compare(found) < 0))
                    found = entry;
            }
            if (!found.isNull())
                next = current.isEmpty()        ? found
                       : current.endsWith(u'/') ? current + found
                                                : current + u'/' + found;
        }
        current = next;
    }
    if (path.endsWith(u'\\') || path.endsWith(u'/'))
        current += u'/';
    return QDir::toNativeSeparators(current);
}
