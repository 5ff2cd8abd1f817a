#pragma once
#include <QMargins>
#include <QRect>
#include <QSize>

// Where a window opens on its screen.
namespace ScreenPlacement {

// The window's client rectangle on `available` (the screen less its panels), for a client
// area of `size` inside a frame of `frame`: centred where the window fits; a window that would
// stick out (a large scale on a small screen) is made smaller, frame and all, to lie fully on
// the screen.
QRect Place(const QRect& available, const QSize& size, const QMargins& frame);

} // namespace ScreenPlacement
