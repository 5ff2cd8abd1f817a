#pragma once
#include <QAccessible>

class QWidget;

// What a screen reader hears a widget as, where Qt's own guess is wrong: a plain top-level
// widget is a "filler", not a frame (QAccessible::Window) or a dialog; a plain QFrame is a
// "frame", which screen readers take for a window, not a panel (QAccessible::Grouping) or a
// line (QAccessible::Separator).
namespace AccessibleRoles {
void Set(QWidget* widget, QAccessible::Role role);
} // namespace AccessibleRoles
