#include "return_to_host.h"

#include "catalogue.h"
#include "error_messages.h"
#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <filesystem>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QString kHandOff = QStringLiteral("torvane.cha");
const QString kNewHandOff = QStringLiteral("torvane.cha.buk");
const QString kBackup = QStringLiteral("torvane.cha.bak");
const QString kHostExe = QStringLiteral("torvane.exe");

struct StepFailure {
    int code = 0; // run-time failure code, 0 = none
    QString path; // the file the step was working on
};

bool existsOrDangles(const QString &path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

int syncToDisk(QFile &file) {
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0 ? 0 : RunError::DeviceIo;
#else
    return ::fsync(file.handle()) == 0 ? 0 : RunError::DeviceIo;
#endif
}

// Makes the renames inside the folder durable too; file systems that cannot do it are left be.
void syncFolder(const QString &folder) {
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

int removeCode(const QString &path) {
    if (!existsOrDangles(path) || QFile::remove(path))
        return 0;
    return QFileInfo(path).isDir() ? RunError::PathFileAccess : RunError::PermissionDenied;
}

// Gives the new file the permission bits and the group of the file it replaces, so that the
// host can go on reading and writing it as before. Where the group cannot be taken over, the
// file keeps the group and the bits it was made with: the old bits on our own group could shut
// the host out (0660 of the host's group).
void takeOverAccess(QFile &file, const QString &replaced) {
#ifndef Q_OS_WIN
    struct stat old = {};
    if (::stat(QFile::encodeName(replaced).constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    if (::fchown(file.handle(), uid_t(-1), old.st_gid) != 0)
        return;
    ::fchmod(file.handle(), old.st_mode & 07777);
#else
    Q_UNUSED(file);
    Q_UNUSED(replaced);
#endif
}

// Creates the file anew (a file or link of that name goes first, so nothing is written through
// a link) with the access of the file it will replace, writes all bytes and forces them to
// disk.
int writeNewFile(const QString &path, const QByteArray &bytes, const QString &replaces) {
    if (const int code = removeCode(path))
        return code;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return file.error() == QFileDevice::PermissionsError ? RunError::PermissionDenied
                                                             : RunError::PathFileAccess;
    takeOverAccess(file, replaces);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return errno == ENOSPC ? RunError::DiskFull : RunError::DeviceIo;
    if (const int code = syncToDisk(file))
        return code;
    file.close();
    return file.error() == QFileDevice::NoError ? 0 : RunError::DeviceIo;
}

// Copies the host's file to the backup and forces the copy to disk before anything replaces the
// original.
int copyToBackup(const QString &from, const QString &to) {
    if (!QFile::copy(from, to))
        return QFileInfo(from).isDir() ? RunError::PathFileAccess : RunError::PermissionDenied;
#ifdef Q_OS_WIN
    return 0; // committing needs a handle open for writing; the copy may be read-only
#else
    QFile copy(to);
    if (!copy.open(QIODevice::ReadOnly))
        return RunError::PathFileAccess;
    return syncToDisk(copy);
#endif
}

QByteArray resultLine(const QString &result) {
    if (result == u"Normal")
        return QByteArrayLiteral("SUB END\r\n");
    if (result == u"NormalNG")
        return QByteArrayLiteral("SUB ERROR\r\n");
    return QByteArray();
}

// Puts the new hand-off file in place. At every moment torvane.cha is either the host's file
// or the complete new one: the new file is written and synced under its own name, the host's
// file is copied to the backup, and one rename replaces torvane.cha.
StepFailure replaceHandOffFile(const QString &result) {
    const QString handOff = AppFilePath(kHandOff);
    const QString newHandOff = AppFilePath(kNewHandOff);
    const QString backup = AppFilePath(kBackup);

    if (const int code = writeNewFile(newHandOff, resultLine(result), handOff)) {
        if (QFileInfo(newHandOff).isFile())
            QFile::remove(newHandOff);
        return {code, newHandOff};
    }
    StepFailure failure;
    if (const int code = removeCode(backup)) {
        failure = {code, backup};
    } else if (const int copyCode = existsOrDangles(handOff) ? copyToBackup(handOff, backup) : 0) {
        failure = {copyCode, backup};
    } else {
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(newHandOff).toStdString(),
                                QFile::encodeName(handOff).toStdString(), ec);
        if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
            failure = {RunError::PermissionDenied, handOff};
        else if (ec)
            failure = {RunError::PathFileAccess, handOff};
    }
    if (failure.code)
        QFile::remove(newHandOff);
    syncFolder(gAppDir);
    return failure;
}
} // namespace

bool HostReturnUi::startHost(const QString &program, const QStringList &arguments,
                             const QString &workingFolder) {
    return QProcess::startDetached(program, arguments, workingFolder);
}

QString HostProgram() {
    const QFileInfo beside(AppFilePath(kHostExe));
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(kHostExe);
}

void ReturnToHost(const QString &result, HostReturnUi &ui) {
    // A window left open from before the run must not end the tool in the middle of a
    // download, nor report a failure for a run that is still going or has succeeded.
    if (RunUnderWay())
        return;
    // A system without drive letters has no drive to change: only the folder.
    QDir::setCurrent(gAppDir);

    const StepFailure failure = replaceHandOffFile(result);
    if (failure.code) {
        // The host would find its own hand-off again and take it for a fresh start: tell the
        // user instead, and end without starting it.
        gErrNo = 118;
        gRunErrNo = int16_t(failure.code);
        gErrFileName = failure.path;
        ui.showMessage(GetErrorMessage(gErrNo));
        ui.closeAllWindows();
        ui.endProcess();
        return;
    }

    const QString program = HostProgram();
    if (program.isEmpty()) {
        ui.showMessage(Msg(190));
    } else if (!ui.startHost(program, {QStringLiteral("goToMain")}, gAppDir)) {
        if (QFileInfo::exists(program))
            return; // the windows stay open
        ui.showMessage(Msg(190));
    }
    ui.closeAllWindows();
    ui.endProcess();
}
