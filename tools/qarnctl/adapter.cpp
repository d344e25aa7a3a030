#include "adapter.h"

#include "system_serial_port.h"

#include <algorithm>

double KernelTransferSeconds(qint64 kernelBytes, int bitRate, int latencyMs) {
    const double lineSeconds = bitRate > 0 ? 2 * 10.0 / bitRate : 0.0;
    return double(kernelBytes + 2) * (lineSeconds + std::max(latencyMs, 0) / 1000.0);
}

LowLatencyTrial TryLowLatency(int port, const QString &latencyFile, LowLatencyDriver &driver) {
    LowLatencyTrial trial;
    SystemSerialPort serial(driver);
    // Any line settings do: only the flag matters here.
    trial.openFailure = serial.open(port, QStringLiteral("9600,N,8,1"));
    if (trial.openFailure != 0)
        return trial;
    trial.note = serial.note();
    trial.latencyMs = ReadLatencyMs(latencyFile);
    serial.close();
    return trial;
}
