// The low-latency flag tried on a Linux serial port.

#include "adapter.h"

#include "system_serial_port.h"

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
