#include "modNabrix.h"
#include "BrowserPickup.h"
#include "FirefoxSource.h"
#include <cerrno>
#include <chrono>
#include <memory>

namespace modNabrix {

QString GetBrowserVideoUrl() {
    // Read on a worker thread: a hung display server or a huge session file must not hold the
    // window for a second or more; late answers are dropped.
    constexpr std::chrono::milliseconds kLimit(900);
    return BrowserPickup::VideoPageUrlWithin(std::make_shared<FirefoxSource>(), kLimit);
}

QString FileErrorText(int error, const QString& clientText) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full. Make room on it and try again.");
    case ENOENT:
        return QStringLiteral("the output folder does not exist. Choose another one.");
    case EACCES:
    case EPERM:
        return QStringLiteral("you may not write into the output folder. Choose another one.");
    case EROFS:
        return QStringLiteral("the output folder cannot be written to. Choose another one.");
    case EISDIR:
        return QStringLiteral("a folder of that name is in the way.");
    case EFBIG:
        return QStringLiteral("the file is too large for this disk.");
    case ELOOP:
        return QStringLiteral("a link of that name is in the way.");
    case EEXIST:
        return QStringLiteral("something that is not a file has that name.");
    case ESTALE:
        return QStringLiteral("another file took its name while the video was written.");
    default:
        return clientText;
    }
}

} // namespace modNabrix
