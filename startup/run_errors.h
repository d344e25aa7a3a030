#pragma once
// Run-time failure codes kept in gRunErrNo beside a program error number. The numbering is the
// classic one of the platform the tool grew up on, so that field engineers can look them up.

#include <QString>

namespace RunError {
constexpr int InvalidArgument = 5; // invalid procedure call or argument
constexpr int Overflow = 6;
constexpr int OutOfMemory = 7;
constexpr int SubscriptOutOfRange = 9;
constexpr int TypeMismatch = 13;
constexpr int BadFileName = 52;
constexpr int FileNotFound = 53;
constexpr int FileAlreadyOpen = 55;
constexpr int DeviceIo = 57;
constexpr int FileExists = 58;
constexpr int DiskFull = 61;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int InvalidPortNumber = 8002;
constexpr int PortAlreadyOpen = 8005;
constexpr int PortNotOpen = 8018; // the port went away under a running operation
} // namespace RunError

// The short standard description shown after "ErrNo <code>:" in an error text.
QString RunErrorDescription(int code);
