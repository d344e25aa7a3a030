// Opening and finding the tool's files on a POSIX system: devices and pipes refused, and names
// matched without regard to letter case on a file system that does not ignore it.

#include "text_file.h"

#include "run_errors.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
}

QString ResolvePathNoCase(const QString &path) {
    QString p = path;
    p.replace(u'\\', u'/');
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
