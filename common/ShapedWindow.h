#pragma once

class QWidget;

// A window without a system frame whose background is see-through, so that
// only its pictures, labels and bars are seen.
namespace ShapedWindow {

void apply(QWidget *window);

} // namespace ShapedWindow
