#pragma once
// The mouse pointer over Option3: a black exclamation mark on a yellow disc.

#include <QCursor>

namespace fernwick::ui {

inline constexpr int k_alert_cursor_size = 32;

// Drawn at run time, so no image file travels with the program.
QCursor alert_cursor();

}  // namespace fernwick::ui
