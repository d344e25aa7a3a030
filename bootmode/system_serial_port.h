#pragma once
// The serial port of the system the tool runs on: the Win32 communications calls on Windows,
// QSerialPort elsewhere.

#ifdef _WIN32
#include "win_serial_port.h"
using SystemSerialPort = WinSerialPort;
#else
#include "qt_serial_port.h"
using SystemSerialPort = QtSerialPort;
#endif
