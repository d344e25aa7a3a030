#include "widget_colours.h"

#include <QAbstractButton>
#include <QVariant>
#include <QWidget>

namespace {
const char *const kBackProperty = "qarnBackColour";
const char *const kForeProperty = "qarnForeColour";

QString css(uint32_t bgr) {
    const QColor c = ToQColor(bgr);
    return QStringLiteral("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

void applyStyle(QWidget *widget) {
    const QString back = css(BackColour(widget));
    const QString fore = css(ForeColour(widget));
    if (qobject_cast<QAbstractButton *>(widget)) {
        widget->setStyleSheet(
            QStringLiteral("QPushButton { background-color: %1; color: %2;"
                           " border: 1px solid rgb(80, 80, 80); border-radius: 3px;"
                           " padding: 2px 4px; }"
                           "QPushButton:disabled { color: rgb(120, 120, 120);"
                           " border-color: rgb(150, 150, 150); }"
                           "QPushButton:focus { border: 2px solid rgb(0, 0, 128); }"
                           "QPushButton:pressed { border: 2px inset rgb(80, 80, 80); }")
                .arg(back, fore));
    } else {
        widget->setStyleSheet(
            QStringLiteral("background-color: %1; color: %2; border: 1px solid rgb(64, 64, 64);")
                .arg(back, fore));
    }
}
} // namespace

void SetBackColour(QWidget *widget, uint32_t bgr) {
    widget->setProperty(kBackProperty, QVariant::fromValue<uint>(bgr));
    applyStyle(widget);
}

void SetForeColour(QWidget *widget, uint32_t bgr) {
    widget->setProperty(kForeProperty, QVariant::fromValue<uint>(bgr));
    applyStyle(widget);
}

uint32_t BackColour(const QWidget *widget, uint32_t fallback) {
    const QVariant v = widget->property(kBackProperty);
    return v.isValid() ? v.toUInt() : fallback;
}

uint32_t ForeColour(const QWidget *widget, uint32_t fallback) {
    const QVariant v = widget->property(kForeProperty);
    return v.isValid() ? v.toUInt() : fallback;
}
