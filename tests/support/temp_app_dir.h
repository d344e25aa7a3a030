#pragma once
// A temporary application folder for tests: the shared state is reset and gAppDir points at a
// fresh folder that is removed afterwards.

#include "shared_state.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

class TempAppDir {
public:
    TempAppDir() {
        ResetSharedState();
        gAppDir = m_dir.path();
    }
    ~TempAppDir() { ResetSharedState(); }

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

    // Writes bytes as they stand (no line-end translation); creates folders on the way.
    void write(const QString &name, const QByteArray &bytes) const {
        const QString full = filePath(name);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    QByteArray read(const QString &name) const {
        QFile file(filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool exists(const QString &name) const { return QFile::exists(filePath(name)); }

private:
    QTemporaryDir m_dir;
};
