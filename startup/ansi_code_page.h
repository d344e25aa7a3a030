#pragma once
// The ANSI code page of the tool's text files: on Windows the system's (GetACP(): 932 on a
// Japanese system, 1252 on an English one), elsewhere the Japanese one (932, Shift-JIS), which
// the host's files were written in.

#include <QByteArray>
#include <QString>
#include <QStringView>

// Decodes bytes in the ANSI code page; a byte or sequence that has no character there reads
// as a replacement character.
QString DecodeAnsi(const QByteArray &bytes);

// The bytes of `text` in the ANSI code page; empty when a character has no code there.
QByteArray EncodeAnsi(QStringView text);
