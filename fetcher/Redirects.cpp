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
        return {QUrl(), QStringLiteral("Too many redirects")};
    const QUrl target = from.resolved(QUrl::fromEncoded(location.trimmed()));
    const QString scheme = target.scheme().toLower();
    if (scheme != Http && scheme != Https)
        return {QUrl(), QStringLiteral("Protocol \"%1\" is unknown").arg(target.scheme())};
    if (from.scheme().compare(Https, Qt::CaseInsensitive) == 0 && scheme == Http)
        return {QUrl(), QStringLiteral("Insecure redirect")};
    return {target, QString()};
}

} // namespace Redirects
