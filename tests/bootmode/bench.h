#pragma once
// The unit tier of the download: the shared state reset in a temporary application folder, the
// built-in protocol settings, port 1 in memory and a fake clock, so that every time-out passes
// without anyone sleeping. kernel() puts a write kernel on the port that answers each command.

#include "download.h"
#include "link_clock.h"
#include "memory_port.h"
#include "memory_target.h"
#include "settings.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(text);
}
inline uint16_t Sum16(const QByteArray &bytes) {
    return targetsim::TargetSim::sum16(bytes);
}

// The rows of a trace, each as "direction step bytes": the heading and the times left out.
inline QStringList Rows(const QByteArray &trace) {
    QStringList rows;
    for (const QString &line : QString::fromUtf8(trace).split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() >= 3 && fields[0].contains('.') && fields[0][0].isDigit())
            rows << fields.mid(1).join(' ');
    }
    return rows;
}

class LinkBench {
public:
    LinkBench() {
        SetDefaultSettings();
        gPort = QStringLiteral("1");
        gComm = &port;
    }
    ~LinkBench() { gComm = nullptr; }

    void openPort() { ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0); }
    QString file(const QString &name, const QByteArray &bytes) {
        return app.write(name, bytes), app.filePath(name);
    }

    // Answers every command with reply[command]; by default a data block (the write after 11)
    // with 11 and the block's sum, any other command with itself and 00 00.
    void kernel() {
        port.setWriteHook([this](const QByteArray &bytes) {
            const bool block = std::exchange(awaitingBlock, false);
            const uint8_t command = block ? 0x11 : static_cast<uint8_t>(bytes[0]);
            const uint16_t sum = Sum16(bytes);
            block ? void(blocks << bytes) : void(commands += bytes[0]);
            awaitingBlock = !block && command == 0x11;
            const auto given = reply.find(command);
            if (!awaitingBlock)
                port.deliver(given != reply.end() ? given->second
                             : block              ? Hex("11") + char(sum >> 8) + char(sum & 0xFF)
                                                  : QByteArray(1, bytes[0]) + Hex("0000"));
        });
    }

    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort port;
    std::map<uint8_t, QByteArray> reply; // by command byte; empty = silence
    QList<QByteArray> blocks;            // data blocks the kernel received
    QByteArray commands;                 // command bytes in order
    bool awaitingBlock = false;
};

class Bench : public LinkBench, public ::testing::Test {};

// A whole download against the simulated target in memory: a 5-byte kernel, an image of one data
// block, one blank block and a short last block, and a flash sum that reaches beyond the flash
// (the target reads that as FF).
class RunBench : public LinkBench {
public:
    static inline const QByteArray image =
        QByteArray(16, 0x5A) + QByteArray(16, char(0xFF)) + Hex("a0a1a2a3a4a5a6a7");
    static QByteArray flashAfter() { return image + QByteArray(0x200 - image.size(), char(0xFF)); }

    RunBench() {
        gIrdFile = file("k.bin", Hex("01223344f0"));
        gPrgFile = file("p.bin", image);
        gIrdCheckSum = "018A", gFlashStart = "00000000", gFlashEnd = "000001FF";
        gFlashCheckSum = QString::number(Sum16(flashAfter()), 16).toUpper();
        gPacketSize = 16, gWaitTime = "3", gBitRate2 = "38400";
        config.blockSize = 16, config.flashSize = 0x100, config.dataBitRate = 38400;
        config.flashFill = 0x00; // unerased: a missing erase shows in the flash
    }
    bool run(int variant, QString &checksum) {
        gSeqType = static_cast<int16_t>(variant);
        config.variant = variant;
        MemoryTarget target(port, config);
        const bool ok = RunDownload(checksum);
        flash = target.target().flash();
        return ok;
    }

    targetsim::SimConfig config;
    QByteArray flash;
};
