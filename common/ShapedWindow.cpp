#include "ShapedWindow.h"

#include <QBitmap>
#include <QChildEvent>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ShapedWindow {
namespace {

// Keeps one window's shape in step with its children.
class Shaper : public QObject
{
public:
    explicit Shaper(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QStringLiteral("ShapedWindow::Shaper"));
        m_timer.setSingleShot(true);
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, &Shaper::cut);
        watch(window);
    }

    void schedule()
    {
        if (!m_timer.isActive())
            m_timer.start();
    }

    void setSource(std::function<QRegion()> source) { m_source = std::move(source); }

    void cut()
    {
        // Only a visible window has a shape worth cutting; showing it cuts it.
        m_timer.stop();
        if (!m_window->isVisible())
            return;
        QRegion region = m_source ? m_source() : visibleRegion(m_window);
        // An empty mask is none, and would show the whole window: nothing shows instead.
        if (region.isEmpty())
            region = QRegion(-1, -1, 1, 1);
        if (region == m_window->mask())
            return;
        // Painting is clipped to the old shape: what the new one adds was
        // never drawn, and would show the key colour until painted again.
        const QRegion added = region - m_window->mask();
        m_window->setMask(region);
        m_window->update(added);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ChildAdded:
            if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
                watch(child);
            schedule();
            break;
        case QEvent::Show:
            // The window's own show event comes before it is mapped: cut at
            // once, so that it never appears as a blue rectangle.
            if (watched == m_window) {
                cut();
            } else {
                schedule();
            }
            break;
        case QEvent::Move:
            // Dragging the window does not change its shape.
            if (watched != m_window)
                schedule();
            break;
        case QEvent::ChildRemoved:
        case QEvent::Hide:
        case QEvent::Resize:
            schedule();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void watch(QWidget *widget)
    {
        widget->installEventFilter(this);
        const auto children = widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *child : children)
            watch(child);
    }

    QWidget *m_window;
    QTimer m_timer;
    std::function<QRegion()> m_source;
};

Shaper *shaperOf(QWidget *window)
{
    return window->findChild<Shaper *>(QStringLiteral("ShapedWindow::Shaper"), Qt::FindDirectChildrenOnly);
}

} // namespace

void apply(QWidget *window)
{
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, kKeyColour);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    if (!shaperOf(window))
        new Shaper(window);
}

void setShapeSource(QWidget *window, std::function<QRegion()> source)
{
    if (Shaper *shaper = shaperOf(window))
        shaper->setSource(std::move(source));
}

void reshape(QWidget *window)
{
    if (Shaper *shaper = shaperOf(window))
        shaper->schedule();
}

void reshapeNow(QWidget *window)
{
    if (Shaper *shaper = shaperOf(window))
        shaper->cut();
}

QImage hardEdged(const QImage &picture)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qAlpha(line[x]) >= 128 ? (line[x] | 0xff000000u) : 0u;
    }
    // Every pixel opaque or clear: the same bits premultiplied, which painters draw on fastest.
    image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    return image;
}

QPixmap hardEdged(const QPixmap &picture)
{
    QPixmap result = QPixmap::fromImage(hardEdged(picture.toImage()));
    result.setDevicePixelRatio(picture.devicePixelRatio());
    return result;
}

QRegion visibleRegion(QWidget *window)
{
    // Drawn at one device pixel per logical pixel: the shape is in the
    // window's own coordinates, whatever the screen's density.
    QImage image(window->size(), QImage::Format_RGB32);
    image.fill(kKeyColour);
    {
        QPainter painter(&image);
        window->render(&painter, QPoint(), QRegion(window->rect()),
                       QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    }
    // A bitmap's set bits (color1) are the region; in this mask they are the
    // pixels that are not the key colour.
    const QImage mask = image.createMaskFromColor(kKeyColour.rgb(), Qt::MaskInColor);
    return QRegion(QBitmap::fromImage(mask));
}

} // namespace ShapedWindow
