#pragma once

#include "Twips.h"

#include <QWidget>

// The seek bar: a thin groove that measures its content in twips, the unit its
// progress line and click positions are given in.
class SeekBar : public QWidget
{
    Q_OBJECT
public:
    // The track's end lies at this many twips; the bar itself is a little wider.
    static constexpr int kFullScale = 4800;

    SeekBar(const QString &name, const QRect &geometry, QWidget *parent);

    int scaleWidth() const { return int(Twips::fromPixels(width())); }

signals:
    // A mouse button went down at x twips from the bar's left edge.
    void mouseDown(Qt::MouseButton button, double xTwips);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
