#include "adapter_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString readAttribute(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(256)).trimmed();
}

} // namespace

int ReadLatencyMs(const QString &path) {
    bool number = false;
    const int ms = readAttribute(path).toInt(&number);
    return number ? ms : -1;
}

AdapterInfo ReadAdapterInfo(const QString &sysfs, const QString &name) {
    AdapterInfo info;
    const QString device =
        QFileInfo(QDir(sysfs).filePath(QStringLiteral("class/tty/%1/device").arg(name)))
            .canonicalFilePath();
    if (device.isEmpty())
        return info;
    info.known = true;
    const QDir dir(device);
    info.driver =
        QFileInfo(QFileInfo(dir.filePath(QStringLiteral("driver"))).canonicalFilePath()).fileName();
    if (QFileInfo::exists(dir.filePath(QStringLiteral("latency_timer")))) {
        info.latencyFile = dir.filePath(QStringLiteral("latency_timer"));
        info.latencyMs = ReadLatencyMs(info.latencyFile);
    }
    // The USB device lies a few levels above the serial port (port, interface, device).
    QDir up = dir;
    for (int level = 0; level < 4; ++level) {
        if (QFileInfo::exists(up.filePath(QStringLiteral("idVendor")))) {
            info.usb = true;
            info.vendorId = readAttribute(up.filePath(QStringLiteral("idVendor")));
            info.productId = readAttribute(up.filePath(QStringLiteral("idProduct")));
            info.manufacturer = readAttribute(up.filePath(QStringLiteral("manufacturer")));
            info.product = readAttribute(up.filePath(QStringLiteral("product")));
            info.serial = readAttribute(up.filePath(QStringLiteral("serial")));
            break;
        }
        if (!up.cdUp())
            break;
    }
    return info;
}
