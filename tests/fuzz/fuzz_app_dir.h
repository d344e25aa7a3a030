#pragma once
// The one temporary application folder of a fuzzing process, and small helpers for checks.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

// Created on first use and removed when the process ends. Each call resets the shared state and
// points gAppDir at the folder again.
QString FuzzAppDir();

// Writes bytes under the application folder (folders made on the way); returns the full path.
QString WriteAppFile(const QString &name, const QByteArray &bytes);
void RemoveAppFile(const QString &name);
bool AppFileExists(const QString &name);

inline QByteArray InputBytes(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

bool IsOneOf(int value, std::initializer_list<int> set);

// The checks every file reader shares: success leaves no error behind; failure leaves one of
// the reader's own numbers, names the file, carries a failure code with the x9 number, and has
// an error text.
std::string CheckReaderOutcome(const char *reader, bool ok, std::initializer_list<int> numbers,
                               const QString &path);
