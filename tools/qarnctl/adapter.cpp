#include "adapter.h"

#include <algorithm>

double KernelTransferSeconds(qint64 kernelBytes, int bitRate, int latencyMs) {
    const double lineSeconds = bitRate > 0 ? 2 * 10.0 / bitRate : 0.0;
    return double(kernelBytes + 2) * (lineSeconds + std::max(latencyMs, 0) / 1000.0);
}
