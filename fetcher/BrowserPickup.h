#pragma once
#include "BrowserSource.h"
#include <QString>
#include <chrono>
#include <memory>

// Picks up the address of a video page that the user's browser shows. Only the first browser
// window is looked at. A page of the video service is taken when its title marks it as a video;
// an http(s) page of any other site is taken as it is. Every failure gives the empty text.
namespace BrowserPickup {

// The video page address that the browser's first window shows, or empty text.
QString VideoPageUrl(BrowserSource& browser);

// VideoPageUrl run on a worker thread; gives empty text when the browser does not answer within
// the time limit (a hung display server, a huge session file). The worker keeps the source
// alive and finishes on its own.
QString VideoPageUrlWithin(std::shared_ptr<BrowserSource> browser, std::chrono::milliseconds limit);

} // namespace BrowserPickup
