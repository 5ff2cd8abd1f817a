#include "Redirects.h"

namespace Redirects {

namespace {
const QString Http = QStringLiteral("http");
const QString Https = QStringLiteral("https");
} // namespace

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 ||
           status == 308;
}

Hop Next(const QUrl& from, const QByteArray& location, int hopsTaken) {
    if (hopsTaken >= MaxHops)
        return {QUrl(), Hop::Refusal::TooManyHops};
    const QUrl target = from.resolved(QUrl::fromEncoded(location.trimmed()));
    const QString scheme = target.scheme().toLower();
    const bool fromHttps = from.scheme().compare(Https, Qt::CaseInsensitive) == 0;
    if ((scheme != Http && scheme != Https) || (fromHttps && scheme == Http))
        return {QUrl(), Hop::Refusal::LessSafeScheme};
    return {target, Hop::Refusal::None};
}

} // namespace Redirects
