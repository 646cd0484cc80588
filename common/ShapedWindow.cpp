#include "ShapedWindow.h"

#include <QWidget>

namespace ShapedWindow {

void apply(QWidget *window)
{
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    window->setAttribute(Qt::WA_TranslucentBackground, true);
    window->setAutoFillBackground(false);
}

} // namespace ShapedWindow
