#pragma once
// Where port n is looked for: the link COMn in the application folder (gAppDir) when it is
// there, else /dev/ttyS<n-1> (on Windows the device COMn); what was found, or what was looked
// for and what to do.

#include <QString>

struct PortLookup {
    QString where;   // how the number led to the device: "COM1 -> /dev/ttyUSB0", "/dev/ttyS0 (...)"
    QString device;  // the device it leads to, "" when none
    QString problem; // "" when found; else which file or device was looked for
    QString remedy;  // what to do about the problem
    QString relink;  // the command that links the port to an adapter
};

PortLookup LookUpPort(int number);

// What a port number stands for, for advice: "port n is the link COMn in <gAppDir>".
QString PortNaming();
