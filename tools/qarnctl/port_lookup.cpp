#include "port_lookup.h"

namespace {

// Win32 errors of opening a COM port.
constexpr unsigned long kFileNotFound = 2;
constexpr unsigned long kPathNotFound = 3;
constexpr unsigned long kAccessDenied = 5;
constexpr unsigned long kSharingViolation = 32;

} // namespace

PortLookup ComPortLookup(int number, unsigned long error, const QString &errorText) {
    PortLookup found;
    const QString name = QStringLiteral("COM%1").arg(number);
    const QString device = QStringLiteral("\\\\.\\") + name;
    const QString why =
        QStringLiteral("%1: Win32 error %2, %3").arg(device).arg(error).arg(errorText);
    if (error == 0) {
        found.where = QStringLiteral("%1 (%2 opened)").arg(name, device);
        found.device = device;
    } else if (error == kAccessDenied || error == kSharingViolation) {
        // Only one program at a time opens a COM port.
        found.where = QStringLiteral("%1 (%2 is there, held open)").arg(name, device);
        found.device = device;
        found.held = QStringLiteral("%1 is held by another program (%2)").arg(name, why);
        found.remedy = QStringLiteral("close the port in that program (a terminal, another "
                                      "download tool), then try again");
    } else if (error == kFileNotFound || error == kPathNotFound) {
        found.where = name;
        found.problem = QStringLiteral("port %1: no %2 (%3)").arg(number).arg(name, why);
        found.remedy = QStringLiteral("plug the adapter in; Device Manager (Ports (COM & LPT)) "
                                      "names the COM port of each adapter: put its number in "
                                      "PORT in QARN.ini, or give --port N");
    } else {
        found.where = name;
        found.problem = QStringLiteral("port %1: %2 did not open (%3)").arg(number).arg(name, why);
        found.remedy = QStringLiteral("plug the adapter in again; Device Manager (Ports (COM & "
                                      "LPT)) shows whether Windows sees it");
    }
    return found;
}
