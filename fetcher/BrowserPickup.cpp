#include "BrowserPickup.h"
#include "PageText.h"

#include <QUrl>
#include <future>
#include <system_error>
#include <thread>

namespace BrowserPickup {

namespace {
// The video service's home page carries this in its title; it is not a video.
const QString kHomePageMarker = QStringLiteral("YouTube - Broadcast Yourself");
// Every video page of the service carries this in its title.
const QString kVideoPageMarker = QStringLiteral("YouTube -");

bool IsVideoPageTitle(const QString& title) {
    if (title.contains(kHomePageMarker, Qt::CaseSensitive))
        return false;
    return title.contains(kVideoPageMarker, Qt::CaseSensitive);
}
bool IsWebPage(const QString& address) {
    const QUrl url(address);
    return !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}
} // namespace

QString VideoPageUrl(BrowserSource& browser) {
    const QString title = browser.FirstWindowTitle();
    if (title.isEmpty() || title.contains(kHomePageMarker, Qt::CaseSensitive))
        return QString();
    const QString shown = browser.ShownPageUrl(title);
    if (IsVideoPageTitle(title))
        return shown;
    // Pages of other sites are read for the video they show; the service's own pages only
    // when their title marks them as videos.
    if (PageText::IsVideoServiceAddress(shown) || !IsWebPage(shown))
        return QString();
    return shown;
}

QString VideoPageUrlWithin(std::shared_ptr<BrowserSource> browser,
                           std::chrono::milliseconds limit) {
    std::promise<QString> answer;
    std::future<QString> result = answer.get_future();
    try {
        std::thread([browser = std::move(browser), answer = std::move(answer)]() mutable {
            // Whatever goes wrong in the browser's data ends in empty text, never in a crash.
            try {
                answer.set_value(VideoPageUrl(*browser));
            } catch (...) {
                answer.set_value(QString());
            }
        }).detach();
    } catch (const std::system_error&) {
        return QString(); // no thread to spare: behave as if no browser were there
    }
    if (result.wait_for(limit) != std::future_status::ready)
        return QString();
    return result.get();
}

} // namespace BrowserPickup
