#pragma once
// What a POSIX system tells about the account, the device's owner and group, and the processes
// that hold a device open, read under a proc root (normally "/proc") so that tests can stand in.
// Windows has none of it: a COM port is no file of an owner, and only one program opens it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <sys/types.h>

// The account as the kernel sees this process: effective user and every group it carries.
struct Account {
    uint uid = 0;
    QList<uint> groups;
    QString name; // "$USER" when the user database does not know the id
};

// From <proc>/self/status; the process's own ids when that cannot be read.
Account ReadAccount(const QString &proc);

QString UserName(uint uid);  // the name, or the number
QString GroupName(uint gid); // the name, or the number
// Whether the group database lists `user` in group `gid` (joined, perhaps after this login).
bool GroupListsUser(uint gid, const QString &user);
// "crw-rw----"
QString ModeText(mode_t mode);

// A process (other than this one) that holds `device` open.
struct Holder {
    qint64 pid = 0;
    QString commandLine;
    bool holdsMaster = false; // it also holds a pseudo-terminal master: the line's other end
};
QList<Holder> HoldersOf(const QString &proc, const QString &device);

QString CommandLineOf(const QString &proc, qint64 pid); // "?" when unknown
QByteArray ReadSmallFile(const QString &path);          // up to 64 KiB; empty when unreadable
// The first bytes of a serial lock file (its holder's process id); empty when it is not a
// regular file of its own (a link, a FIFO, a device) or cannot be read.
QByteArray ReadLockFile(const QString &path);
