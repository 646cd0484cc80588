#pragma once

#include <QPoint>
#include <QTimer>
#include <QWidget>

class ImageButton;
class LyricsLabel;

// The desktop lyrics window (桌面歌词): two lines floating above every
// window, the one being sung with its sung part filled in, the next one
// dimmed. It is a shaped window, so only the outlined text is seen, with or
// without a compositor. Under the pointer a dark panel comes up with its
// buttons (font smaller and larger, lock, close), and it can be dragged, and
// made wider or narrower at its left and right edges.
//
// Locked, it lets every click through to the windows below. While the
// pointer rests over a locked window, a small unlock button of its own comes
// up above it, the one part that still takes clicks.
//
// It holds no lyrics and no time: its controller says what to show.
class DesktopLyrics : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMinFontSize = 16;
    static constexpr int kMaxFontSize = 72;
    static constexpr int kDefaultFontSize = 32;
    static constexpr int kFontStep = 4;
    static constexpr int kMinWidth = 240;
    // The strip of buttons above the lines.
    static constexpr int kBarHeight = 28;

    explicit DesktopLyrics(QWidget *parent = nullptr);
    ~DesktopLyrics() override;

    // The line being sung and the one after it. Each is drawn once; the
    // shape is cut again only when a line, the font or the width changes.
    void setLines(const QString &current, const QString &next);
    QString currentLine() const;
    QString nextLine() const;
    // How many characters of the current line are sung, fractions included.
    // Only the strip between the old and the new edge of the fill is repainted.
    void setSung(double chars);
    // The edge of the fill, in pixels from the current line's picture's left.
    int fillEdge() const;

    int fontSize() const { return m_fontSize; }
    void setFontSize(int pixels);
    bool isLocked() const { return m_locked; }
    void setLocked(bool locked);
    // Whether the panel and its buttons are up.
    bool isHovered() const { return m_hovered; }

signals:
    void closeRequested();
    void lockRequested(bool locked);
    void fontSizeRequested(int pixels);
    // A drag or a change of width has ended.
    void placeChanged();

public slots:
    void imgFontDown_Click();
    void imgFontUp_Click();
    void imgLock_Click();
    void imgClose_Click();
    void imgUnlock_Click();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    // Closed by the desktop, it is closed as by its own button.
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Grab { None, Move, LeftEdge, RightEdge };

    void setHovered(bool hovered);
    // What the window's shape is cut from: its lines' outlines, or all of it under the pointer.
    QRegion shape() const;
    void layOut();
    // While locked and shown: the unlock button follows the pointer's visits.
    void watchPointer();
    Grab grabAt(const QPoint &position) const;

    LyricsLabel *lblLyric = nullptr;
    LyricsLabel *lblNext = nullptr;
    ImageButton *imgFontDown = nullptr;
    ImageButton *imgFontUp = nullptr;
    ImageButton *imgLock = nullptr;
    ImageButton *imgClose = nullptr;
    // A window of its own, so that it takes clicks while this one lets them through.
    QWidget *frmUnlock = nullptr;
    ImageButton *imgUnlock = nullptr;
    QTimer m_pointerWatch;

    int m_fontSize = kDefaultFontSize;
    bool m_locked = false;
    bool m_hovered = false;
    Grab m_grab = Grab::None;
    // Where the window was grabbed, in its own pixels, and its geometry then.
    QPoint m_grabPoint;
    QRect m_grabGeometry;
};
