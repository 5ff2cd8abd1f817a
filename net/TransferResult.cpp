#include "TransferResult.h"

namespace {

using Failure = TransferResult::Failure;

// Through an HTTP proxy the connection is the proxy's: its failures are reported as the proxy's.
QString ProxyWords(Failure failure) {
    const QString checkProxy = QStringLiteral(" Check the proxy settings (http_proxy).");
    switch (failure) {
    case Failure::ConnectionRefused:
        return QStringLiteral("The proxy server refused the connection.") + checkProxy;
    case Failure::HostNotFound:
    case Failure::ProxyNotFound:
        return QStringLiteral("The proxy server could not be found.") + checkProxy;
    case Failure::ProxyAuthenticationRequired:
        return QStringLiteral("The proxy server asks for a user name and password.") + checkProxy;
    default:
        return QString();
    }
}

} // namespace

QString TransferResult::Words(const QUrl& address) const {
    if (failure == Failure::ProxyNotFound || failure == Failure::ProxyAuthenticationRequired ||
        viaProxy) {
        const QString proxyWords = ProxyWords(failure);
        if (!proxyWords.isEmpty())
            return proxyWords;
    }
    const QString host = address.host();
    switch (failure) {
    case Failure::UnsupportedAddress:
        if (address.scheme().isEmpty())
            return QStringLiteral("The address must begin with \"http://\". Type the whole "
                                  "address of the video page, for example "
                                  "http://www.youtube.com/watch?v=...");
        return QStringLiteral("Only addresses that begin with \"http://\" can be downloaded, "
                              "not \"%1:\". Type the address of the video page with "
                              "\"http://\" in front.")
            .arg(address.scheme());
    case Failure::HostNotFound:
        return QStringLiteral("The server \"%1\" could not be found. Check the address and "
                              "that this computer is connected to the internet.")
            .arg(host);
    case Failure::ConnectionRefused:
        return QStringLiteral("The server \"%1\" refused the connection. Try again later.")
            .arg(host);
    case Failure::ConnectionClosed:
        return QStringLiteral("The server closed the connection before everything had "
                              "arrived. Try again.");
    case Failure::TimedOut:
        return QStringLiteral("The server did not answer in time. Try again later.");
    case Failure::SecureConnectionFailed:
        return QStringLiteral("No secure connection to the server \"%1\" could be made.").arg(host);
    case Failure::TooManyRedirects:
    case Failure::UnsafeRedirect:
        return QStringLiteral("The server sent the download on to too many or to unsafe "
                              "addresses.");
    default:
        return clientText;
    }
}
