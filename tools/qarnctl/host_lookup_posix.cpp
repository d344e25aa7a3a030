#include "host_lookup.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray ReadSmallFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
}

QByteArray ReadLockFile(const QString &path) {
    // Anyone may put anything under a lock file's name: a FIFO must not wait for a writer, a
    // link is not followed, a device is not read, and a huge file is not read to its end.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray bytes;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bytes.resize(128); // a process id and a line end, with room to spare
        const ssize_t n = ::read(fd, bytes.data(), bytes.size());
        bytes.resize(n > 0 ? n : 0);
    }
    ::close(fd);
    return bytes;
}

QString CommandLineOf(const QString &proc, qint64 pid) {
    QByteArray bytes = ReadSmallFile(QStringLiteral("%1/%2/cmdline").arg(proc).arg(pid));
    bytes.replace('\0', ' ');
    const QString text = QString::fromLocal8Bit(bytes).trimmed();
    return text.isEmpty() ? QStringLiteral("?") : text;
}

Account ReadAccount(const QString &proc) {
    Account account;
    bool known = false;
    const QList<QByteArray> lines =
        ReadSmallFile(proc + QStringLiteral("/self/status")).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // Uid: and Gid: give real, effective, saved and file-system ids.
        if (fields.first() == "Uid:" && fields.size() > 2) {
            account.uid = fields[2].toUInt();
            known = true;
        } else if (fields.first() == "Gid:" && fields.size() > 2) {
            account.groups << fields[2].toUInt();
        } else if (fields.first() == "Groups:") {
            for (qsizetype i = 1; i < fields.size(); ++i)
                if (!fields[i].isEmpty())
                    account.groups << fields[i].toUInt();
        }
    }
    if (!known) {
        account.uid = ::geteuid();
        account.groups = {::getegid()};
    }
    const passwd *user = ::getpwuid(account.uid);
    account.name = user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER");
    return account;
}

QString GroupName(uint gid) {
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

bool GroupListsUser(uint gid, const QString &user) {
    const group *entry = ::getgrgid(gid);
    for (char **member = entry ? entry->gr_mem : nullptr; member && *member; ++member)
        if (QString::fromLocal8Bit(*member) == user)
            return true;
    return false;
}

QString ModeText(mode_t mode) {
    QString text = S_ISCHR(mode) ? QStringLiteral("c") : QStringLiteral("-");
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QChar(letters[bit]) : QChar('-');
    return text;
}

QString UserName(uint uid) {
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QList<Holder> HoldersOf(const QString &proc, const QString &device) {
    QList<Holder> holders;
    const QDir procDir(proc);
    for (const QString &entry : procDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == ::getpid())
            continue;
        // Processes of other accounts may not show their descriptors: they are not seen.
        const QDir fds(procDir.filePath(entry) + QStringLiteral("/fd"));
        bool holds = false;
        bool master = false;
        for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            holds = holds || target == device;
            master = master || target == u"/dev/ptmx" || target == u"/dev/pts/ptmx";
        }
        if (holds)
            holders.append(Holder{pid, CommandLineOf(proc, pid), master});
    }
    return holders;
}
