#include "number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {
std::optional<double> radixNumber(QStringView digits, int radix) {
    if (digits.isEmpty() || digits.size() > 11)
        return std::nullopt;
    // Digits of the radix only: no sign, no "0X" prefix, no blanks.
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        const bool digit = radix == 16 ? (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') ||
                                             (u >= u'a' && u <= u'f')
                                       : u >= u'0' && u <= u'7';
        if (!digit)
            return std::nullopt;
    }
    bool ok = false;
    const qulonglong v = digits.toULongLong(&ok, radix);
    if (!ok)
        return std::nullopt;
    // "&H" values of up to four digits are 16-bit and those of up to eight are 32-bit signed,
    // so &HFFFF reads -1 and &HFFFFFFFF reads -1 as well.
    if (radix == 16 && digits.size() <= 4)
        return double(int16_t(uint16_t(v)));
    if (v > 0xFFFFFFFFull)
        return std::nullopt;
    return double(int32_t(uint32_t(v)));
}

template <typename T> std::optional<T> toInteger(const QString &text) {
    const auto v = ToNumber(text);
    if (!v)
        return std::nullopt;
    const double r = std::nearbyint(*v); // default rounding: half to even
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return T(r);
}
} // namespace

std::optional<double> ToNumber(const QString &text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    if (t.startsWith(u'&') && t.size() > 2) {
        const QChar kind = t.at(1).toUpper();
        if (kind == u'H')
            return radixNumber(QStringView(t).mid(2), 16);
        if (kind == u'O')
            return radixNumber(QStringView(t).mid(2), 8);
        return std::nullopt;
    }
    // Decimal: [sign] digits [. digits] [E [sign] digits], with at least one digit.
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (t.at(i) == u'+' || t.at(i) == u'-')
        ++i;
    qsizetype digits = 0;
    while (i < n && t.at(i).isDigit() && t.at(i).unicode() < 0x80) {
        ++i;
        ++digits;
    }
    if (i < n && t.at(i) == u'.') {
        ++i;
        while (i < n && t.at(i).isDigit() && t.at(i).unicode() < 0x80) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (t.at(i) == u'E' || t.at(i) == u'e')) {
        ++i;
        if (i < n && (t.at(i) == u'+' || t.at(i) == u'-'))
            ++i;
        qsizetype expDigits = 0;
        while (i < n && t.at(i).isDigit() && t.at(i).unicode() < 0x80) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int16_t> ToInt16(const QString &text) {
    return toInteger<int16_t>(text);
}

std::optional<int32_t> ToInt32(const QString &text) {
    return toInteger<int32_t>(text);
}

std::optional<float> ToSingle(const QString &text) {
    const auto v = ToNumber(text);
    if (!v || std::fabs(*v) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    return float(*v);
}

std::optional<uint32_t> HexDigits(const QString &text, int maxDigits) {
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t v = 0;
    for (const QChar c : text) {
        const int d = QStringView(&c, 1).toInt(nullptr, 16);
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
        if (!hex)
            return std::nullopt;
        v = v * 16 + uint32_t(d);
    }
    return v;
}

QString Hex4(uint32_t value) {
    return QStringLiteral("%1").arg(value & 0xFFFFu, 4, 16, QLatin1Char('0')).toUpper();
}

QString SingleText(float value) {
    // Shortest fixed-point text that reads back as the same single: "90", "0.5", "0.00001".
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (end.ec != std::errc())
        return QString::number(double(value));
    return QString::fromLatin1(text, end.ptr - text);
}
