#include "error_notes.h"

#include "run_errors.h"
#include "shared_state.h"

#include <QDir>
#include <QFileInfo>

namespace {
QStringList &causes() {
    static QStringList noted;
    return noted;
}

QString fullPath(const QString &file) {
    return QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
}
} // namespace

QStringList ErrorNotes() {
    if (gErrNo == 0)
        return {};
    QStringList notes = causes();
    if (gErrNo == 121 && !gIrdFile.isEmpty())
        notes << QStringLiteral("missing kernel file (DF): %1").arg(fullPath(gIrdFile));
    else if (gErrNo == 122 && !gPrgFile.isEmpty())
        notes << QStringLiteral("missing program file (PFN): %1").arg(fullPath(gPrgFile));
    if (gRunErrNo == RunError::PortNotOpen)
        notes << QStringLiteral("the port went away during the step (run-time code %1): the "
                                "adapter was pulled out or reset; connect it again, put the "
                                "device back into boot mode and start again")
                     .arg(RunError::PortNotOpen);
    return notes;
}

void NoteFailureCause(const QString &line) {
    causes() << line;
}

void ClearFailureCauses() {
    causes().clear();
}
