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

QString TransferErrorText(QNetworkReply::NetworkError error, const QUrl& address, bool viaProxy,
                          const QString& clientText) {
    const QString host = address.host();
    const QString checkProxy = QStringLiteral(" Check the proxy settings (http_proxy).");
    // Through an HTTP proxy the connection is the proxy's: its failures are reported as if the
    // server had failed.
    if (viaProxy) {
        switch (error) {
        case QNetworkReply::ConnectionRefusedError:
            error = QNetworkReply::ProxyConnectionRefusedError;
            break;
        case QNetworkReply::HostNotFoundError:
            error = QNetworkReply::ProxyNotFoundError;
            break;
        default:
            break;
        }
    }
    switch (error) {
    case QNetworkReply::ProtocolUnknownError:
        if (address.scheme().isEmpty())
            return QStringLiteral("The address must begin with \"http://\". Type the whole "
                                  "address of the video page, for example "
                                  "http://www.youtube.com/watch?v=...");
        return QStringLiteral("Only addresses that begin with \"http://\" can be downloaded, "
                              "not \"%1:\". Type the address of the video page with "
                              "\"http://\" in front.")
            .arg(address.scheme());
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The server \"%1\" could not be found. Check the address and "
                              "that this computer is connected to the internet.")
            .arg(host);
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("The server \"%1\" refused the connection. Try again later.")
            .arg(host);
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("The server closed the connection before everything had "
                              "arrived. Try again.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The server did not answer in time. Try again later.");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("No secure connection to the server \"%1\" could be made.").arg(host);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return QStringLiteral("The network cannot be reached. Check that this computer is "
                              "connected to the internet.");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("The server sent the download on to too many or to unsafe "
                              "addresses.");
    case QNetworkReply::ProxyConnectionRefusedError:
        return QStringLiteral("The proxy server refused the connection.") + checkProxy;
    case QNetworkReply::ProxyConnectionClosedError:
        return QStringLiteral("The proxy server closed the connection.") + checkProxy;
    case QNetworkReply::ProxyNotFoundError:
        return QStringLiteral("The proxy server could not be found.") + checkProxy;
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("The proxy server did not answer in time.") + checkProxy;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("The proxy server asks for a user name and password.") + checkProxy;
    default:
        return clientText;
    }
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
