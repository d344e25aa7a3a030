#pragma once
// Reading the tool's text files and finding files the way the Windows tool did: text in UTF-8
// or the ANSI code page, any line end, and file names without regard to letter case.

#include <QByteArray>
#include <QString>
#include <QStringList>

class QFile;

// Longest line a reader accepts: positions inside a line are 16-bit.
constexpr int kMaxLineLength = 32767;
// Largest text file read; anything bigger is not one of the tool's small text files.
constexpr qint64 kMaxTextFileSize = 16 * 1024 * 1024;

// Decodes bytes as UTF-8 when they are valid UTF-8 (a leading byte-order mark is dropped),
// otherwise in the ANSI code page (ansi_code_page.h).
QString DecodeText(const QByteArray &bytes);

// Splits text into lines at CR LF, a lone CR or a lone LF. A last line without a line end is
// still a line; text that ends with a line end has no empty line after it.
QStringList SplitLines(const QString &text);

// The lines of a text file's bytes: decoded, then split at every line end.
QStringList TextLines(const QByteArray &bytes);

// Opens a regular file for reading. It is opened first, without waiting on a pipe or a device,
// and judged by what was opened, so that a file swapped after a look by name cannot block the
// reader. Returns 0 with `file` open, or the run-time failure code (53 file not found, 52 bad
// file name, 76 path not found, 70 permission denied, 75 path/file access error or not a
// regular file).
int OpenRegularFile(const QString &path, QFile &file);

// Reads a whole regular file, opened as OpenRegularFile opens it, reading no more than one
// byte beyond `limit` even when the file grows meanwhile. Returns 0, a code of OpenRegularFile,
// 57 device I/O error, or `tooLong` for a file of more than `limit` bytes (`bytes` then empty).
int ReadFileBytes(const QString &path, QByteArray &bytes, qint64 limit, int tooLong);

// ReadFileBytes of a text file: at most kMaxTextFileSize bytes, 7 (out of memory) beyond.
int ReadTextFile(const QString &path, QByteArray &bytes);

// Application folder joined with a file name.
QString AppFilePath(const QString &name);

// Turns a path from a file (either separator) into this system's form, and finds each part
// that does not exist as written by a case-insensitive match inside its folder. Parts that
// cannot be found are kept as written.
QString ResolvePathNoCase(const QString &path);

// Index of the last path separator ('\\' or '/') in a path, or -1.
int LastSeparator(const QString &path);
