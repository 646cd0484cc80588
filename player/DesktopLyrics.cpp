#include "DesktopLyrics.h"

#include "ImageButton.h"
#include "Pictures.h"

#include "ShapedWindow.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QCursor>
#include <QGlyphRun>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>
#include <QWindow>

#include <cmath>

namespace {

const QColor kOutline(12, 16, 28);
const QColor kPanel(24, 28, 42);
const QColor kDimmed(138, 147, 179);
// A line of text no narrower than this share of its font, then cut with "…".
constexpr double kMinShrink = 0.6;
// Pressed this close to the left or right edge, the window changes its width.
constexpr int kEdgeGrip = 8;
constexpr int kButtonSize = 22;
constexpr int kPointerWatchMs = 250;

qreal outlineOf(int fontSize)
{
    return std::max(2.0, fontSize / 12.0);
}

int lineHeightOf(int fontSize)
{
    QFont font = QApplication::font();
    font.setPixelSize(fontSize);
    return int(std::ceil(QFontMetricsF(font).height() + 2 * outlineOf(fontSize))) + 2;
}

QLinearGradient verticalGradient(int height, const QColor &top, const QColor &bottom)
{
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

// Moves a shown window in or out of the input without making it anew (see
// setStaysOnTop in FrmPlayerWindow.cpp).
void setTransparentForInput(QWidget *window, bool on)
{
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowTransparentForInput, on);
    if (QWindow *handle = window->windowHandle()) {
        window->overrideWindowFlags(flags);
        handle->setFlags(flags);
    } else {
        window->setWindowFlags(flags);
    }
}

} // namespace

// One line, drawn once into two pictures of the same outline: as it is
// before it is sung and as it is once sung. Painting only copies from them.
// The outline, the costly part, is drawn once per line: the line after the
// current one, when its turn comes, takes it from the label that showed it.
class LyricsLabel : public QLabel
{
public:
    LyricsLabel(const char *name, bool dimmed, QWidget *parent) : QLabel(parent), m_dimmed(dimmed)
    {
        setObjectName(QLatin1String(name));
        setTextFormat(Qt::PlainText);
        // Moves over the label reach the window, which shows where it can be made wider.
        setMouseTracking(true);
    }

    // outlineFrom: a label of the same size that may already have this line's outline.
    void setLine(const QString &text, int fontSize, const LyricsLabel *outlineFrom = nullptr)
    {
        if (text == m_line && fontSize == m_fontSize)
            return;
        m_line = text;
        m_fontSize = fontSize;
        // Read out by screen readers; the painting below is the label's own.
        setText(text);
        setAccessibleName(text);
        render(outlineFrom);
    }
    const QString &line() const { return m_line; }

    void setSung(double chars)
    {
        if (m_edges.isEmpty())
            return;
        const double clamped = std::clamp(chars, 0.0, double(m_edges.size() - 1));
        const int whole = int(clamped);
        const double next = m_edges[std::min<qsizetype>(whole + 1, m_edges.size() - 1)];
        const int fill = int(std::lround(m_edges[whole] + (clamped - whole) * (next - m_edges[whole])));
        if (fill == m_fill)
            return;
        const int from = std::min(fill, m_fill);
        update(QRect(m_origin.x() + from - 1, 0, std::abs(fill - m_fill) + 2, height()));
        m_fill = fill;
    }
    int fill() const { return m_fill; }
    // Where the line shows, in the label's own coordinates: its outline.
    const QRegion &shape() const { return m_shape; }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (m_plain.isNull())
            return;
        QPainter painter(this);
        const QRect picture(m_origin, m_plain.deviceIndependentSize().toSize());
        const QRect dirty = event->rect().intersected(picture);
        const int edge = m_origin.x() + m_fill;
        const auto copy = [&](const QRect &part, const QPixmap &from) {
            if (part.isEmpty() || from.isNull())
                return;
            const qreal ratio = from.devicePixelRatio();
            const QRectF source(QPointF(part.topLeft() - m_origin) * ratio, QSizeF(part.size()) * ratio);
            painter.drawPixmap(part, from, source);
        };
        copy(dirty.intersected(QRect(0, 0, edge, height())), m_sung);
        copy(dirty.intersected(QRect(edge, 0, width() - edge, height())), m_plain);
    }

    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        render();
    }

private:
    // What an outline is drawn from; equal keys, equal outlines. A label
    // without an outline keeps the empty key, which no line's key equals.
    struct OutlineKey
    {
        QString text;
        int pixelSize = 0;
        QSize size;
        qreal ratio = 1;
        bool operator==(const OutlineKey &) const = default;
    };

    void render(const LyricsLabel *outlineFrom = nullptr)
    {
        m_plain = m_sung = QPixmap();
        m_outline = QImage();
        m_outlineKey = {};
        m_shape = QRegion();
        m_edges.clear();
        m_fill = 0;
        update();
        if (m_line.isEmpty() || width() <= 0)
            return;
        const qreal outline = outlineOf(m_fontSize);
        const qreal room = width() - 2 * outline - 4;
        QFont font = QApplication::font();
        font.setBold(true);
        font.setPixelSize(m_fontSize);
        // A long line is drawn smaller, down to a point; beyond it, cut.
        const qreal natural = QFontMetricsF(font).horizontalAdvance(m_line);
        if (natural > room)
            font.setPixelSize(std::max(int(m_fontSize * kMinShrink), int(m_fontSize * room / natural)));
        const QFontMetricsF metrics(font);
        const QString shown = metrics.elidedText(m_line, Qt::ElideRight, room);
        const bool cut = shown != m_line;

        QTextLayout layout(shown, font);
        layout.beginLayout();
        QTextLine textLine = layout.createLine();
        layout.endLayout();
        if (!textLine.isValid())
            return;
        const qreal textWidth = textLine.naturalTextWidth();
        // Where each character of the line begins; the cut-off part is sung at the cut.
        const qsizetype kept = cut ? std::max<qsizetype>(shown.size() - 1, 0) : shown.size();
        m_edges.reserve(m_line.size() + 1);
        for (qsizetype i = 0; i <= m_line.size(); ++i)
            m_edges.append(outline + 1 + (i <= kept ? textLine.cursorToX(int(i)) : textWidth));

        const QSize size(int(std::ceil(textWidth + 2 * outline + 2)), height());
        const QPointF baseline(outline + 1, (height() - metrics.height()) / 2 + metrics.ascent());
        const qreal ratio = devicePixelRatioF();
        // Shaped once; drawn as glyphs, from the glyph cache.
        const QList<QGlyphRun> glyphs = textLine.glyphRuns();
        const auto drawText = [&](QPainter &painter, const QPointF &at) {
            for (const QGlyphRun &run : glyphs)
                painter.drawGlyphRun(at + QPointF(0, baseline.y() - metrics.ascent()), run);
        };
        const OutlineKey key{shown, font.pixelSize(), size, ratio};
        m_origin = QPoint((width() - size.width()) / 2, 0);
        if (outlineFrom && outlineFrom->m_outlineKey == key) {
            m_outline = outlineFrom->m_outline;
            m_shape = outlineFrom->m_shape.translated(m_origin - outlineFrom->m_origin);
        } else {
            // The outline: the text, drawn once in the outline's colour, copied
            // to eight places around its own, a disc's edge of the outline's
            // width. Stroking the glyphs' curves costs a hundred times more,
            // and drawing the glyphs at each place more than copying them.
            const auto blank = [&] {
                QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
                image.setDevicePixelRatio(ratio);
                image.fill(Qt::transparent);
                return image;
            };
            QImage text = blank();
            {
                QPainter painter(&text);
                painter.setPen(kOutline);
                drawText(painter, QPointF(baseline.x(), 0));
            }
            QImage outlined = blank();
            {
                QPainter painter(&outlined);
                const qreal diagonal = outline * M_SQRT1_2;
                for (const QPointF &offset :
                     {QPointF(outline, 0), QPointF(-outline, 0), QPointF(0, outline), QPointF(0, -outline),
                      QPointF(diagonal, diagonal), QPointF(-diagonal, diagonal), QPointF(diagonal, -diagonal),
                      QPointF(-diagonal, -diagonal)})
                    painter.drawImage(offset, text);
            }
            m_outline = ShapedWindow::hardEdged(outlined);
            // Both pictures cover just the outline's pixels.
            QImage opaque = m_outline.createAlphaMask();
            if (opaque.size() != size)
                opaque = opaque.scaled(size);
            m_shape = QRegion(QBitmap::fromImage(opaque)).translated(m_origin) & rect();
        }
        m_outlineKey = key;
        const auto draw = [&](const QBrush &fill) {
            QImage image = m_outline;
            QPainter painter(&image);
            painter.setPen(QPen(fill, 1));
            drawText(painter, QPointF(baseline.x(), 0));
            painter.end();
            return QPixmap::fromImage(image);
        };
        if (m_dimmed) {
            m_plain = draw(kDimmed);
        } else {
            m_plain = draw(verticalGradient(height(), QColor(255, 255, 255), QColor(200, 208, 255)));
            m_sung = draw(verticalGradient(height(), QColor(255, 242, 122), QColor(255, 157, 46)));
        }
    }

    const bool m_dimmed;
    QString m_line;
    int m_fontSize = DesktopLyrics::kDefaultFontSize;
    QPixmap m_plain;
    QPixmap m_sung;
    QPoint m_origin;
    QImage m_outline;
    OutlineKey m_outlineKey;
    QRegion m_shape;
    QList<qreal> m_edges;
    int m_fill = 0;
};

DesktopLyrics::DesktopLyrics(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("桌面歌词"));
    setWindowTitle(QStringLiteral("桌面歌词"));
    setWindowIcon(QIcon(Pictures::path("app.svg")));
    ShapedWindow::apply(this);
    ShapedWindow::setShapeSource(this, [this] { return shape(); });
    // Every pixel of that shape is one of a line's pictures: the key colour
    // under them is never seen, and not painted (see setHovered).
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Above everything, out of the task bar, and never taking the keyboard from another window.
    setWindowFlags(windowFlags() | Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setMouseTracking(true);

    lblLyric = new LyricsLabel("lblLyric", false, this);
    lblNext = new LyricsLabel("lblNext", true, this);
    const auto button = [this](const char *name, const char *picture, const QString &tip,
                               void (DesktopLyrics::*handler)()) {
        auto *made = new ImageButton(QLatin1String(name), Pictures::path(picture), tip,
                                     QRect(0, 0, kButtonSize, kButtonSize), this);
        connect(made, &QAbstractButton::clicked, this, handler);
        made->hide();
        return made;
    };
    imgFontDown = button("imgFontDown", "lyrics_smaller.svg", QStringLiteral("缩小字体"),
                         &DesktopLyrics::imgFontDown_Click);
    imgFontUp =
        button("imgFontUp", "lyrics_bigger.svg", QStringLiteral("放大字体"), &DesktopLyrics::imgFontUp_Click);
    imgLock =
        button("imgLock", "lyrics_lock.svg", QStringLiteral("锁定桌面歌词"), &DesktopLyrics::imgLock_Click);
    imgClose = button("imgClose", "lyrics_close.svg", QStringLiteral("关闭桌面歌词"),
                      &DesktopLyrics::imgClose_Click);

    frmUnlock = new QWidget(this, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                      Qt::WindowDoesNotAcceptFocus);
    frmUnlock->setObjectName(QStringLiteral("frmUnlock"));
    frmUnlock->setWindowTitle(QStringLiteral("解锁桌面歌词"));
    frmUnlock->setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette dark = frmUnlock->palette();
    dark.setColor(QPalette::Window, kPanel);
    frmUnlock->setPalette(dark);
    frmUnlock->setAutoFillBackground(true);
    frmUnlock->setFixedSize(kButtonSize + 4, kButtonSize + 4);
    imgUnlock =
        new ImageButton(QStringLiteral("imgUnlock"), Pictures::path("lyrics_unlock.svg"),
                        QStringLiteral("解锁桌面歌词"), QRect(2, 2, kButtonSize, kButtonSize), frmUnlock);
    connect(imgUnlock, &QAbstractButton::clicked, this, &DesktopLyrics::imgUnlock_Click);

    m_pointerWatch.setInterval(kPointerWatchMs);
    connect(&m_pointerWatch, &QTimer::timeout, this, &DesktopLyrics::watchPointer);

    setMinimumWidth(kMinWidth);
    setFontSize(kDefaultFontSize);
}

DesktopLyrics::~DesktopLyrics() = default;

void DesktopLyrics::setLines(const QString &current, const QString &next)
{
    if (current == lblLyric->line() && next == lblNext->line())
        return;
    // The next line usually becomes the current one: its outline is drawn already.
    lblLyric->setLine(current, m_fontSize, lblNext);
    lblNext->setLine(next, m_fontSize, lblLyric);
    ShapedWindow::reshapeNow(this);
}

QRegion DesktopLyrics::shape() const
{
    // The panel under the pointer fills the whole window.
    if (m_hovered)
        return rect();
    return lblLyric->shape().translated(lblLyric->pos()) + lblNext->shape().translated(lblNext->pos());
}

QString DesktopLyrics::currentLine() const
{
    return lblLyric->line();
}

QString DesktopLyrics::nextLine() const
{
    return lblNext->line();
}

void DesktopLyrics::setSung(double chars)
{
    lblLyric->setSung(chars);
}

int DesktopLyrics::fillEdge() const
{
    return lblLyric->fill();
}

void DesktopLyrics::setFontSize(int pixels)
{
    m_fontSize = std::clamp(pixels, kMinFontSize, kMaxFontSize);
    setFixedHeight(kBarHeight + 2 * lineHeightOf(m_fontSize));
    layOut();
    lblLyric->setLine(lblLyric->line(), m_fontSize);
    lblNext->setLine(lblNext->line(), m_fontSize);
    ShapedWindow::reshape(this);
}

void DesktopLyrics::setLocked(bool locked)
{
    m_locked = locked;
    if (locked)
        setHovered(false);
    setTransparentForInput(this, locked);
    imgLock->setPicture(Pictures::path(locked ? "lyrics_unlock.svg" : "lyrics_lock.svg"));
    watchPointer();
}

void DesktopLyrics::imgFontDown_Click()
{
    emit fontSizeRequested(m_fontSize - kFontStep);
}

void DesktopLyrics::imgFontUp_Click()
{
    emit fontSizeRequested(m_fontSize + kFontStep);
}

void DesktopLyrics::imgLock_Click()
{
    emit lockRequested(!m_locked);
}

void DesktopLyrics::imgClose_Click()
{
    emit closeRequested();
}

void DesktopLyrics::imgUnlock_Click()
{
    emit lockRequested(false);
}

void DesktopLyrics::setHovered(bool hovered)
{
    hovered = hovered && !m_locked;
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    // The panel makes the whole window visible, and so grabbable.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, hovered ? kPanel : ShapedWindow::kKeyColour);
    setPalette(palette);
    setAttribute(Qt::WA_OpaquePaintEvent, !hovered);
    for (ImageButton *button : {imgFontDown, imgFontUp, imgLock, imgClose})
        button->setVisible(hovered);
    ShapedWindow::reshape(this);
}

void DesktopLyrics::layOut()
{
    const int line = lineHeightOf(m_fontSize);
    lblLyric->setGeometry(0, kBarHeight, width(), line);
    lblNext->setGeometry(0, kBarHeight + line, width(), line);
    const int gap = 6;
    const QList<ImageButton *> buttons = {imgFontDown, imgFontUp, imgLock, imgClose};
    int x = (width() - int(buttons.size()) * (kButtonSize + gap) + gap) / 2;
    for (ImageButton *button : buttons) {
        button->move(x, (kBarHeight - kButtonSize) / 2);
        x += kButtonSize + gap;
    }
}

void DesktopLyrics::watchPointer()
{
    const bool watching = m_locked && isVisible();
    if (watching != m_pointerWatch.isActive())
        watching ? m_pointerWatch.start() : m_pointerWatch.stop();
    const QPoint pointer = QCursor::pos();
    const bool over = watching && (frameGeometry().contains(pointer) ||
                                   (frmUnlock->isVisible() && frmUnlock->frameGeometry().contains(pointer)));
    if (over && !frmUnlock->isVisible()) {
        frmUnlock->move(x() + width() / 2 - frmUnlock->width() / 2, y());
        frmUnlock->show();
        frmUnlock->raise();
    } else if (!over && frmUnlock->isVisible()) {
        frmUnlock->hide();
    }
}

DesktopLyrics::Grab DesktopLyrics::grabAt(const QPoint &position) const
{
    if (position.x() < kEdgeGrip)
        return Grab::LeftEdge;
    if (position.x() >= width() - kEdgeGrip)
        return Grab::RightEdge;
    return Grab::Move;
}

void DesktopLyrics::enterEvent(QEnterEvent *)
{
    setHovered(true);
}

void DesktopLyrics::leaveEvent(QEvent *)
{
    // A drag may outrun the pointer; the panel stays until it ends.
    if (m_grab == Grab::None)
        setHovered(false);
}

void DesktopLyrics::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_grab = grabAt(event->position().toPoint());
    m_grabPoint = event->globalPosition().toPoint();
    m_grabGeometry = geometry();
}

void DesktopLyrics::mouseMoveEvent(QMouseEvent *event)
{
    if (m_grab == Grab::None || !(event->buttons() & Qt::LeftButton)) {
        const Grab over = grabAt(event->position().toPoint());
        setCursor(over == Grab::Move ? Qt::ArrowCursor : Qt::SizeHorCursor);
        return;
    }
    const int dx = event->globalPosition().toPoint().x() - m_grabPoint.x();
    const int dy = event->globalPosition().toPoint().y() - m_grabPoint.y();
    QRect place = m_grabGeometry;
    const int widest = screen() ? screen()->availableGeometry().width() : 4096;
    switch (m_grab) {
    case Grab::Move:
        move(place.topLeft() + QPoint(dx, dy));
        return;
    case Grab::LeftEdge:
        place.setLeft(std::min(place.left() + dx, place.right() - kMinWidth + 1));
        break;
    case Grab::RightEdge:
        place.setRight(std::max(place.right() + dx, place.left() + kMinWidth - 1));
        break;
    case Grab::None:
        return;
    }
    if (place.width() > widest)
        return;
    setGeometry(place);
}

void DesktopLyrics::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_grab == Grab::None)
        return;
    m_grab = Grab::None;
    if (!rect().contains(event->position().toPoint()))
        setHovered(false);
    emit placeChanged();
}

void DesktopLyrics::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void DesktopLyrics::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    watchPointer();
}

void DesktopLyrics::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    setHovered(false);
    watchPointer();
}

void DesktopLyrics::closeEvent(QCloseEvent *event)
{
    emit closeRequested();
    QWidget::closeEvent(event);
}
