// The low-latency flag on Windows: there is none to try.

#include "adapter.h"

LowLatencyTrial TryLowLatency(int, const QString &, LowLatencyDriver &) {
    LowLatencyTrial trial;
    trial.note = QStringLiteral("Windows has no low-latency flag: the FTDI driver takes its "
                                "latency timer from the device's settings");
    return trial;
}
