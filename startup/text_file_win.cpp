// Opening and finding the tool's files on Windows: devices and folders refused, Win32 failures
// told as the run-time codes, and names left to the file system, which ignores letter case.

#include "text_file.h"

#include "run_errors.h"
#include "win_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// The run-time failure code of a file that cannot be opened by its path.
int openFailure(const QString &path, DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return QFileInfo(path).absoluteDir().exists() ? RunError::FileNotFound
                                                      : RunError::PathNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY: // a part of the path is a file
        return RunError::PathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: // another program holds it open
    case ERROR_LOCK_VIOLATION:
        return RunError::PermissionDenied;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
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
    // RTS, which can reset a board wired for boot mode. A folder is refused by name too.
    if (IsDevicePath(path))
        return RunError::PathFileAccess;
    const std::wstring name = NativePath(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RunError::PathFileAccess;
    // Opened without keeping others from reading, writing or renaming it, then judged by what
    // was opened: a file swapped for something else since the look by name cannot slip through.
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return openFailure(path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info = {};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(handle);
        return RunError::PathFileAccess;
    }
    // Read as bytes: the descriptor does not translate line ends.
    const int fd = ::_open_osfhandle(intptr_t(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return RunError::PathFileAccess;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::_close(fd); // and the handle with it
        return RunError::PathFileAccess;
    }
    return 0;
}

// The file system ignores letter case already: a path only takes this system's separators.
QString ResolvePathNoCase(const QString &path) {
    return QDir::toNativeSeparators(path);
}
