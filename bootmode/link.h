#pragma once
// The link layer of the download: opening the port with the line settings of the description,
// and the byte operations through which the boot-program and kernel exchanges speak. Every wait
// gives up at gDeadline (when gTimeoutActive) or on gStopRequested, and serves window events
// meanwhile. The port is gComm.

#include <QByteArray>
#include <chrono>
#include <cstdint>

// Results of the byte operations.
constexpr int16_t LinkOk = 0;
constexpr int16_t LinkFault = 99;     // the port failed, or more bytes waiting than room
constexpr int16_t LinkMismatch = 254; // the echo differs from the byte sent
constexpr int16_t LinkTimeout = 255;  // deadline passed with no byte waiting, or Stop

// Where a port does not wake the event loop: how long one wait blocks on the port before the
// deadline and Stop are looked at again, and how often window events are served meanwhile (not
// at every byte: an echoed kernel transfer waits thousands of times, each for a few
// microseconds).
constexpr std::chrono::milliseconds kLinkWaitSlice{15};
constexpr std::chrono::milliseconds kLinkServeEvery{10};
// The longest a wait blocks in the event loop before it looks at the port, the deadline and
// Stop again, should nothing have woken it.
constexpr std::chrono::milliseconds kLinkLongestWait{100};

// Opens gComm at gBitRate/gParity/gDataBits/gStopBits on port gPort. 0 when open, 255 when
// the port number is not valid (8002), 99 for any other failure (code in gRunErrNo).
int16_t OpenPort();
// Boot phase: true when open; else gErrNo 301 (no such port) or 300.
bool OpenBootPort();
// Data phase: gBitRate := gBitRate2, then opens; else gErrNo 331 (no such port) or 330.
bool OpenDataPort();
// Closes gComm when it is open.
void ClosePort();

// Sends one byte without waiting. LinkOk, or LinkFault when the port refused it (code in
// gRunErrNo).
int16_t SendByte(uint8_t byte);
// Sends one byte and takes one byte back: LinkOk when it is the same, LinkMismatch when not,
// LinkTimeout on the deadline or Stop, LinkFault when the port failed.
int16_t SendByteEcho(uint8_t byte);
// Sends the bytes in one write and waits until the port has sent them all. LinkOk; LinkTimeout
// on the deadline or Stop, with the unsent bytes discarded; LinkFault when the port failed.
int16_t SendBlock(const QByteArray &bytes);
// Fills `buffer` (its size is the count expected) from whatever is waiting, in as many passes
// as it takes. LinkOk; LinkTimeout on the deadline or Stop (bytes stored so far stay); LinkFault
// when the port failed or more bytes were waiting than room (the first byte that did not fit
// is taken and lost).
int16_t ReceiveBytes(QByteArray &buffer);

// How a reply of the target ended.
enum class ReplyEnd {
    Whole,   // every byte expected, nothing more
    Stray,   // every byte expected, and one more byte behind them (taken and lost)
    Short,   // the port failed before every byte came
    Timeout, // the deadline passed or Stop was requested (bytes stored so far stay)
};
// ReceiveBytes, telling a whole reply with a stray byte behind it from one cut short.
ReplyEnd ReceiveReply(QByteArray &buffer);
// Takes one waiting byte.
uint8_t ReadByte();
// Pauses gWaitTime seconds, serving window events, in 100 ms sleeps. The pause is kept whole:
// a Stop takes effect at the next wait.
void SettlePause();

// gDeadline := now + seconds; gTimeoutActive := true.
void ArmDeadline(float seconds);

// Hands the bytes to the port in one write, without waiting for them to leave. LinkOk, or
// LinkFault when the port refused them (code in gRunErrNo).
int16_t SendBytes(const QByteArray &bytes);
// Waits, as a receive does, until at least one byte is waiting (under gDeadline and Stop,
// serving window events), then takes the bytes waiting, at most `most`, into `bytes`. LinkOk
// with 1 to `most` bytes; LinkTimeout on the deadline or Stop, or LinkFault when the port failed,
// with `bytes` empty.
int16_t ReceiveWaiting(QByteArray &bytes, int most);
