#pragma once
// The serial adapter's latency timer: what it costs the echoed kernel transfer, and what the
// low-latency flag does to it.

#include "adapter_info.h"

#include <QString>

class LowLatencyDriver;

// A latency timer above this many milliseconds slows the kernel transfer noticeably.
constexpr int kMaxGoodLatencyMs = 2;

// Seconds the echoed transfer of a kernel of `kernelBytes` takes at `bitRate` when the adapter
// holds each echo for `latencyMs`: its two length bytes and every kernel byte go out and come
// back (10 bits each way) before the next is sent.
double KernelTransferSeconds(qint64 kernelBytes, int bitRate, int latencyMs);

// What the low-latency flag does to an adapter's latency timer: port `port` opened as a download
// opens it, asking `driver` for the flag, the timer read again from `latencyFile` while it is
// open, and the port closed, which puts the flag back. Windows has no such flag: nothing is
// opened, and the note says so.
struct LowLatencyTrial {
    int openFailure = 0; // the run-time code when the port did not open
    QString note;        // what the open found and did, as the trace says it
    int latencyMs = -1;  // the timer while the port was open
};
LowLatencyTrial TryLowLatency(int port, const QString &latencyFile, LowLatencyDriver &driver);

// What to do about the latency timer of `latencyMs` of the FTDI adapter on `portName` ("COM3")
// on Windows, where its driver takes the timer from the device's settings (Device Manager).
QString WindowsLatencyAdvice(const QString &portName, int latencyMs);

// The udev rule that sets the latency timer of FTDI adapters to 1 ms when they are plugged in.
inline constexpr char kLatencyUdevRule[] =
    "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVERS==\"ftdi_sio\", "
    "ATTR{latency_timer}=\"1\"";
