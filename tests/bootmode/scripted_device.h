#pragma once
// Test bench of the boot-mode library: a port in memory, a fake clock, a temporary application
// folder, and a small scripted target that answers the boot program's and the kernel's
// exchanges with the bytes written out here, so that a test can change any one reply.

#include "link_clock.h"
#include "memory_port.h"
#include "settings.h"
#include "shared_state.h"
#include "temp_app_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <map>

inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(text);
}

inline QByteArray Repeat(char byte, int count) {
    return QByteArray(count, byte);
}

// Sum of bytes modulo 65536, as the kernel computes its checksums in this bench.
inline uint16_t Sum16(const QByteArray &bytes) {
    uint32_t sum = 0;
    for (const char c : bytes)
        sum += static_cast<uint8_t>(c);
    return static_cast<uint16_t>(sum & 0xFFFF);
}

inline QByteArray Be16(uint16_t value) {
    QByteArray bytes;
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));
    return bytes;
}

class ScriptedDevice {
public:
    explicit ScriptedDevice(MemoryPort &port) : m_port(port) {
        m_port.setWriteHook([this](const QByteArray &bytes) { onWrite(bytes); });
    }
    ~ScriptedDevice() { m_port.setWriteHook(nullptr); }

    // Boot program. An empty reply means silence.
    QByteArray adjustReply = Hex("00");      // to the 00 pattern, once
    QByteArray adjustEndReply = Hex("AA");   // to 55
    QByteArray afterKernelReply = Hex("AA"); // once the whole kernel is echoed
    int corruptEchoAt = -1;                  // index (length bytes count) echoed as its inverse
    int silentEchoFrom = -1;                 // from this index on nothing is echoed
    // Write kernel: replies by command byte replace the built-in ones; empty = silence.
    std::map<uint8_t, QByteArray> kernelReply;
    QByteArray flashSum = Hex("ABCD");
    int packetSize = 512;
    // The port fails once the kernel has received this command byte.
    int failOnCommand = -1;

    // What the target saw
    QByteArray kernel;          // kernel bytes received after the length
    int announcedLength = -1;   // from the two length bytes
    QList<QByteArray> blocks;   // blocks received with 11
    QByteArray commands;        // kernel command bytes in order
    QByteArray checksumCommand; // the nine bytes of command 13

private:
    enum class State { Pattern, LengthHigh, LengthLow, Kernel, BootDone, Kernel2 };

    void onWrite(const QByteArray &bytes) {
        const int openings = int(m_port.openings().size());
        if (openings != m_openingsSeen) {
            m_openingsSeen = openings;
            m_input.clear();
            if (openings >= 2)
                m_state = State::Kernel2;
        }
        for (const char c : bytes)
            onByte(static_cast<uint8_t>(c));
        if (m_state == State::Kernel2)
            runKernel();
    }

    void echo(uint8_t byte) {
        if (silentEchoFrom >= 0 && m_index >= silentEchoFrom)
            return;
        const uint8_t back = m_index == corruptEchoAt ? static_cast<uint8_t>(~byte) : byte;
        m_port.deliver(QByteArray(1, static_cast<char>(back)));
    }

    void onByte(uint8_t byte) {
        switch (m_state) {
        case State::Pattern:
            if (byte == 0x00 && !m_adjusted) {
                m_adjusted = true;
                m_port.deliver(adjustReply);
            } else if (byte == 0x55 && m_adjusted) {
                m_port.deliver(adjustEndReply);
                m_state = State::LengthHigh;
            }
            break;
        case State::LengthHigh:
            echo(byte);
            ++m_index;
            announcedLength = byte * 256;
            m_state = State::LengthLow;
            break;
        case State::LengthLow:
            echo(byte);
            ++m_index;
            announcedLength += byte;
            m_state = announcedLength > 0 ? State::Kernel : State::BootDone;
            break;
        case State::Kernel:
            echo(byte);
            ++m_index;
            kernel.append(static_cast<char>(byte));
            if (kernel.size() == announcedLength) {
                m_state = State::BootDone;
                m_port.deliver(afterKernelReply);
            }
            break;
        case State::BootDone:
            break;
        case State::Kernel2:
            m_input.append(static_cast<char>(byte));
            break;
        }
    }

    int commandLength(uint8_t command) const {
        switch (command) {
        case 0x10:
            return 3;
        case 0x11:
            return 1 + packetSize;
        case 0x13:
            return 9;
        default:
            return 1;
        }
    }

    void runKernel() {
        while (!m_input.isEmpty()) {
            const uint8_t command = static_cast<uint8_t>(m_input[0]);
            const int length = commandLength(command);
            if (m_input.size() < length)
                return;
            const QByteArray whole = m_input.left(length);
            m_input.remove(0, length);
            commands.append(static_cast<char>(command));
            if (failOnCommand == command) {
                m_port.fail();
                return;
            }
            QByteArray reply;
            switch (command) {
            case 0x10:
                reply = Hex("10") + Be16(Sum16(kernel));
                break;
            case 0x11:
                blocks.append(whole.mid(1));
                reply = Hex("11") + Be16(Sum16(whole.mid(1)));
                break;
            case 0x13:
                checksumCommand = whole;
                reply = Hex("13") + flashSum;
                break;
            case 0x12:
            case 0x14:
            case 0x15:
                reply = QByteArray(1, static_cast<char>(command)) + Hex("0000");
                break;
            default:
                continue;
            }
            if (const auto custom = kernelReply.find(command); custom != kernelReply.end())
                reply = custom->second;
            m_port.deliver(reply);
        }
    }

    MemoryPort &m_port;
    State m_state = State::Pattern;
    bool m_adjusted = false;
    int m_index = 0;
    int m_openingsSeen = 0;
    QByteArray m_input;
};

// A fresh application folder, the built-in protocol settings, port 1 in memory and a fake
// clock installed for the link.
class LinkBench : public ::testing::Test {
protected:
    LinkBench() {
        SetDefaultSettings();
        gPort = QStringLiteral("1");
        gComm = &port;
    }
    ~LinkBench() override { gComm = nullptr; }

    // Opens the memory port as the link would.
    void openPort() { ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0); }

    TempAppDir app;
    FakeLinkClock clock;
    ScopedLinkClock useClock{&clock};
    MemoryPort port;
};
