#include "LineControl.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

LineControl::LineControl(const QString &name, double unitsPerPixel, int thickness, const QColor &colour,
                         QWidget *parent)
    : QWidget(parent), m_unitsPerPixel(unitsPerPixel), m_thickness(thickness), m_colour(colour)
{
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(parent->rect());
}

void LineControl::setPoints(double x1, double y1, double x2, double y2)
{
    m_x1 = x1;
    m_y1 = y1;
    m_x2 = x2;
    m_y2 = y2;
    update();
}

void LineControl::setX2(double x2)
{
    if (x2 == m_x2)
        return;
    const double from = m_x2;
    m_x2 = x2;
    if (m_y1 != m_y2) {
        update();
        return;
    }
    // A level line, such as the seek bar's, changes only between its old
    // and its new end: a pixel more on each side for the smoothed edge.
    const double k = 1.0 / m_unitsPerPixel;
    const int left = int(std::floor(std::min(from, x2) * k)) - 1;
    const int right = int(std::ceil(std::max(from, x2) * k)) + 1;
    update(QRect(left, int(std::floor(m_y1 * k)) - 1, right - left + 1, m_thickness + 2));
}

bool LineControl::event(QEvent *event)
{
    // Always cover the whole parent, whatever the parent's size becomes.
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
        setGeometry(parentWidget()->rect());
    return QWidget::event(event);
}

void LineControl::paintEvent(QPaintEvent *)
{
    if (m_x1 == m_x2 && m_y1 == m_y2)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(m_colour, m_thickness);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    const double k = 1.0 / m_unitsPerPixel;
    // A thick line starting at y = 0 would be half outside; keep it inside the parent.
    const double inset = m_thickness / 2.0;
    painter.drawLine(QPointF(m_x1 * k, m_y1 * k + inset), QPointF(m_x2 * k, m_y2 * k + inset));
}
