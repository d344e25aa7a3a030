#include "adapter.h"

#include <algorithm>

double KernelTransferSeconds(qint64 kernelBytes, int bitRate, int latencyMs) {
    const double lineSeconds = bitRate > 0 ? 2 * 10.0 / bitRate : 0.0;
    return double(kernelBytes + 2) * (lineSeconds + std::max(latencyMs, 0) / 1000.0);
}

QString WindowsLatencyAdvice(const QString &portName, int latencyMs) {
    return QStringLiteral("set the latency timer to 1 ms in Device Manager: Ports (COM & LPT) > "
                          "%1 > Properties > Port Settings > Advanced > Latency Timer (msec): 1, "
                          "then unplug the adapter and plug it in again (it takes an "
                          "administrator; where it stays at %2 ms, put STREAM 1 in QARN.ini: the "
                          "kernel then goes streamed, several bytes in flight)")
        .arg(portName)
        .arg(latencyMs);
}
