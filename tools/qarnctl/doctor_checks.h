#pragma once
// The checks of qarnctl doctor that look at the port as the system has it, before its line is
// opened: on Linux where the port number leads, whether this account may use the device, whether
// another process holds it, and the USB adapter behind it; on Windows whether COMn opens, and an
// FTDI adapter's latency timer in the device's settings.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

class LowLatencyDriver;

namespace doctor {

enum class Status { Ok, Warn, Fail };

// One line of the report.
struct Check {
    QString name;
    Status status;
    QString found;
    QString advice;
};

// What the checks of the port go by.
struct PortSetup {
    int number = 0; // the port number, 1 or more
    QString sysfs;  // Linux: the roots read instead of /sys and /proc
    QString proc;
    QStringList lockDirs; // Linux: folders of serial lock files
    LowLatencyDriver *lowLatency = nullptr;
    qint64 kernelBytes = 0; // the kernel whose echoed transfer the adapter's latency slows
    QString kernelName;
};

enum class PortState {
    Missing,  // the number leads to no port: nothing further is checked
    Unusable, // a port is there, but something stands in the way of opening its line
    Usable,
};

// Appends the checks of port `setup.number` to `checks`, in order; each runs even when the one
// before failed: together they say all that is wrong.
PortState CheckPort(const PortSetup &setup, QList<Check> &checks);

// What to do after the line did not open with the run-time failure code `failure`.
QString LineAdvice(int failure);

// The options that set the system's side of PortSetup (Linux: --sysfs, --proc, --lock-dir), and
// their values taken into `setup`.
QList<QCommandLineOption> PortOptions();
void TakePortOptions(const QCommandLineParser &parser, PortSetup &setup);

// What the doctor's help adds on this system: "" where its checks are the ones it names.
const char *HelpNote();

} // namespace doctor
