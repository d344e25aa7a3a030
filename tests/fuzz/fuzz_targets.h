#pragma once
// Entry functions that feed outside bytes to the cores of the tool's readers and to the host side
// of the serial protocol, and check what must hold whatever the bytes were. The same functions
// serve libFuzzer (one executable per target) and the fuzz smoke test of the ordinary suite.

#include <QByteArray>
#include <QString>
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

// Every target, in a fixed order, and the one of that name (nullptr when none).
const std::vector<FuzzTarget> &FuzzTargets();
const FuzzTarget *FindFuzzTarget(const std::string &name);

// The one temporary application folder of the process; each call resets the shared state and
// points gAppDir at it. WriteAppFile writes a file there (folders made on the way).
QString FuzzAppDir();
QString WriteAppFile(const QString &name, const QByteArray &bytes);
