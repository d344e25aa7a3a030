// Port n on Linux: the link COMn in the application folder, else /dev/ttyS<n-1>.

#include "port_lookup.h"

#include "shared_state.h"

#include <QDir>
#include <QFileInfo>

PortLookup LookUpPort(int number) {
    PortLookup found;
    const QString linkName = QStringLiteral("COM%1").arg(number);
    const QFileInfo link(QDir(gAppDir).filePath(linkName));
    found.relink = QStringLiteral("ln -sfn /dev/serial/by-id/<adapter> %1").arg(link.filePath());
    const QString &relink = found.relink;
    if (link.isSymLink() || link.exists()) {
        const QString named = link.isSymLink() ? link.symLinkTarget() : link.filePath();
        found.where = link.isSymLink() ? linkName + QStringLiteral(" -> ") + named : named;
        found.device = link.canonicalFilePath();
        if (found.device.isEmpty()) {
            found.problem =
                QStringLiteral("port %1 is %2, which does not exist").arg(number).arg(found.where);
            found.remedy = QStringLiteral("plug the adapter in, or link the port to it: ") + relink;
        } else if (found.device != named) {
            found.where += QStringLiteral(" (%1)").arg(found.device);
        }
        return found;
    }
    const QString named = QStringLiteral("/dev/ttyS%1").arg(number - 1);
    found.where = named + QStringLiteral(" (no %1 in %2)").arg(linkName, gAppDir);
    found.device = QFileInfo(named).canonicalFilePath();
    if (found.device.isEmpty()) {
        found.problem = QStringLiteral("port %1: no %2 in %3, and %4 does not exist")
                            .arg(number)
                            .arg(linkName, gAppDir, named);
        found.remedy = QStringLiteral("link the adapter as port %1 (ls /dev/serial/by-id/ names "
                                      "the adapters): ")
                           .arg(number) +
                       relink;
    } else if (found.device != named) {
        found.where += QStringLiteral(" (%1)").arg(found.device);
    }
    return found;
}

QString PortNaming() {
    return QStringLiteral("port n is the link COMn in %1").arg(gAppDir);
}
