// Port n on Windows: the device COMn, looked for by opening it.

#include "port_lookup.h"
#include "win_files.h"

#include <string>
#include <windows.h>

PortLookup LookUpPort(int number) {
    const std::wstring device = L"\\\\.\\COM" + std::to_wstring(number);
    // Opened and closed at once, as the download opens it: exclusively, so that a port another
    // program holds says so.
    const HANDLE port = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    const DWORD error = port == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (port != INVALID_HANDLE_VALUE)
        ::CloseHandle(port);
    return ComPortLookup(number, error, error == 0 ? QString() : Win32ErrorText(error));
}

QString PortNaming() {
    return QStringLiteral("port n is COMn");
}
