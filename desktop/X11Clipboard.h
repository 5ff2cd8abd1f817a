#pragma once
#include <QByteArray>
#include <QString>
#include <chrono>

// The X11 clipboard read over a connection of its own, so that it can run on any thread and an
// owner that never answers holds up only the caller, for at most the time limit.
namespace X11Clipboard {
// The text of the CLIPBOARD selection on `display` ($DISPLAY when empty); empty text when the
// clipboard holds no text, nobody owns it, or the owner does not answer within `limit`.
QString Text(const QByteArray& display, std::chrono::milliseconds limit);
} // namespace X11Clipboard
