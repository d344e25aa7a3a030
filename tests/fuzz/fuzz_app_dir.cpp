#include "fuzz_app_dir.h"

#include "error_messages.h"
#include "shared_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

QString FuzzAppDir() {
    static const std::unique_ptr<QTemporaryDir> dir = std::make_unique<QTemporaryDir>();
    ResetSharedState();
    gAppDir = dir->path();
    return gAppDir;
}

QString WriteAppFile(const QString &name, const QByteArray &bytes) {
    const QString full = QDir(gAppDir).filePath(name);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return full;
}

void RemoveAppFile(const QString &name) {
    QFile::remove(QDir(gAppDir).filePath(name));
}

bool AppFileExists(const QString &name) {
    return QFileInfo::exists(QDir(gAppDir).filePath(name));
}

bool IsOneOf(int value, std::initializer_list<int> set) {
    for (const int member : set) {
        if (value == member)
            return true;
    }
    return false;
}

std::string CheckReaderOutcome(const char *reader, bool ok, std::initializer_list<int> numbers,
                               const QString &path) {
    const std::string name(reader);
    if (ok) {
        if (gErrNo != 0 || gRunErrNo != 0 || !gErrFileName.isEmpty())
            return name + ": success left error " + std::to_string(gErrNo) + "/" +
                   std::to_string(gRunErrNo) + " on '" + gErrFileName.toStdString() + "'";
        return {};
    }
    if (!IsOneOf(gErrNo, numbers))
        return name + ": failure with foreign error number " + std::to_string(gErrNo);
    if (gErrFileName != path)
        return name + ": failure names '" + gErrFileName.toStdString() + "' instead of '" +
               path.toStdString() + "'";
    if (gErrNo % 10 == 9 && gRunErrNo == 0)
        return name + ": error " + std::to_string(gErrNo) + " without a failure code";
    if (GetErrorMessage(gErrNo).isEmpty())
        return name + ": no text for error " + std::to_string(gErrNo);
    return {};
}
