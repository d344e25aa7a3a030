#pragma once
// Reading the tool's text files and finding files the way the Windows tool did: text in UTF-8
// or the Japanese ANSI code page, any line end, and file names without regard to letter case.

#include <QByteArray>
#include <QString>
#include <QStringList>

// Longest line a reader accepts: positions inside a line are 16-bit.
constexpr int kMaxLineLength = 32767;
// Largest text file read; anything bigger is not one of the tool's small text files.
constexpr qint64 kMaxTextFileSize = 16 * 1024 * 1024;

// Decodes bytes as UTF-8 when they are valid UTF-8 (a leading byte-order mark is dropped),
// otherwise as Shift-JIS.
QString DecodeText(const QByteArray &bytes);

// Splits text into lines at CR LF, a lone CR or a lone LF. A last line without a line end is
// still a line; text that ends with a line end has no empty line after it.
QStringList SplitLines(const QString &text);

// The lines of a text file's bytes: decoded, then split at every line end.
QStringList TextLines(const QByteArray &bytes);

// Reads the bytes of a whole text file, at most kMaxTextFileSize of them. Returns 0, or the
// run-time failure code of the open or read (53 file not found, 52 bad file name, 76 path not
// found, 70 permission denied, 75 path/file access error or not a regular file, 57 device I/O
// error, 7 out of memory for an oversized file).
int ReadTextFile(const QString &path, QByteArray &bytes);

// Reads a whole binary file. Same failure codes as ReadTextFile, without the size cap.
int ReadBinaryFile(const QString &path, QByteArray &bytes);

// The run-time failure code for a file that cannot be opened for reading (0 when it can).
int OpenFailureCode(const QString &path);

// Application folder joined with a file name.
QString AppFilePath(const QString &name);

// Turns a path from a file (either separator) into this system's form, and finds each part
// that does not exist as written by a case-insensitive match inside its folder. Parts that
// cannot be found are kept as written.
QString ResolvePathNoCase(const QString &path);

// Index of the last path separator ('\\' or '/') in a path, or -1.
int LastSeparator(const QString &path);
