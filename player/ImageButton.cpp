#include "ImageButton.h"

#include "Pictures.h"

#include <QPainter>

ImageButton::ImageButton(const QString &name, const QString &picture, const QString &toolTip,
                         const QRect &geometry, QWidget *parent)
    : QAbstractButton(parent), m_pictureFile(picture)
{
    setObjectName(name);
    setToolTip(toolTip);
    setAccessibleName(toolTip);
    setAccessibleDescription(toolTip);
    setGeometry(geometry);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    // Presses of other buttons, and moves, stay here: only the bare background drags a window.
    setAttribute(Qt::WA_NoMousePropagation);
}

QSize ImageButton::sizeHint() const
{
    return size();
}

void ImageButton::setPicture(const QString &picture)
{
    if (picture == m_pictureFile)
        return;
    m_pictureFile = picture;
    m_picture = QPixmap();
    update();
}

// Rendered once, at the size and pixel density the button is shown at.
const QPixmap &ImageButton::picture()
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (m_picture.size() != pixels)
        m_picture = Pictures::render(m_pictureFile, size(), ratio);
    return m_picture;
}

void ImageButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool down = isDown();
    const QPixmap &pix = picture();
    if (!m_hovered && !down) {
        painter.drawPixmap(0, 0, pix);
        return;
    }
    // Tint a copy: white lifts it under the pointer, black sinks it while held.
    QPixmap tinted = pix;
    {
        QPainter tint(&tinted);
        tint.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        tint.fillRect(tinted.rect(), down ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 80));
    }
    painter.drawPixmap(down ? 1 : 0, down ? 1 : 0, tinted);
}

void ImageButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
