#include "ScreenPlacement.h"

#include <algorithm>

namespace ScreenPlacement {

QRect Place(const QRect& available, const QSize& size, const QMargins& frame) {
    const QSize outer = size.grownBy(frame);
    if (outer.width() <= available.width() && outer.height() <= available.height())
        return QRect(available.center() - QPoint(size.width() / 2, size.height() / 2), size);
    const int outerWidth = std::min(outer.width(), available.width());
    const int outerHeight = std::min(outer.height(), available.height());
    const QPoint frameCorner(available.left() + (available.width() - outerWidth) / 2,
                             available.top() + (available.height() - outerHeight) / 2);
    return QRect(frameCorner + QPoint(frame.left(), frame.top()),
                 QSize(outerWidth, outerHeight).shrunkBy(frame));
}

} // namespace ScreenPlacement
