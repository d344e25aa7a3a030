#pragma once
// What the tests' file system offers where Linux and Windows differ: named pipes and symbolic
// links in the place of a file (Windows has no pipes there, and its links need rights a test
// does not have), names that match in any case (Windows), and the host file's marks a
// write-back keeps (on Linux its permission bits, 0604, and its group, one this account may
// not be in when it is root; Windows keeps the file's access lists by itself, which the tests
// leave alone).

#include <QFile>
#include <QString>

#ifdef _WIN32
constexpr bool kHasFifos = false, kHasSymlinks = false, kNamesMatchInAnyCase = true;
inline bool MakeFifo(const QString &) { return false; }
inline bool MarkAsTheHosts(const QString &) { return true; }
inline bool HasTheHostsMarks(const QString &) { return true; }
#else
#include <sys/stat.h>
#include <unistd.h>

constexpr bool kHasFifos = true, kHasSymlinks = true, kNamesMatchInAnyCase = false;
inline bool MakeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; }

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
