#include "Nabrix.h"

void Nabrix::DownloadOffer(const MediaOffer& offer) {
    emit DownloadError(QStringLiteral("Downloading the video of %1 is not possible yet")
                           .arg(offer.page.toDisplayString()));
}
