#pragma once
// The steps of the hand-back to the host that each system takes its own way: forcing a file and
// a folder to disk, the access of the file being replaced, the backup copy, and the replace in
// one step. Each returns 0 or a run-time failure code (run_errors.h).

class QFile;
class QString;

// Forces the bytes written to an open file to disk. 0, or 57 (device I/O error).
int SyncToDisk(QFile &file);

// Makes the renames inside the folder durable too; file systems that cannot do it are left be.
void SyncFolder(const QString &folder);

// Gives the new file, open as `file`, the access of the file it will replace, so that the host
// can go on reading and writing it as before.
void TakeOverAccess(QFile &file, const QString &replaced);

// The failure code of a write to a file that has just failed: 61 (disk full) or 57.
int WriteFailure();

// Copies the file `from` to `to`, which does not exist, and forces the copy to disk. 0, 70
// (permission denied), 75 (path/file access error: `from` is a folder, or the copy cannot be
// made), 57 or 61.
int CopyToDisk(const QString &from, const QString &to);

// Replaces the file `to` by the file `from` in one step: `to` is at every moment either the old
// file or the whole new one. 0, 70 (permission denied: the old file is protected or held open by
// a program that does not share it) or 75.
int ReplaceInOneStep(const QString &from, const QString &to);
