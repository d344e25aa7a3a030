#pragma once
// What the Windows sides of the file code share: the path in the form the Win32 calls take,
// device names told from file names, and the system's text for a Win32 error.

#include <QString>
#include <string>

// The path with this system's separators, as the wide-character Win32 calls take it.
std::wstring NativePath(const QString &path);

// True when the path names a device rather than a file on a disk: a path in the device
// namespace (\\.\COM3, \\?\GLOBALROOT\...), or one whose last part is a reserved device name
// (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$), also with an extension or
// a colon after it (NUL.txt, COM1:), which Windows opens as the device all the same.
bool IsDevicePath(const QString &path);

// The system's text for a Win32 error code, in the user's language, without the line end and
// the full stop it ends with.
QString Win32ErrorText(unsigned long error);
