#pragma once
// Entry functions feeding outside bytes to the readers' cores and the host side of the protocol,
// checking what must hold whatever the bytes were: for libFuzzer and the fuzz smoke test.
#include <QByteArray>
#include <string>
#include <vector>

struct FuzzTarget {
    const char *name;                            // also the folder of its seed corpus
    std::string (*run)(const QByteArray &input); // empty when every check held
};

const std::vector<FuzzTarget> &FuzzTargets(); // every target, in a fixed order
