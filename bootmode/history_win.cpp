// The run history's file on Windows. Windows locks are mandatory: they keep every other handle
// from the bytes they cover. The lock is therefore one byte far beyond any data, so that a run
// that did not get it can still append its line.

#include "history_file.h"

#include "win_files.h"

#include <algorithm>
#include <windows.h>

namespace {

constexpr DWORD kLockPauseMs = 10;            // between two tries for the lock
constexpr DWORD kLockOffsetHigh = 0x40000000; // the locked byte: 2^62, never reached by data

HANDLE handleOf(qintptr handle) {
    return reinterpret_cast<HANDLE>(handle);
}

QString notRegular(const QString &path) {
    return QStringLiteral("%1 is not a regular file, not written").arg(path);
}

QString isLink(const QString &path) {
    return QStringLiteral("%1 is a symbolic link, not written through").arg(path);
}

QString systemFailure(const QString &path, DWORD error) {
    return QStringLiteral("%1: %2").arg(path, Win32ErrorText(error));
}

// Opens the history for appending, made when missing, without following a link (a link is
// opened as itself, and then refused) and never a device; the opened file must be a file on a
// disk. Others may go on reading, writing and renaming it. The handle, or INVALID_HANDLE_VALUE
// with `why` set.
HANDLE openHistory(const QString &path, QString &why) {
    if (IsDevicePath(path)) {
        why = notRegular(path);
        return INVALID_HANDLE_VALUE;
    }
    const std::wstring name = NativePath(path);
    // Backup semantics let a folder be opened too, to be told apart from a file.
    const HANDLE handle = ::CreateFileW(
        name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            why = isLink(path);
        else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            why = notRegular(path);
        else
            why = systemFailure(path, error);
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(handle, &info)) {
        why = systemFailure(path, ::GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = isLink(path);
    } else if (::GetFileType(handle) != FILE_TYPE_DISK ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = notRegular(path);
    } else {
        return handle;
    }
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

OVERLAPPED lockedByte() {
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    return at;
}

bool tryLock(HANDLE handle) {
    OVERLAPPED at = lockedByte();
    return ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

void unlock(HANDLE handle) {
    OVERLAPPED at = lockedByte();
    ::UnlockFileEx(handle, 0, 1, 0, &at);
}

// Whether the file open as `handle` is still the one at `path` (the same volume and file
// index), the link at `path` itself when it is one.
bool stillAt(HANDLE handle, const QString &path) {
    BY_HANDLE_FILE_INFORMATION ours = {}, named = {};
    if (!::GetFileInformationByHandle(handle, &ours))
        return false;
    const HANDLE other = ::CreateFileW(
        NativePath(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    const bool read = ::GetFileInformationByHandle(other, &named);
    ::CloseHandle(other);
    return read && named.dwVolumeSerialNumber == ours.dwVolumeSerialNumber &&
           named.nFileIndexHigh == ours.nFileIndexHigh && named.nFileIndexLow == ours.nFileIndexLow;
}

} // namespace

bool HistoryFile::open(const QString &path, const QDeadlineTimer &deadline, QString &why) {
    close();
    for (int attempt = 0; attempt < 3; ++attempt) {
        const HANDLE handle = openHistory(path, why);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        bool locked = false;
        while (!(locked = tryLock(handle)) && !deadline.hasExpired())
            ::Sleep(kLockPauseMs);
        LARGE_INTEGER size = {};
        const bool sized = ::GetFileSizeEx(handle, &size);
        const DWORD error = ::GetLastError();
        if (sized && (!locked || stillAt(handle, path))) {
            m_handle = reinterpret_cast<qintptr>(handle);
            m_locked = locked;
            m_size = size.QuadPart;
            return true;
        }
        if (locked)
            unlock(handle);
        ::CloseHandle(handle);
        if (!sized) {
            why = systemFailure(path, error);
            return false;
        }
    }
    why = QStringLiteral("%1 kept being replaced, not written").arg(path);
    return false;
}

void HistoryFile::close() {
    const HANDLE handle = handleOf(m_handle);
    if (handle != INVALID_HANDLE_VALUE) {
        // Given up at once: a lock left to the closing of the handle may linger a while.
        if (m_locked)
            unlock(handle);
        ::CloseHandle(handle);
    }
    m_handle = -1;
    m_locked = false;
    m_size = 0;
}

bool HistoryFile::append(const QByteArray &bytes, QString &why) {
    const HANDLE handle = handleOf(m_handle);
    qsizetype done = 0;
    while (done < bytes.size()) {
        // Written at the end of the file, wherever another run's line has put it by now.
        OVERLAPPED end = {};
        end.Offset = 0xFFFFFFFF;
        end.OffsetHigh = 0xFFFFFFFF;
        const DWORD size = DWORD(std::min<qsizetype>(bytes.size() - done, 1 << 20));
        DWORD n = 0;
        const bool wrote = ::WriteFile(handle, bytes.constData() + done, size, &n, &end);
        if (wrote && n > 0) {
            done += n;
            continue;
        }
        why = Win32ErrorText(wrote ? ERROR_DISK_FULL : ::GetLastError());
        // A write leaves the file pointer at the end of what went in: the line began `done`
        // before. It is taken back only while nothing has been appended behind it.
        LARGE_INTEGER at = {}, length = {};
        if (done > 0 && ::SetFilePointerEx(handle, LARGE_INTEGER{}, &at, FILE_CURRENT) &&
            at.QuadPart >= done && ::GetFileSizeEx(handle, &length) &&
            length.QuadPart == at.QuadPart) {
            FILE_END_OF_FILE_INFO before = {};
            before.EndOfFile.QuadPart = at.QuadPart - done;
            if (::SetFileInformationByHandle(handle, FileEndOfFileInfo, &before, sizeof before))
                ::FlushFileBuffers(handle);
        }
        return false;
    }
    if (!::FlushFileBuffers(handle)) {
        why = Win32ErrorText(::GetLastError());
        return false;
    }
    return true;
}

QString MoveHistoryAside(const QString &path, const QString &previous) {
    if (::MoveFileExW(NativePath(path).c_str(), NativePath(previous).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return QString();
    return Win32ErrorText(::GetLastError());
}
