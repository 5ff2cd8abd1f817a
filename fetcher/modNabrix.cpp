#include "modNabrix.h"
#include "BrowserPickup.h"
#include "FirefoxSource.h"
#include <chrono>
#include <memory>

namespace modNabrix {

QString FormatByteSize(qint32 count) { return QString::number(count) + QStringLiteral(" bytes"); }

QString GetBrowserVideoUrl() {
    // Read on a worker thread: a hung display server or a huge session file must not hold the
    // window for a second or more; late answers are dropped.
    constexpr std::chrono::milliseconds kLimit(900);
    return BrowserPickup::VideoPageUrlWithin(std::make_shared<FirefoxSource>(), kLimit);
}

} // namespace modNabrix
