#include "hand_off_file.h"

#include "run_errors.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

int SyncToDisk(QFile &file) {
    return ::fsync(file.handle()) == 0 ? 0 : RunError::DeviceIo;
}

void SyncFolder(const QString &folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The new file takes the permission bits and the group of the file it replaces. Where the
// group cannot be taken over, the file keeps the group and the bits it was made with: the old
// bits on our own group could shut the host out (0660 of the host's group).
void TakeOverAccess(QFile &file, const QString &replaced) {
    struct stat old = {};
    if (::stat(QFile::encodeName(replaced).constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    if (::fchown(file.handle(), uid_t(-1), old.st_gid) != 0)
        return;
    ::fchmod(file.handle(), old.st_mode & 07777);
}

int WriteFailure() {
    return errno == ENOSPC ? RunError::DiskFull : RunError::DeviceIo;
}

// A descriptor opened for reading is enough to force the copy to disk.
int CopyToDisk(const QString &from, const QString &to) {
    if (!QFile::copy(from, to))
        return QFileInfo(from).isDir() ? RunError::PathFileAccess : RunError::PermissionDenied;
    QFile copy(to);
    if (!copy.open(QIODevice::ReadOnly))
        return RunError::PathFileAccess;
    return SyncToDisk(copy);
}

int ReplaceInOneStep(const QString &from, const QString &to) {
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(from).toStdString(),
                            QFile::encodeName(to).toStdString(), ec);
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return RunError::PermissionDenied;
    return ec ? RunError::PathFileAccess : 0;
}
