#pragma once
#include "ByteSize.h"

#include <QString>

namespace modNabrix {
// The address of a video page shown in the user's browser, or empty text.
QString GetBrowserVideoUrl();

// Why a file operation failed (`error` is the system's errno), in plain words.
QString FileErrorText(int error, const QString& clientText);
} // namespace modNabrix
