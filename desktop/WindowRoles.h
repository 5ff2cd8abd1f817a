#pragma once
#include <QAccessible>

class QWidget;

// Screen readers hear a plain top-level widget as a "filler". Once a window has its role set
// here, it is heard as what it is: the main window as a frame (QAccessible::Window), a dialog
// as a dialog.
namespace WindowRoles {
void Set(QWidget* window, QAccessible::Role role);
} // namespace WindowRoles
