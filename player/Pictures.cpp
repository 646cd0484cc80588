#include "Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

namespace Pictures {

QString path(const char *name)
{
    return QStringLiteral(":/pictures/") + QLatin1String(name);
}

QPixmap render(const QString &path, const QSize &size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace Pictures
