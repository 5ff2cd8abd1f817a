#pragma once
#include <QString>

namespace modNabrix {
// A byte count as a short size text: three significant digits, units of 1024.
QString FormatByteSize(qint32 count);
// The address of a video page shown in the user's browser, or empty text.
QString GetBrowserVideoUrl();
} // namespace modNabrix
