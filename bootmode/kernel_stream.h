#pragma once
// The kernel transfer streamed (STREAM 1): through a USB adapter every echo costs the adapter's
// latency, so the lock-step transfer of a 4 KiB kernel takes a minute at 16 ms where its bytes
// need 4.3 s on the wire at 9600 bit/s. Streamed, several bytes are in flight at once and every
// echo is still compared in order.

#include <QByteArray>
#include <cstdint>

// Most bytes in flight: what is sent beyond a wrong echo before it is seen.
constexpr int kMaxStreamWindow = 256;

// Sends `buffer` (the two length bytes, then the kernel) to the boot program under the deadline
// the caller armed, and compares every echo in order. The length bytes go lock-step. The kernel's
// bytes up to its last go with two stop bits, as many in flight as the round trip of the length
// bytes needs to keep the line busy (at most kMaxStreamWindow); the line settings are then the
// description's again, and the last byte, which makes the boot program start on the kernel, is
// sent only once every earlier echo has matched. Returns what the lock-step transfer returns
// (LinkOk, LinkMismatch, LinkTimeout, LinkFault); after the first failure nothing more is sent.
// gByteCount counts the bytes echoed correctly.
int16_t StreamKernel(const QByteArray &buffer);
