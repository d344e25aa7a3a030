#include "illustration.h"

#include <QImage>
#include <QPainter>

// The build drew each drawing four times its own size, so that scaling down keeps it sharp.
QPixmap DrawIllustration(const char *name, QSize size, qreal ratio) {
    const QImage picture(QStringLiteral(":/illustrations/%1.png").arg(QLatin1String(name)));
    if (picture.isNull())
        return {};
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    const QSize target = picture.size().scaled(pixmap.size(), Qt::KeepAspectRatio);
    const QImage scaled = picture.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&pixmap);
    painter.drawImage(QPointF((pixmap.width() - target.width()) / 2.0 / ratio,
                              (pixmap.height() - target.height()) / 2.0 / ratio),
                      scaled);
    return pixmap;
}
