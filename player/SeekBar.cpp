#include "SeekBar.h"

#include <QMouseEvent>

SeekBar::SeekBar(const QString &name, const QRect &geometry, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
    setGeometry(geometry);
    setCursor(Qt::PointingHandCursor);
    // Its moves and releases stay here too: they never drag the window.
    setAttribute(Qt::WA_NoMousePropagation);
}

void SeekBar::mousePressEvent(QMouseEvent *event)
{
    emit mouseDown(event->button(), Twips::fromPixels(event->position().x()));
}
