// The three download sequences. Targets differ in when their flash is erased: by the boot
// program after the kernel (0), by the boot program right after the bit-rate adjustment (1), or
// by the kernel on command (2 and 3). Each stops at the first step that fails, leaving the
// phase in gDownloadState and the step's number in gErrNo.

#include "download.h"

#include "download_steps.h"
#include "error_notes.h"
#include "link.h"
#include "link_observer.h"
#include "number_text.h"
#include "shared_state.h"

bool SeqEraseAfterKernel() {
    gDownloadState = 1;
    if (!OpenBootPort() || !AdjBitRate())
        return false;
    SendAdjustEnd();
    if (!WaitBootAck() || !DownloadIrd(gIrdFile))
        return false;
    gDownloadState = 2;
    if (!WaitErase())
        return false;
    ClosePort();
    gDownloadState = 3;
    SettlePause();
    if (!OpenDataPort() || !CheckIrd())
        return false;
    gDownloadState = 4;
    if (!DownloadPrg(gPrgFile) || !CheckFROMCheckSum())
        return false;
    gDownloadState = 5;
    return true;
}

bool SeqEraseBeforeKernel() {
    gDownloadState = 1;
    if (!OpenBootPort() || !AdjBitRate())
        return false;
    gDownloadState = 2;
    SendAdjustEnd();
    // The erase-complete AA is the only answer to the 55.
    if (!WaitErase())
        return false;
    gDownloadState = 3;
    // The boot program acknowledges the kernel once it has it.
    if (!DownloadIrd(gIrdFile) || !WaitBootAck())
        return false;
    ClosePort();
    SettlePause();
    if (!OpenDataPort() || !CheckIrd())
        return false;
    gDownloadState = 4;
    if (!DownloadPrg(gPrgFile) || !CheckFROMCheckSum())
        return false;
    gDownloadState = 5;
    return true;
}

namespace {
// The start of the variants whose kernel erases on command: everything up to the kernel's
// checksum, which erases nothing.
bool KernelSetup() {
    gDownloadState = 1;
    if (!OpenBootPort() || !AdjBitRate())
        return false;
    SendAdjustEnd();
    if (!WaitBootAck() || !DownloadIrd(gIrdFile))
        return false;
    ClosePort();
    gDownloadState = 2;
    SettlePause();
    return OpenDataPort() && CheckIrd();
}
} // namespace

bool SeqKernelErase() {
    if (!KernelSetup())
        return false;
    gDownloadState = 3;
    if (!EraseFROM())
        return false;
    gDownloadState = 4;
    if (!DownloadPrg(gPrgFile) || !CheckFROMCheckSum())
        return false;
    gDownloadState = 5;
    return true;
}

bool RunDownload(QString &checksum) {
    checksum = QStringLiteral("0000");
    ClearFailureCauses();
    bool ok = false;
    switch (gSeqType) {
    case 0:
        ok = SeqEraseAfterKernel();
        break;
    case 1:
        ok = SeqEraseBeforeKernel();
        break;
    case 2:
    case 3:
        ok = SeqKernelErase();
        break;
    default:
        break;
    }
    // The port is closed after every run, whatever its outcome.
    ClosePort();
    gTimeoutActive = false;
    checksum = Hex4(static_cast<uint32_t>(gObtainedCheckSum));
    if (gLinkObserver)
        gLinkObserver->onRunEnd(ok);
    return ok;
}

bool VerifyErasesNothing(int16_t seqType) {
    return seqType == 2 || seqType == 3;
}

namespace {
bool SeqVerify() {
    if (!KernelSetup())
        return false;
    gDownloadState = 3;
    return CheckFROMCheckSum(true);
}
} // namespace

VerifyResult RunVerify(QString &checksum) {
    checksum = QStringLiteral("0000");
    ClearFailureCauses();
    bool ok = false;
    bool answered = false;
    if (VerifyErasesNothing(gSeqType)) {
        ok = SeqVerify();
        // The flash checksum step reports a sum other than FCS as its error 370: here that is
        // the answer to the question, not a failure.
        answered = ok || (gDownloadState == 3 && gErrNo == 370);
    }
    ClosePort();
    gTimeoutActive = false;
    if (answered)
        checksum = Hex4(static_cast<uint32_t>(gObtainedCheckSum));
    if (gLinkObserver)
        gLinkObserver->onRunEnd(ok);
    return ok ? VerifyResult::Matches : answered ? VerifyResult::Differs : VerifyResult::Failed;
}
