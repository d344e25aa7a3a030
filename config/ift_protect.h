#pragma once
// The protected form of a firmware description: a 256-byte header holding two markers and two
// key tables, then the text with every byte shifted by one entry of each table.

#include <QByteArray>
#include <optional>

class QRandomGenerator;

constexpr int kIftHeaderSize = 256;
constexpr int kIftKeyASize = 5;
constexpr int kIftKeyBSize = 4;

// Header layout (offsets from the start of the file).
constexpr int kIftMarkerAOffset = 12;
constexpr int kIftMarkerASize = 8;
constexpr int kIftKeyBOffset = 36;
constexpr int kIftKeyAOffset = 120;
constexpr int kIftMarkerBOffset = 212;
constexpr int kIftMarkerBSize = 16;

// True when the bytes are longer than the header and both markers are in place. A file of
// 256 bytes or less is always plain text, whatever it holds.
bool IsProtectedIft(const QByteArray &file);

// A key table is usable when it holds a zero byte after its first byte. Reaching that zero
// sends the table index back to 0, so the bytes before it are used over and over. A zero at
// index 0 is used once as a plain 0 and sends nothing back, so a table whose only zero is its
// first byte runs out like a table without any zero.
bool IsUsableKeyTable(const QByteArray &table);

// The plain text of a protected file (IsProtectedIft must hold). std::nullopt when a key table
// runs out before the text does: a table that is not usable fails at the first text byte that
// would need the entry past its end (the fifth byte for table B, the sixth for table A).
std::optional<QByteArray> UnpackIft(const QByteArray &file);

// The protected form of a plain text. keyA must be 5 bytes and keyB 4 bytes, each usable, and the
// text must not be empty (an empty text would leave a header-only file, which reads as plain);
// otherwise std::nullopt. The header bytes that no reader examines are taken from rng.
std::optional<QByteArray> PackIft(const QByteArray &plain, const QByteArray &keyA,
                                  const QByteArray &keyB, QRandomGenerator &rng);
