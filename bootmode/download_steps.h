#pragma once
// The exchanges with the target's boot program and with the write kernel it loads. Each step
// returns true on success and leaves its outcome in gErrNo (0 on success), the step's name in
// gFuncName while it runs.

#include <QString>

// Boot program
bool AdjBitRate();
void SendAdjustEnd();
bool WaitBootAck();
bool DownloadIrd(const QString &path);
bool WaitErase();

// Write kernel, at the data-phase bit rate
bool CheckIrd();
bool EraseFROM();
bool DownloadPrg(const QString &path);
// `wholeReplyFirst`: a reply with a stray byte behind it is 342 before its sum is judged (a
// check gives a verdict only on a well-formed reply); a download judges the sum first.
bool CheckFROMCheckSum(bool wholeReplyFirst = false);

// Longest kernel file: its length and counters are 16-bit, with two length bytes in front.
constexpr int kMaxIrdSize = 32765;
// Largest block of the program image.
constexpr int kMaxPacketSize = 32767;
