#pragma once
// The run history's file as each system opens, locks, appends to and moves it: the rules of
// what is written when (history.h) are the same everywhere and live in history.cpp.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QtGlobal>

// The history file open for appending, and locked against other runs ending at the same moment
// in the same folder where the lock could be had.
class HistoryFile {
public:
    HistoryFile() = default;
    ~HistoryFile() { close(); }
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    // Opens the history at `path` for appending, making it when there is none, without following
    // a link and without waiting on a pipe or a device; the opened file must be a regular file
    // ("PATH is a symbolic link, not written through", "PATH is not a regular file, not
    // written"). Then takes the lock, trying until `deadline`, and makes sure the file is still
    // the one at `path` once the lock is held: another run may have moved it aside meanwhile.
    // A file whose lock stayed taken is open all the same, to append the line alone. false with
    // `why` when no file could be opened.
    bool open(const QString &path, const QDeadlineTimer &deadline, QString &why);
    // Closes the file, and gives the lock up with it.
    void close();

    bool locked() const { return m_locked; }
    // The size of the file once the lock was held, or given up on.
    qint64 size() const { return m_size; }

    // Appends the bytes whole or not at all: a write cut short (a full disk) is taken back, so
    // that the file ends as it did before and the next line does not run on from half of this
    // one. Then forces the file to disk. false with the system's reason in `why`.
    bool append(const QByteArray &bytes, QString &why);

private:
    qintptr m_handle = -1; // the descriptor, or the Windows handle (-1 is the invalid one of both)
    bool m_locked = false;
    qint64 m_size = 0;
};

// Moves the history at `path` to `previous`, replacing a file there, in one rename. "" when
// moved, else the system's reason.
QString MoveHistoryAside(const QString &path, const QString &previous);
