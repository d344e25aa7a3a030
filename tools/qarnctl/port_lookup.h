#pragma once
// Where port n is looked for: the link COMn in the application folder (gAppDir) when it is
// there, else /dev/ttyS<n-1> (on Windows the device COMn); what was found, or what was looked
// for and what to do.

#include <QString>

struct PortLookup {
    QString where;   // how the number led to the device: "COM1 -> /dev/ttyUSB0", "/dev/ttyS0 (...)"
    QString device;  // the device it leads to, "" when none
    QString problem; // "" when found; else which file or device was looked for
    QString remedy;  // what to do about the problem (or about `held`)
    QString relink;  // the command that links the port to an adapter
    QString held;    // Windows: "" unless the port is there but another program holds it
};

PortLookup LookUpPort(int number);

// What a port number stands for, for advice: "port n is the link COMn in <gAppDir>".
QString PortNaming();

// Port `number` on Windows from the result of opening \\.\COMn: 0 (it opened) or the Win32
// error, and the system's text for that error.
PortLookup ComPortLookup(int number, unsigned long error, const QString &errorText);
