#pragma once
#include <QString>
#include <QUrl>

// How a transfer ended: the answer's status, and when the answer did not arrive whole, what
// went wrong and the transfer's own short words for it.
struct TransferResult {
    enum class Failure {
        None,
        UnsupportedAddress, // no http:// address
        HostNotFound,
        ConnectionRefused,
        ConnectionClosed, // the answer broke off
        TimedOut,         // nothing arrived for the stall time
        SecureConnectionFailed,
        TooManyRedirects,
        UnsafeRedirect,
        AnswerUnreadable,
        ProxyNotFound,
        ProxyAuthenticationRequired,
        Other,
    };

    int status = 0;
    Failure failure = Failure::None;
    // Whether the request went through an HTTP proxy: its connection failures are the proxy's.
    bool viaProxy = false;
    // libcurl's or the transfer's own words; empty when nothing went wrong.
    QString clientText;

    bool Whole() const { return failure == Failure::None; }
    // What went wrong with a request to `address`, in words a user understands and with what
    // to do about it; the client's words where there is nothing better.
    QString Words(const QUrl& address) const;
};
