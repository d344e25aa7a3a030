#pragma once
// What sysfs tells about the serial adapter behind a tty device: its driver, the USB vendor,
// product and serial number, and an FTDI adapter's latency timer, which decides how long the
// echoed kernel transfer takes.

#include <QString>

struct AdapterInfo {
    bool known = false; // sysfs has a device for the tty
    bool usb = false;
    QString driver;
    QString vendorId;
    QString productId;
    QString manufacturer;
    QString product;
    QString serial;      // the USB serial number, "" when the adapter has none
    QString latencyFile; // "" when the driver has no latency timer
    int latencyMs = -1;
};

// The adapter of tty `name` (e.g. "ttyUSB0") under the sysfs root `sysfs` (normally "/sys").
AdapterInfo ReadAdapterInfo(const QString &sysfs, const QString &name);

// Milliseconds in a latency timer file, or -1 when it holds no number.
int ReadLatencyMs(const QString &path);
