#pragma once
#include <QRect>

// The windows are measured in twips: 1440 to the inch, 15 to a pixel at 96 dots per inch.
namespace Twips {
constexpr int PerPixel = 15;

constexpr int ToPixels(int twips) {
    return twips / PerPixel;
}
constexpr int FromPixels(int pixels) {
    return pixels * PerPixel;
}

inline QRect ToPixelRect(int left, int top, int width, int height) {
    return QRect(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
}
} // namespace Twips
