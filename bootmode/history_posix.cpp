#include "history_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The pause between two tries for the lock.
constexpr useconds_t kLockPauseUs = 10000;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the history for appending without following a link and without waiting on a pipe or
// a device; the opened file must be a regular file. The descriptor, or -1 with `why` set.
int openHistory(const QString &path, int flags, QString &why) {
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(),
               flags | O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ELOOP)
            why = QStringLiteral("%1 is a symbolic link, not written through").arg(path);
        else if (errno == EISDIR || errno == ENXIO) // a folder; a pipe nobody reads
            why = QStringLiteral("%1 is not a regular file, not written").arg(path);
        else
            why = QStringLiteral("%1: %2").arg(path, systemError(errno));
        return -1;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        why = QStringLiteral("%1 is not a regular file, not written").arg(path);
        return -1;
    }
    return fd;
}

// openHistory, then the file locked against other runs ending at the same moment in the same
// folder (only the holder of the lock writes a header or moves a full file aside), and still
// the file at `path` once the lock is held: another run may have moved it aside meanwhile.
// `locked` says whether the lock was taken before `deadline`; a file whose lock stayed taken is
// handed back all the same, to append the line alone.
int openLocked(const QString &path, const QDeadlineTimer &deadline, bool &locked,
               struct stat &status, QString &why) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = openHistory(path, O_CREAT, why);
        if (fd < 0)
            return -1;
        while (!(locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0) && !deadline.hasExpired())
            ::usleep(kLockPauseUs);
        struct stat named = {};
        ::fstat(fd, &status);
        if (!locked || (::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
                        named.st_ino == status.st_ino && named.st_dev == status.st_dev))
            return fd;
        ::close(fd);
    }
    why = QStringLiteral("%1 kept being replaced, not written").arg(path);
    return -1;
}

// Writes the bytes whole or not at all: a write cut short (a full disk) is taken back, so that
// the file ends as it did before and the next line does not run on from half of this one. `why`
// says why it failed.
bool writeWhole(int fd, const QByteArray &bytes, QString &why) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            done += n;
            continue;
        }
        why = systemError(n < 0 ? errno : ENOSPC);
        // Appending leaves the offset at the end of what went in: the line began `done` before.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        struct stat status = {};
        if (done > 0 && end >= done && ::fstat(fd, &status) == 0 && status.st_size == end &&
            ::ftruncate(fd, end - done) == 0)
            ::fsync(fd);
        return false;
    }
    if (::fsync(fd) != 0) {
        why = systemError(errno);
        return false;
    }
    return true;
}

} // namespace

bool HistoryFile::open(const QString &path, const QDeadlineTimer &deadline, QString &why) {
    close();
    struct stat status = {};
    const int fd = openLocked(path, deadline, m_locked, status, why);
    if (fd < 0)
        return false;
    m_handle = fd;
    m_size = status.st_size;
    return true;
}

void HistoryFile::close() {
    if (m_handle >= 0)
        ::close(int(m_handle)); // and the lock with it
    m_handle = -1;
    m_locked = false;
    m_size = 0;
}

bool HistoryFile::append(const QByteArray &bytes, QString &why) {
    return writeWhole(int(m_handle), bytes, why);
}

QString MoveHistoryAside(const QString &path, const QString &previous) {
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(previous).constData()) == 0)
        return QString();
    return systemError(errno);
}
