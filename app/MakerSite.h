#pragma once
#include <QString>

// The maker's web site and the video service that the windows refer to.
namespace MakerSite {
inline const QString HomePage = QStringLiteral("http://www.morvane.com/");
inline const QString ProductPage = QStringLiteral("http://www.morvane.com/products/vantelo.html");
inline const QString AdsPage = QStringLiteral("http://www.morvane.com/ads.html");

// The video service's domain; a clipboard text must contain it to be pasted as an address.
inline const QString VideoServiceDomain = QStringLiteral("youtube.com");
inline const QString SampleVideoPage = QStringLiteral("http://www.youtube.com/watch?v=dQw4w9WgXcQ");
} // namespace MakerSite
