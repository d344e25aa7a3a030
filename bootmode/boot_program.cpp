// Exchanges with the target's on-chip boot program: bit-rate adjustment, its acknowledge, the
// kernel transfer (every byte echoed, lock-step or streamed) and the end of an erase the boot
// program runs itself.

#include "download_steps.h"

#include "kernel_stream.h"
#include "link.h"
#include "link_clock.h"
#include "run_errors.h"
#include "serial_port.h"
#include "shared_state.h"
#include "text_file.h"

#include <QCryptographicHash>

bool AdjBitRate() {
    gFuncName = QStringLiteral("AdjBitRate");
    gErrNo = 304;
    ArmDeadline(gAdjustTimeout);
    if (!gComm || !gComm->isOpen() || gComm->hasFailed()) {
        gRunErrNo = RunError::PortNotOpen;
        gTimeoutActive = false;
        return false;
    }
    gComm->discardInput();
    gComm->discardOutput();

    LinkClock &clock = CurrentLinkClock();
    int count = 0;
    while (count < 1) {
        // The boot program measures the bit rate from a stream of 00 bytes.
        if (SendByte(0x00) != LinkOk) {
            gTimeoutActive = false;
            return false;
        }
        clock.sleep(std::chrono::milliseconds(100));
        count = gComm->inBufferCount();
        if (gComm->hasFailed()) {
            gRunErrNo = RunError::PortNotOpen;
            gTimeoutActive = false;
            return false;
        }
        // Looked at after the count: a byte that arrives in the pass that passes the deadline
        // does not count.
        if ((gTimeoutActive && clock.now() > gDeadline) || gStopRequested) {
            gErrNo = 302;
            break;
        }
        clock.processEvents();
    }
    if (gErrNo == 302) {
        gTimeoutActive = false;
        return false;
    }

    QByteArray reply(1, '\0');
    const int16_t result = ReceiveBytes(reply);
    gTimeoutActive = false;
    if (result == LinkOk && static_cast<uint8_t>(reply[0]) == 0x00) {
        gErrNo = 0;
        gFuncName.clear();
        return true;
    }
    if (result == LinkOk)
        gErrNo = 303;
    return false;
}

void SendAdjustEnd() {
    SendByte(0x55);
}

bool WaitBootAck() {
    gErrNo = 313;
    ArmDeadline(gStatusTimeout);
    QByteArray reply(1, '\0');
    const ReplyEnd end = ReceiveReply(reply);
    gTimeoutActive = false;
    if (end == ReplyEnd::Timeout) {
        gErrNo = 310;
        return false;
    }
    if (end == ReplyEnd::Short)
        return false; // 313
    if (static_cast<uint8_t>(reply[0]) != 0xAA) {
        gErrNo = 312;
        return false;
    }
    if (end == ReplyEnd::Stray)
        return false; // an acknowledge with a stray byte behind it: 313
    gErrNo = 0;
    return true;
}

bool DownloadIrd(const QString &path) {
    gFuncName = QStringLiteral("DownloadIrd");
    gErrNo = 313;
    // The length goes out as two bytes and the counters are 16-bit: an empty kernel or one
    // beyond 32765 bytes cannot be sent.
    QByteArray kernel;
    gKernelSha256.clear();
    const int code = ReadFileBytes(path, kernel, kMaxIrdSize, RunError::Overflow);
    if (code != 0 || kernel.isEmpty()) {
        gErrNo = 170;
        gRunErrNo = static_cast<int16_t>(code);
        return false;
    }
    // The bytes that go out, as the record will name them.
    gKernelSha256 = QString::fromLatin1(
        QCryptographicHash::hash(kernel, QCryptographicHash::Sha256).toHex());
    const qint64 length = kernel.size();
    gIrdSize = static_cast<int32_t>(length);
    gByteTotal = gIrdSize;
    gByteCount = 0;

    QByteArray buffer;
    buffer.append(static_cast<char>((length >> 8) & 0xFF));
    buffer.append(static_cast<char>(length & 0xFF));
    buffer.append(kernel);

    ArmDeadline(gTransferTimeout);
    int16_t result = LinkOk;
    if (gStreamKernel) {
        result = StreamKernel(buffer);
    } else {
        for (qsizetype i = 0; i < buffer.size(); ++i) {
            result = SendByteEcho(static_cast<uint8_t>(buffer[i]));
            if (result != LinkOk)
                break;
            gByteCount = static_cast<int32_t>(i + 1);
        }
    }
    gTimeoutActive = false;

    switch (result) {
    case LinkOk:
        gByteTotal = 0;
        gErrNo = 0;
        gFuncName.clear();
        return true;
    case LinkTimeout:
        gErrNo = 310;
        break;
    case LinkMismatch:
        gErrNo = 314;
        break;
    default: // the port failed: keep 313
        break;
    }
    return false;
}

bool WaitErase() {
    gFuncName = QStringLiteral("WaitErase");
    gErrNo = 343;
    // A Stop the user asked for before this point is kept: the wait below gives up on it.
    ArmDeadline(gEraseTimeout);
    QByteArray reply(1, '\0');
    const ReplyEnd end = ReceiveReply(reply);
    gTimeoutActive = false;
    if (end == ReplyEnd::Timeout) {
        gErrNo = 340;
        return false;
    }
    if (end == ReplyEnd::Short)
        return false; // 343
    switch (static_cast<uint8_t>(reply[0])) {
    case 0xAA:
        if (end == ReplyEnd::Stray)
            return false; // the end of the erase with a stray byte behind it: 343
        gErrNo = 0;       // the step name stays
        return true;
    case 0xFF:
        gErrNo = 350; // the boot program reports the failed erase, stray byte or not
        break;
    default:
        break;
    }
    return false;
}
