#pragma once

#include <QColor>
#include <QWidget>

// A line drawn over its parent, placed by its two end points in the parent's
// own units (pixels, or twips for the seek bar). It takes no mouse events.
class LineControl : public QWidget
{
    Q_OBJECT
public:
    LineControl(const QString &name, double unitsPerPixel, int thickness, const QColor &colour,
                QWidget *parent);

    double x1() const { return m_x1; }
    double y1() const { return m_y1; }
    double x2() const { return m_x2; }
    double y2() const { return m_y2; }
    void setPoints(double x1, double y1, double x2, double y2);
    void setX2(double x2);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    double m_unitsPerPixel;
    int m_thickness;
    QColor m_colour;
    double m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
};
