#include "hand_off_file.h"

#include "run_errors.h"
#include "win_files.h"

#include <QFile>
#include <QFileInfo>
#include <io.h>
#include <vector>
#include <windows.h>

namespace {
// A file that is held open without sharing, or protected, is permission denied; the rest is a
// path/file access error.
int accessFailure(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                   error == ERROR_LOCK_VIOLATION
               ? RunError::PermissionDenied
               : RunError::PathFileAccess;
}

int writeFailure(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? RunError::DiskFull
                                                                       : RunError::DeviceIo;
}

int syncHandle(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) ? 0 : RunError::DeviceIo;
}

// Copies the bytes of one open file into another.
int copyBytes(HANDLE from, HANDLE to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(from, buffer.data(), DWORD(buffer.size()), &got, nullptr))
            return RunError::DeviceIo;
        if (got == 0)
            return 0;
        DWORD put = 0;
        if (!::WriteFile(to, buffer.data(), got, &put, nullptr))
            return writeFailure(::GetLastError());
        if (put != got)
            return RunError::DiskFull;
    }
}
} // namespace

int SyncToDisk(QFile &file) {
    return syncHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle())));
}

// A folder cannot be forced to disk as a file can (only a whole volume, by an administrator).
// The file system keeps its renames in its journal: after a crash the folder holds the old file
// or the new one, and the new one was on disk before the rename.
void SyncFolder(const QString &) {}

// A new file in the folder takes the access the folder hands down, as the host's file did when
// the host made it. An access list of the old file's own is not copied: one that does not let
// this account delete the new file would stop the replace, which renames it.
void TakeOverAccess(QFile &, const QString &) {}

// Read while the system still holds the failure of the write that Qt made.
int WriteFailure() {
    return writeFailure(::GetLastError());
}

// Copied through handles of our own rather than by the system's copy, which would carry a
// read-only mark over to the copy: a file that cannot be opened for writing cannot be forced to
// disk.
int CopyToDisk(const QString &from, const QString &to) {
    if (QFileInfo(from).isDir())
        return RunError::PathFileAccess;
    const HANDLE source = ::CreateFileW(NativePath(from).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return accessFailure(::GetLastError());
    if (::GetFileType(source) != FILE_TYPE_DISK) { // never read from a device or a pipe
        ::CloseHandle(source);
        return RunError::PathFileAccess;
    }
    const std::wstring copyName = NativePath(to);
    const HANDLE copy = ::CreateFileW(copyName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(source);
        return accessFailure(error);
    }
    int code = copyBytes(source, copy);
    if (code == 0)
        code = syncHandle(copy);
    if (!::CloseHandle(copy) && code == 0)
        code = RunError::DeviceIo;
    ::CloseHandle(source);
    if (code != 0)
        ::DeleteFileW(copyName.c_str()); // no half a backup
    return code;
}

int ReplaceInOneStep(const QString &from, const QString &to) {
    if (::MoveFileExW(NativePath(from).c_str(), NativePath(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return accessFailure(::GetLastError());
}
