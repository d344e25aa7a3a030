#pragma once
// Entry functions that feed outside bytes to the tool's readers and to the host side of the
// serial protocol. Each takes one input, runs the real code on it in a temporary application
// folder and checks what must hold whatever the bytes were. The same functions serve libFuzzer
// (one executable per target) and the fuzz smoke test of the ordinary suite.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Empty when every check held, otherwise what went wrong.
using FuzzEntry = std::string (*)(const uint8_t *data, size_t size);

struct FuzzTarget {
    const char *name; // also the folder of its seed corpus
    FuzzEntry run;
};

std::string FuzzSettingsFile(const uint8_t *data, size_t size);
std::string FuzzHostIni(const uint8_t *data, size_t size);
std::string FuzzHostCha(const uint8_t *data, size_t size);
std::string FuzzFirmDesc(const uint8_t *data, size_t size);
std::string FuzzHostConf(const uint8_t *data, size_t size);
std::string FuzzIftPlain(const uint8_t *data, size_t size);
std::string FuzzIftProtected(const uint8_t *data, size_t size);
std::string FuzzProtocol(const uint8_t *data, size_t size);

// Every target, in a fixed order.
const std::vector<FuzzTarget> &FuzzTargets();
// The target of that name, or nullptr.
const FuzzTarget *FindFuzzTarget(const std::string &name);
