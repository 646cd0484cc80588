#include "SeekBar.h"

#include <QMouseEvent>

SeekBar::SeekBar(const QString &name, const QRect &geometry, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
    setGeometry(geometry);
    setCursor(Qt::PointingHandCursor);
}

void SeekBar::mousePressEvent(QMouseEvent *event)
{
    emit mouseDown(event->button(), event->position().x() * kTwipsPerPixel);
}
