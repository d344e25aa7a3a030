#pragma once
// A named pipe in the place of a file, for the readers' and writers' refusals: Linux has them,
// Windows has none in its file system.

#include <QFile>
#include <QString>

#ifdef _WIN32
constexpr bool kHasFifos = false;
inline bool MakeFifo(const QString &) { return false; }
#else
#include <sys/stat.h>
constexpr bool kHasFifos = true;
inline bool MakeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; }
#endif
