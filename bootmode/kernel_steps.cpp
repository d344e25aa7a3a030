// Exchanges with the write kernel at the data-phase bit rate: kernel checksum, erase and flash
// checksum. Every reply is three bytes: the command again, then a 16-bit value, high byte first.

#include "download_steps.h"

#include "link.h"
#include "number_text.h"
#include "shared_state.h"

#include <optional>

namespace {

// The description's checksum texts are hexadecimal.
std::optional<uint32_t> HexValue(const QString &text) {
    return HexDigits(text, 8);
}

// Four address bytes from the eight hexadecimal digits of an address text, taken in pairs from
// the left ("00010000" -> 00 01 00 00). A seventh digit alone makes the last byte.
std::optional<QByteArray> AddressBytes(const QString &text) {
    if (text.size() < 7)
        return std::nullopt;
    QByteArray bytes;
    for (int i = 0; i < 4; ++i) {
        const std::optional<uint32_t> value = HexDigits(text.mid(i * 2, 2), 2);
        if (!value)
            return std::nullopt;
        bytes.append(static_cast<char>(*value));
    }
    return bytes;
}

// A description value that cannot be used: the error names its key.
bool RefuseValue(const char *key) {
    gErrNo = 123;
    gErrKey = QString::fromLatin1(key);
    return false;
}

uint16_t ReplyValue(const QByteArray &reply) {
    return static_cast<uint16_t>(static_cast<uint8_t>(reply[1]) * 256 +
                                 static_cast<uint8_t>(reply[2]));
}

// Sends a command and takes the three-byte reply, all under the deadline armed for `timeout`.
// A command the port refused is a reply cut short; one the line did not take in time is the
// reply's time-out.
ReplyEnd Exchange(const QByteArray &command, float timeout, QByteArray &reply) {
    reply = QByteArray(3, '\0');
    ArmDeadline(timeout);
    const int16_t sent =
        command.size() == 1 ? SendByte(static_cast<uint8_t>(command[0])) : SendBlock(command);
    const ReplyEnd end = sent == LinkOk        ? ReceiveReply(reply)
                         : sent == LinkTimeout ? ReplyEnd::Timeout
                                               : ReplyEnd::Short;
    gTimeoutActive = false;
    return end;
}

} // namespace

bool CheckIrd() {
    gFuncName = QStringLiteral("CheckIrd");
    const std::optional<uint32_t> expected = HexValue(gIrdCheckSum);
    if (!expected)
        return RefuseValue("UCS");

    QByteArray command;
    command.append(char(0x10));
    command.append(static_cast<char>((gIrdSize >> 8) & 0xFF));
    command.append(static_cast<char>(gIrdSize & 0xFF));
    QByteArray reply;
    const ReplyEnd end = Exchange(command, gStatusTimeout, reply);
    if (end == ReplyEnd::Timeout) {
        gErrNo = 340;
        return false;
    }
    // A reply cut short by a failed port is not judged; a whole one is, stray byte or not.
    if (end == ReplyEnd::Short || static_cast<uint8_t>(reply[0]) != 0x10) {
        gErrNo = 342;
        return false;
    }
    if (ReplyValue(reply) != *expected) {
        gErrNo = 371;
        return false;
    }
    if (end == ReplyEnd::Stray) {
        gErrNo = 342;
        return false;
    }
    gErrNo = 0;
    gFuncName.clear();
    return true;
}

bool EraseFROM() {
    gFuncName = QStringLiteral("EraseFROM");
    gErrNo = 343;
    QByteArray reply;
    const ReplyEnd end = Exchange(QByteArray(1, char(0x15)), gEraseTimeout, reply);
    if (end == ReplyEnd::Timeout) {
        gErrNo = 340;
        return false;
    }
    // A reply cut short by a failed port is not taken for a status.
    if (end == ReplyEnd::Short || static_cast<uint8_t>(reply[0]) != 0x15) {
        gErrNo = 342;
        return false;
    }
    const uint16_t status = ReplyValue(reply);
    if (status == 0xFFFF) {
        gErrNo = 350;
        return false;
    }
    if (status != 0x0000)
        return false; // 343
    if (end == ReplyEnd::Stray) {
        gErrNo = 342; // erased, but a stray byte came with the status
        return false;
    }
    gErrNo = 0;
    gFuncName.clear();
    return true;
}

bool CheckFROMCheckSum(bool wholeReplyFirst) {
    gFuncName = QStringLiteral("CheckFROMCheckSum");
    const std::optional<QByteArray> start = AddressBytes(gFlashStart);
    if (!start)
        return RefuseValue("FSA");
    const std::optional<QByteArray> end = AddressBytes(gFlashEnd);
    if (!end)
        return RefuseValue("FEA");
    const std::optional<uint32_t> expected = HexValue(gFlashCheckSum);
    if (!expected)
        return RefuseValue("FCS");

    const QByteArray command = QByteArray(1, char(0x13)) + *start + *end;
    QByteArray reply;
    const ReplyEnd ended = Exchange(command, gStatusTimeout, reply);
    if (ended == ReplyEnd::Timeout) {
        gErrNo = 340;
        return false;
    }
    if (ended == ReplyEnd::Short || static_cast<uint8_t>(reply[0]) != 0x13 ||
        (wholeReplyFirst && ended == ReplyEnd::Stray)) {
        gErrNo = 342;
        return false;
    }
    gObtainedCheckSum = ReplyValue(reply);
    if (static_cast<uint32_t>(gObtainedCheckSum) != *expected) {
        gErrNo = 370;
        return false;
    }
    if (ended == ReplyEnd::Stray) {
        gErrNo = 342;
        return false;
    }
    gErrNo = 0;
    gFuncName.clear();
    return true;
}
