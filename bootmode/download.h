#pragma once
// A download run, as the Start button starts it: one of the three sequence variants chosen by
// gSeqType, or the timed imitation of a run without any port. Progress goes to gDownloadState
// (1 to 5), gByteCount and gByteTotal; a failure leaves its number in gErrNo; a Stop request is
// gStopRequested.

#include <QString>

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
