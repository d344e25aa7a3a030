// A timed imitation of a download for the simulation mode: the phases and progress of a real
// run, on a fixed timetable of 100 ms passes, with no port at all.

#include "download.h"

#include "link_clock.h"
#include "shared_state.h"

namespace {

// One pass: sleep 100 ms, give up on Stop, serve window events.
bool Pass() {
    LinkClock &clock = CurrentLinkClock();
    clock.sleep(std::chrono::milliseconds(100));
    if (gStopRequested)
        return false;
    clock.processEvents();
    return true;
}

bool Passes(int count, bool countBytes) {
    for (int i = 0; i < count; ++i) {
        if (countBytes)
            gByteCount = i * 100;
        if (!Pass())
            return false;
    }
    return true;
}

} // namespace

bool SimulateDownload(QString &checksum) {
    checksum = QStringLiteral("0000");
    int16_t phase = 1;
    gDownloadState = 1;
    gByteTotal = 0;
    gByteCount = 0;
    if (!Passes(10, false))
        return false;

    if (gSeqType == 1) {
        phase = 2;
        gDownloadState = 2;
    } else {
        gByteTotal = 3000;
    }
    if (!Passes(31, true))
        return false;

    ++phase;
    gDownloadState = phase;
    gByteTotal = gSeqType == 1 ? 3000 : 0;
    if (!Passes(31, true))
        return false;

    gByteTotal = 0;
    if (gSeqType != 1) {
        ++phase;
        gDownloadState = phase;
    }
    if (!Passes(31, false))
        return false;

    gDownloadState = 4;
    gByteTotal = 7000;
    if (!Passes(71, true))
        return false;

    gDownloadState = 5;
    checksum = gFlashCheckSum;
    return true;
}

bool SimulateVerify() {
    gDownloadState = 1;
    gByteTotal = 0;
    gByteCount = 0;
    if (!Passes(10, false))
        return false;
    gByteTotal = 3000;
    if (!Passes(31, true))
        return false;
    gByteTotal = 0;
    gDownloadState = 2;
    if (!Passes(31, false))
        return false;
    gDownloadState = 3;
    return Passes(10, false);
}
