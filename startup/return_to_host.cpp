#include "return_to_host.h"

#include "catalogue.h"
#include "error_messages.h"
#include "hand_off_file.h"
#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

int removeCode(const QString &path) {
    if (!existsOrDangles(path) || QFile::remove(path))
        return 0;
    return QFileInfo(path).isDir() ? RunError::PathFileAccess : RunError::PermissionDenied;
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
    TakeOverAccess(file, replaces);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return WriteFailure();
    if (const int code = SyncToDisk(file))
        return code;
    file.close();
    return file.error() == QFileDevice::NoError ? 0 : RunError::DeviceIo;
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
    } else if (const int copyCode = existsOrDangles(handOff) ? CopyToDisk(handOff, backup) : 0) {
        // The copy is on disk before anything replaces the original.
        failure = {copyCode, backup};
    } else if (const int moveCode = ReplaceInOneStep(newHandOff, handOff)) {
        failure = {moveCode, handOff};
    }
    if (failure.code)
        QFile::remove(newHandOff);
    SyncFolder(gAppDir);
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
