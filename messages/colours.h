#pragma once
// The window system's colour values 0x00BBGGRR as Qt colours.

#include <QColor>
#include <cstdint>

inline QColor ToQColor(uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}
