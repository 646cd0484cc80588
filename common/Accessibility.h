#pragma once

namespace Accessibility {

// Puts the program on the desktop's accessibility bus from its first window.
// Qt joins the bus only when a screen reader is already on as the program
// starts, and never notices one started later; tools that drive the windows
// from outside would not find them either. Call before the QApplication is
// made: Qt reads the setting once.
void joinBusAlways();

} // namespace Accessibility
