#pragma once
// What a test sets on the host's file before a write-back and finds on the new file after it:
// on Linux its permission bits (0604) and its group (one this account may not be in when it
// is root); Windows' files carry their access lists, which the replacement keeps by itself and
// the tests leave alone.

#include <QFile>
#include <QString>

#ifdef _WIN32
inline bool MarkAsTheHosts(const QString &) { return true; }
inline bool HasTheHostsMarks(const QString &) { return true; }
#else
#include <sys/stat.h>
#include <unistd.h>

inline gid_t HostsGroup() { return ::geteuid() == 0 ? 4242 : ::getegid(); }
inline bool MarkAsTheHosts(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    return ::chmod(name, 0604) == 0 && ::chown(name, uid_t(-1), HostsGroup()) == 0;
}
inline bool HasTheHostsMarks(const QString &path) {
    struct stat after = {};
    return ::stat(QFile::encodeName(path), &after) == 0 && (after.st_mode & 07777) == 0604 &&
           after.st_gid == HostsGroup();
}
#endif
