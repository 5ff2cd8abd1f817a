#pragma once
#include "ByteSize.h"

#include <QNetworkReply>
#include <QString>
#include <QUrl>

namespace modNabrix {
// The address of a video page shown in the user's browser, or empty text.
QString GetBrowserVideoUrl();

// What went wrong with a request to `address` (sent through an HTTP proxy when `viaProxy`), in
// words a user understands and with what to do about it; `clientText` (the network library's
// own words) where there is nothing better.
QString TransferErrorText(QNetworkReply::NetworkError error, const QUrl& address, bool viaProxy,
                          const QString& clientText);
// Why a file operation failed (`error` is the system's errno), in plain words.
QString FileErrorText(int error, const QString& clientText);
} // namespace modNabrix
