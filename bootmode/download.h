#pragma once
// A download run, as the Start button starts it: one of the three sequence variants chosen by
// gSeqType, or the timed imitation of a run without any port. Progress goes to gDownloadState
// (1 to 5), gByteCount and gByteTotal; a failure leaves its number in gErrNo; a Stop request is
// gStopRequested.

#include <QString>
#include <cstdint>

// Runs the variant of gSeqType on gComm and closes the port afterwards. `checksum` receives the
// last four upper-case hexadecimal digits of gObtainedCheckSum, whatever the outcome. True when
// every step succeeded.
bool RunDownload(QString &checksum);

// The simulated run (174 passes of 100 ms). True when it completed, with `checksum` :=
// gFlashCheckSum; false after a Stop, with `checksum` "0000".
bool SimulateDownload(QString &checksum);

// The variants (gSeqType 0, 1, and 2 or 3).
bool SeqEraseAfterKernel();
bool SeqEraseBeforeKernel();
bool SeqKernelErase();

// A check that writes nothing: the steps of SeqKernelErase up to the kernel checksum, which
// erase nothing, then the flash checksum over FSA..FEA. Phases 1 (boot program and kernel), 2
// (data port and kernel checksum) and 3 (flash checksum) in gDownloadState.
enum class VerifyResult { Matches, Differs, Failed };

// Whether variant `seqType` can be checked without erasing: only where the kernel erases on
// command (2 and 3). In the others the boot program erases when it takes the kernel or right
// after the bit-rate adjustment.
bool VerifyErasesNothing(int16_t seqType);

// Runs the check on gComm and closes the port afterwards. `checksum` receives the target's flash
// checksum as four upper-case hexadecimal digits when it gave one (Matches, Differs), else
// "0000". A variant that would erase runs nothing and fails.
VerifyResult RunVerify(QString &checksum);

// The check acted out without any port for the simulation mode: phases 1 to 3 on a fixed
// timetable of 100 ms passes (about 8 seconds). True when it completed, false after a Stop.
bool SimulateVerify();
