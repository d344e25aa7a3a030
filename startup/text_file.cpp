#include "text_file.h"

#include "ansi_code_page.h"
#include "run_errors.h"
#include "shared_state.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString DecodeText(const QByteArray &bytes) {
    // Made once: every text file of the tool is decoded here, one after another on one thread.
    static QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    utf8.resetState();
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    return DecodeAnsi(bytes);
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

namespace {

// The run-time failure code of a file that cannot be opened by its path.
int openFailure(const QString &path, int error) {
    switch (error) {
    case ENOENT:
        return QFileInfo(path).absoluteDir().exists() ? RunError::FileNotFound
                                                      : RunError::PathNotFound;
    case ENOTDIR:
        return RunError::PathNotFound;
    case EACCES:
    case EPERM:
        return RunError::PermissionDenied;
    case ENAMETOOLONG:
        return RunError::BadFileName;
    default:
        return RunError::PathFileAccess;
    }
}

} // namespace

int OpenRegularFile(const QString &path, QFile &file) {
    if (path.isEmpty() || path.contains(QChar(0)))
        return RunError::BadFileName;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.exists())
        return info.absoluteDir().exists() ? RunError::FileNotFound : RunError::PathNotFound;
    if (!info.isFile())
        return RunError::PathFileAccess;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.error() == QFileDevice::PermissionsError ? RunError::PermissionDenied
                                                             : RunError::PathFileAccess;
    return 0;
#else
    // A device is refused by name before it is opened: opening a serial line raises DTR and
    // RTS, which can reset a board wired for boot mode.
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return RunError::PathFileAccess;
    // Opened without waiting for a writer of a pipe or the carrier of a device, never as the
    // controlling terminal, then judged by what was opened: a file swapped for something else
    // since the look by name cannot slip through.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return openFailure(path, errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return RunError::PathFileAccess;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return RunError::PathFileAccess;
    }
    return 0;
#endif
}

int ReadFileBytes(const QString &path, QByteArray &bytes, qint64 limit, int tooLong) {
    bytes.clear();
    QFile file;
    if (const int code = OpenRegularFile(path, file))
        return code;
    if (file.size() > limit)
        return tooLong;
    // Read to the end, which for a file that grows since its size was taken may lie beyond
    // that size, but never more than one byte beyond the limit.
    bytes.reserve(file.size() + 1);
    while (bytes.size() <= limit) {
        const QByteArray chunk = file.read(std::min<qint64>(limit + 1 - bytes.size(), 1 << 16));
        if (file.error() != QFileDevice::NoError) {
            bytes.clear();
            return RunError::DeviceIo;
        }
        if (chunk.isEmpty())
            return 0;
        bytes += chunk;
    }
    bytes.clear();
    return tooLong;
}

QStringList TextLines(const QByteArray &bytes) {
    return SplitLines(DecodeText(bytes));
}

int ReadTextFile(const QString &path, QByteArray &bytes) {
    return ReadFileBytes(path, bytes, kMaxTextFileSize, RunError::OutOfMemory);
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
