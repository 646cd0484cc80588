#pragma once

#include <QPixmap>
#include <QString>

// The window pictures, drawn as SVG and carried as resources.
namespace Pictures {

// ":/pictures/<name>".
QString path(const char *name);

// The picture at that path, rendered once at a size and pixel density.
QPixmap render(const QString &path, const QSize &size, qreal ratio);

} // namespace Pictures
