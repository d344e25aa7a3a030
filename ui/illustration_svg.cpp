#include "illustration.h"

#include <QPainter>
#include <QSvgRenderer>

QPixmap DrawIllustration(const char *name, QSize size, qreal ratio) {
    QSvgRenderer renderer{QStringLiteral(":/illustrations/%1.svg").arg(QLatin1String(name))};
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QSizeF target = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
    const QPointF origin((size.width() - target.width()) / 2,
                         (size.height() - target.height()) / 2);
    renderer.render(&painter, QRectF(origin, target));
    return pixmap;
}
