#pragma once

#include <QWidget>

// The seek bar: a thin groove that measures its content in twips (15 to a
// pixel), the unit its progress line and click positions are given in.
class SeekBar : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTwipsPerPixel = 15;
    // The track's end lies at this many twips; the bar itself is a little wider.
    static constexpr int kFullScale = 4800;

    SeekBar(const QString &name, const QRect &geometry, QWidget *parent);

    int scaleWidth() const { return width() * kTwipsPerPixel; }

signals:
    // A mouse button went down at x twips from the bar's left edge.
    void mouseDown(Qt::MouseButton button, double xTwips);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
