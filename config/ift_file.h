#pragma once
// Firmware description files (*.ift): which kernel and program image a download writes, the
// checksums that prove it worked, the download sequence variant and the link parameters.

#include <QByteArray>
#include <QString>
#include <cstdint>

// Reads a description into the shared settings and description values, starting from the
// built-in defaults overlaid by QARN.ini. False on failure, with gErrNo set: 130/139 from
// QARN.ini, 120 when the description cannot be opened or unpacked, 129 (code in gRunErrNo) for
// a line too long to read, 123 (key in gErrKey) for a missing or unusable value, 121/122 when
// the kernel or program file does not exist (not checked with PROTOTYPE 9).
bool ReadIftFile(const QString &path);

// The core of ReadIftFile: everything after the description at `path` was read, from its bytes
// (plain or protected), on top of the settings that ReadIftFile has set from the defaults and
// QARN.ini. It still looks up the kernel and program files the description names.
bool IftFromBytes(const QString &path, const QByteArray &bytes);

// Opens a description, plain or protected, and keeps its plain text in memory for
// IftFilePlainText(). Returns 0, or 99 on any failure (the cause goes to gRunErrNo).
int16_t OpenIftFile(const QString &path);

// The plain text of the description opened by OpenIftFile (empty when none is open).
const QByteArray &IftFilePlainText();

// Whether the description opened last was in the protected form.
bool IftFileWasProtected();

// Lets go of the open description and removes a "TmpFile" plain copy that an older version
// of the tool may have left in the application folder.
void CloseIftFile();
