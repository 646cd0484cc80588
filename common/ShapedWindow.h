#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRegion>

#include <functional>

class QWidget;

// A window without a system frame that shows only what is drawn on it. Its
// background is painted in the key colour, pure blue, and the window's shape
// is cut from every pixel that is not that colour: the desktop shows through
// around its pictures, labels and bars, with or without a compositor.
//
// The shape follows the children: it is cut again whenever one of them moves,
// is resized, shown or hidden. A child that paints its whole rectangle (a
// picture, a bar, a label with a background of its own) keeps the shape
// steady while its content changes; a label without a background leaves only
// its glyphs, so its window should call reshape() after changing its text.
namespace ShapedWindow {

inline const QColor kKeyColour{0, 0, 255};

void apply(QWidget *window);

// For a window that knows its shape without being drawn (the lyrics window:
// the outlines of its lines, drawn once each): the shape is cut from what
// source returns, in the window's own coordinates, instead of from a
// rendering of the whole window at every cut.
void setShapeSource(QWidget *window, std::function<QRegion()> source);

// Cuts the shape again at the next turn of the event loop (several calls in
// a row cut it once).
void reshape(QWidget *window);
// Cuts it now: the window's next paint already has its new shape, and is
// not made once more for what the new shape adds.
void reshapeNow(QWidget *window);

// The picture with every pixel either opaque or clear. A half-transparent
// edge pixel, blended with the key colour, would stay in the shape as a blue
// fringe; outlines of pictures that border the key colour want this.
QPixmap hardEdged(const QPixmap &picture);
QImage hardEdged(const QImage &picture);

// What the shape is cut from: the pixels of the window, children included,
// that are not the key colour, in the window's own coordinates.
QRegion visibleRegion(QWidget *window);

} // namespace ShapedWindow
