#include "run_errors.h"

QString RunErrorDescription(int code) {
    switch (code) {
    case RunError::InvalidArgument:
        return QStringLiteral("Invalid procedure call or argument");
    case RunError::Overflow:
        return QStringLiteral("Overflow");
    case RunError::OutOfMemory:
        return QStringLiteral("Out of memory");
    case RunError::SubscriptOutOfRange:
        return QStringLiteral("Subscript out of range");
    case RunError::TypeMismatch:
        return QStringLiteral("Type mismatch");
    case RunError::BadFileName:
        return QStringLiteral("Bad file name or number");
    case RunError::FileNotFound:
        return QStringLiteral("File not found");
    case RunError::FileAlreadyOpen:
        return QStringLiteral("File already open");
    case RunError::DeviceIo:
        return QStringLiteral("Device I/O error");
    case RunError::FileExists:
        return QStringLiteral("File already exists");
    case RunError::DiskFull:
        return QStringLiteral("Disk full");
    case RunError::PermissionDenied:
        return QStringLiteral("Permission denied");
    case RunError::PathFileAccess:
        return QStringLiteral("Path/File access error");
    case RunError::PathNotFound:
        return QStringLiteral("Path not found");
    case RunError::InvalidPortNumber:
        return QStringLiteral("Invalid port number");
    case RunError::PortAlreadyOpen:
        return QStringLiteral("Port already open");
    case RunError::PortNotOpen:
        return QStringLiteral("Port not open");
    default:
        return QStringLiteral("Application-defined or object-defined error");
    }
}
