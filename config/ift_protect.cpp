#include "ift_protect.h"

#include <QRandomGenerator>

namespace {
// The markers are compared as their upper-case hexadecimal text, two digits a byte.
const QByteArray kMarkerA = QByteArrayLiteral("5B21E07C94D3A6F8");
const QByteArray kMarkerB = QByteArrayLiteral("3F9A0C7E51B82D46E09F7A1C5D3B8E62");

QByteArray markerText(const QByteArray &file, int offset, int size) {
    return file.mid(offset, size).toHex().toUpper();
}

// Walks the packed text with both key tables; sign +1 packs, -1 unpacks. A table index sent
// back to 0 by a zero entry starts over; an index that runs past the table ends the walk.
std::optional<QByteArray> shiftText(const QByteArray &text, const QByteArray &keyA,
                                    const QByteArray &keyB, int sign) {
    QByteArray out(text.size(), '\0');
    qsizetype a = 0;
    qsizetype b = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (a >= keyA.size() || b >= keyB.size())
            return std::nullopt;
        if (keyA.at(a) == 0)
            a = 0;
        if (keyB.at(b) == 0)
            b = 0;
        const int shift = uchar(keyA.at(a)) + uchar(keyB.at(b));
        out[i] = char(uchar(int(uchar(text.at(i))) + sign * shift));
        ++a;
        ++b;
    }
    return out;
}
} // namespace

bool IsProtectedIft(const QByteArray &file) {
    if (file.size() <= kIftHeaderSize)
        return false;
    return markerText(file, kIftMarkerAOffset, kIftMarkerASize) == kMarkerA &&
           markerText(file, kIftMarkerBOffset, kIftMarkerBSize) == kMarkerB;
}

bool IsUsableKeyTable(const QByteArray &table) {
    return table.indexOf('\0', 1) >= 1;
}

std::optional<QByteArray> UnpackIft(const QByteArray &file) {
    if (!IsProtectedIft(file))
        return std::nullopt;
    const QByteArray keyA = file.mid(kIftKeyAOffset, kIftKeyASize);
    const QByteArray keyB = file.mid(kIftKeyBOffset, kIftKeyBSize);
    return shiftText(file.mid(kIftHeaderSize), keyA, keyB, -1);
}

std::optional<QByteArray> PackIft(const QByteArray &plain, const QByteArray &keyA,
                                  const QByteArray &keyB, QRandomGenerator &rng) {
    if (plain.isEmpty() || keyA.size() != kIftKeyASize || keyB.size() != kIftKeyBSize ||
        !IsUsableKeyTable(keyA) || !IsUsableKeyTable(keyB))
        return std::nullopt;
    const auto text = shiftText(plain, keyA, keyB, +1);
    if (!text)
        return std::nullopt;

    QByteArray header(kIftHeaderSize, '\0');
    for (qsizetype i = 0; i < header.size(); ++i)
        header[i] = char(rng.bounded(256));
    header.replace(kIftMarkerAOffset, kIftMarkerASize, QByteArray::fromHex(kMarkerA));
    header.replace(kIftMarkerBOffset, kIftMarkerBSize, QByteArray::fromHex(kMarkerB));
    header.replace(kIftKeyAOffset, kIftKeyASize, keyA);
    header.replace(kIftKeyBOffset, kIftKeyBSize, keyB);
    return header + *text;
}
