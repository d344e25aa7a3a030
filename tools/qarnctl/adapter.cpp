#include "adapter.h"

#include "qt_serial_port.h"

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

// Milliseconds, or -1 when the file holds no number.
int readLatency(const QString &path) {
    bool number = false;
    const int ms = readAttribute(path).toInt(&number);
    return number ? ms : -1;
}

} // namespace

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
        info.latencyMs = readLatency(info.latencyFile);
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
            break;
        }
        if (!up.cdUp())
            break;
    }
    return info;
}

double KernelTransferSeconds(qint64 kernelBytes, int bitRate, int latencyMs) {
    const double lineSeconds = bitRate > 0 ? 2 * 10.0 / bitRate : 0.0;
    return double(kernelBytes + 2) * (lineSeconds + std::max(latencyMs, 0) / 1000.0);
}

LowLatencyTrial TryLowLatency(int port, const QString &latencyFile, LowLatencyDriver &driver) {
    LowLatencyTrial trial;
    QtSerialPort serial(driver);
    // Any line settings do: only the flag matters here.
    trial.openFailure = serial.open(port, QStringLiteral("9600,N,8,1"));
    if (trial.openFailure != 0)
        return trial;
    trial.note = serial.note();
    trial.latencyMs = readLatency(latencyFile);
    serial.close();
    return trial;
}
