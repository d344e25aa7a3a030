#pragma once
// Conversions of value texts to numbers as the tool's files expect them: decimal with an
// optional sign, fraction and exponent, or "&H" hexadecimal / "&O" octal; integers round half
// to even. Anything else, and anything out of range, does not convert (std::nullopt).

#include <QString>
#include <cstdint>
#include <optional>

std::optional<double> ToNumber(const QString &text);
std::optional<int16_t> ToInt16(const QString &text);
std::optional<int32_t> ToInt32(const QString &text);
std::optional<float> ToSingle(const QString &text);

// Hexadecimal digits only (no prefix), at most maxDigits of them, as an unsigned value.
std::optional<uint32_t> HexDigits(const QString &text, int maxDigits);

// The last four hexadecimal digits of a value, upper case, zero-padded ("002F").
QString Hex4(uint32_t value);

// Shortest decimal text of a single-precision value, never with an exponent ("15", "0.5").
QString SingleText(float value);
