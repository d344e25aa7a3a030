// The program image, block by block: each block as a data command (11, the block, its sum back)
// and a write command (12, the status back); a block of only FF is skipped with command 14.

#include "download_steps.h"

#include "link.h"
#include "link_clock.h"
#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

enum class BlockOutcome { Done, Failed };

uint8_t At(const QByteArray &bytes, int i) {
    return static_cast<uint8_t>(bytes[i]);
}

// Sends a command byte, then the block when there is one, and takes the three-byte reply. A
// command the port refused is a reply cut short; a block the line did not take in time is the
// reply's time-out.
ReplyEnd Exchange(uint8_t command, const QByteArray &block, QByteArray &reply) {
    reply = QByteArray(3, '\0');
    int16_t sent = SendByte(command);
    if (sent == LinkOk && !block.isEmpty())
        sent = SendBlock(block);
    const ReplyEnd end = sent == LinkOk        ? ReceiveReply(reply)
                         : sent == LinkTimeout ? ReplyEnd::Timeout
                                               : ReplyEnd::Short;
    gTimeoutActive = false;
    return end;
}

BlockOutcome SkipBlankBlock() {
    // A Stop the user asked for before this point is kept: the wait below gives up on it.
    ArmDeadline(gStatusTimeout);
    QByteArray reply;
    const ReplyEnd end = Exchange(0x14, QByteArray(), reply);
    if (end == ReplyEnd::Timeout) {
        gErrNo = 346;
        return BlockOutcome::Failed;
    }
    if (end != ReplyEnd::Whole || At(reply, 0) != 0x14 || At(reply, 1) != 0x00 ||
        At(reply, 2) != 0x00) {
        gErrNo = 347;
        return BlockOutcome::Failed;
    }
    return BlockOutcome::Done;
}

BlockOutcome WriteBlock(const QByteArray &block, uint16_t sum) {
    ArmDeadline(gDataTimeout);
    QByteArray reply;
    ReplyEnd end = Exchange(0x11, block, reply);
    if (end == ReplyEnd::Timeout) {
        gErrNo = 340;
        return BlockOutcome::Failed;
    }
    // A reply cut short by a failed port is not judged; a whole one is, stray byte or not.
    if (end == ReplyEnd::Short || At(reply, 0) != 0x11) {
        gErrNo = 342;
        return BlockOutcome::Failed;
    }
    if (At(reply, 1) * 256 + At(reply, 2) != sum) {
        gErrNo = 341;
        return BlockOutcome::Failed;
    }
    if (end == ReplyEnd::Stray) {
        gErrNo = 342;
        return BlockOutcome::Failed;
    }

    ArmDeadline(gWriteTimeout);
    end = Exchange(0x12, QByteArray(), reply);
    if (end == ReplyEnd::Timeout) {
        gErrNo = 344;
        return BlockOutcome::Failed;
    }
    if (end == ReplyEnd::Short || At(reply, 0) != 0x12) {
        gErrNo = 345;
        return BlockOutcome::Failed;
    }
    if (At(reply, 1) == 0xFF && At(reply, 2) == 0xFF) {
        gErrNo = 360;
        return BlockOutcome::Failed;
    }
    if (At(reply, 1) != 0x00 || At(reply, 2) != 0x00) {
        gErrNo = 361;
        return BlockOutcome::Failed;
    }
    if (end == ReplyEnd::Stray) {
        gErrNo = 345; // written, but a stray byte came with the status
        return BlockOutcome::Failed;
    }
    return BlockOutcome::Done;
}

} // namespace

bool DownloadPrg(const QString &path) {
    gFuncName = QStringLiteral("DownloadPrg");
    // The image is opened before it is looked at: its size is the opened file's, and a pipe or
    // a device in its place is refused without waiting on it.
    QFile file;
    gImageSha256.clear();
    if (const int code = OpenRegularFile(path, file)) {
        gErrNo = 171;
        gRunErrNo = static_cast<int16_t>(code);
        return false;
    }
    qint64 remaining = file.size();
    const int packetSize = gPacketSize;
    // No block can be formed from a block size outside 1..32767: the value is refused before
    // anything is sent, naming the key and the file (QARN.ini or the description) that gave it.
    if (remaining > 0 && (packetSize < 1 || packetSize > kMaxPacketSize)) {
        gErrNo = 123;
        gErrKey = gPacketSizeKey.isEmpty() ? QStringLiteral("PDSIZE") : gPacketSizeKey;
        if (!gPacketSizeFile.isEmpty())
            gErrFileName = gPacketSizeFile;
        return false;
    }
    // The progress counters are 32-bit: no flash holds an image anywhere near that size.
    if (remaining > INT32_MAX - kMaxPacketSize) {
        gErrNo = 171;
        gRunErrNo = RunError::Overflow;
        return false;
    }
    gByteTotal = static_cast<int32_t>(remaining);
    gByteCount = 0;
    gErrNo = 0;

    LinkClock &clock = CurrentLinkClock();
    // The image as it is read, block by block: its fingerprint is known once the last block has
    // been read.
    QCryptographicHash fingerprint(QCryptographicHash::Sha256);
    while (remaining > 0) {
        clock.processEvents();
        qint64 chunk = packetSize;
        if (remaining < packetSize) {
            chunk = remaining;
            remaining = 0;
        } else {
            remaining -= packetSize;
        }
        QByteArray block = file.read(chunk);
        if (block.size() != chunk) {
            // The file changed under the step or cannot be read on.
            gErrNo = 171;
            gRunErrNo = RunError::DeviceIo;
            break;
        }
        fingerprint.addData(block);
        if (remaining == 0)
            gImageSha256 = QString::fromLatin1(fingerprint.result().toHex());
        if (block.size() < packetSize)
            block.append(QByteArray(packetSize - block.size(), char(0xFF)));

        bool blank = true;
        uint32_t sum = 0;
        for (const char c : std::as_const(block)) {
            const uint8_t byte = static_cast<uint8_t>(c);
            if (byte != 0xFF)
                blank = false;
            sum = (sum + byte) & 0xFFFF;
        }

        const BlockOutcome outcome = blank && !gSendBlankBlocks
                                         ? SkipBlankBlock()
                                         : WriteBlock(block, static_cast<uint16_t>(sum));
        if (outcome == BlockOutcome::Failed)
            break;
        gErrNo = 0;
        gByteCount += packetSize;
    }
    file.close();

    if (gErrNo == 0) {
        gImageSha256 = QString::fromLatin1(fingerprint.result().toHex()); // an empty image too
        gByteTotal = 0;
        gFuncName.clear();
        return true;
    }
    return false;
}
