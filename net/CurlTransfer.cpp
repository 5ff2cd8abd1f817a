#include "CurlTransfer.h"

#include "CurlLibrary.h"
#include "NetworkModule.h"
#include "Redirects.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>

namespace {

// Off unless QT_LOGGING_RULES switches them on ("vantelo.net.*.debug=true").
Q_LOGGING_CATEGORY(lcRequest, "vantelo.net.request", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStatus, "vantelo.net.status", QtWarningMsg)

} // namespace

CurlTransfer::CurlTransfer(const QUrl& address, const Headers& headers, qint64 bufferSize,
                           QObject* parent)
    : QObject(parent), url_(address), curl_(CurlLibrary::Load()) {
    errorText_.fill('\0', CURL_ERROR_SIZE);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    if (!curl_) {
        // Start reports it; the text stays within the error buffer's size.
        errorText_ = CurlLibrary::LoadError().toLocal8Bit().left(CURL_ERROR_SIZE - 1);
        return;
    }
    easy_ = curl_->easy_init();
    multi_ = curl_->multi_init();
    for (const auto& [name, value] : headers)
        headerList_ = curl_->slist_append(headerList_, (name + ": " + value).constData());
    const QByteArray encoded = address.toEncoded();
    curl_->easy_setopt(easy_, CURLOPT_URL, encoded.constData());
    curl_->easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    curl_->easy_setopt(easy_, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_->easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_->easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    // A proxy's answer to CONNECT is not the server's answer.
    curl_->easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_->easy_setopt(easy_, CURLOPT_BUFFERSIZE, long(bufferSize));
    // libcurl refuses an answer whose length is not a number of bytes, where the fetcher reads
    // such a body up to the end of the connection; so the length is counted here (OnBody).
    curl_->easy_setopt(easy_, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_->easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_.data());
    curl_->easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
    curl_->easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_->easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
    curl_->easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    SetProxy();
    curl_->multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlTransfer::OnSocketChange);
    curl_->multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_->multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlTransfer::OnTimerChange);
    curl_->multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

CurlTransfer::~CurlTransfer() {
    Abort();
    if (!curl_)
        return;
    curl_->multi_cleanup(multi_);
    curl_->easy_cleanup(easy_);
    curl_->slist_free_all(headerList_);
}

void CurlTransfer::SetProxy() {
    // Empty text for a direct connection also keeps libcurl from reading proxy variables of its
    // own.
    NetworkServices* network = NetworkModule::Services();
    if (!network) {
        // Without Qt's answer the request could go past the user's proxy: it does not go.
        errorText_ = NetworkModule::LoadError().toLocal8Bit().left(CURL_ERROR_SIZE - 1);
        proxyUnknown_ = true;
        return;
    }
    proxy_ = network->CurlProxyFor(url_);
    curl_->easy_setopt(easy_, CURLOPT_PROXY, proxy_.constData());
    // Qt's factory has already applied the exceptions (no_proxy); libcurl must not again.
    curl_->easy_setopt(easy_, CURLOPT_NOPROXY, "");
}

void CurlTransfer::Start() {
    qCDebug(lcRequest) << "GET" << url_.toString();
    running_ = true;
    const QString scheme = url_.scheme().toLower();
    if (!curl_ || proxyUnknown_)
        FinishSoon(CURLE_FAILED_INIT);
    // libcurl would guess a scheme for an address without one; this request has none.
    else if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        FinishSoon(CURLE_UNSUPPORTED_PROTOCOL);
    else {
        sent_ = true;
        curl_->multi_add_handle(multi_, easy_);
    }
}

void CurlTransfer::FinishSoon(int result) {
    done_ = true;
    result_ = result;
    QTimer::singleShot(0, this, [this] {
        if (running_)
            ReportProgress();
    });
}

void CurlTransfer::Abort() {
    if (!running_)
        return;
    running_ = false;
    timer_.stop();
    // libcurl drops the watches of the handle's sockets as it lets go of them; the rest go here.
    if (curl_)
        curl_->multi_remove_handle(multi_, easy_);
    for (const Watch& watch : std::as_const(watches_))
        for (QSocketNotifier* notifier : {watch.read, watch.write})
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
    watches_.clear();
}

bool CurlTransfer::HasHeader(const QByteArray& name) const {
    return Http::Has(responseHeaders_, name);
}

QByteArray CurlTransfer::Header(const QByteArray& name) const {
    return Http::Value(responseHeaders_, name);
}

bool CurlTransfer::IsRedirect() const {
    return Redirects::IsRedirectStatus(status_) && HasHeader("Location");
}

size_t CurlTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        // Each answer starts afresh: an interim answer, a proxy's, or the final one.
        // "HTTP/1.1 404 Not Found"
        const QList<QByteArray> parts = line.split(' ');
        transfer->status_ = parts.value(1).toInt();
        transfer->reason_ = parts.mid(2).join(' ').trimmed();
        transfer->responseHeaders_.clear();
        transfer->headersDone_ = false;
        transfer->received_ = 0;
    } else if (line.isEmpty()) {
        transfer->headersDone_ = transfer->status_ >= 200;
        transfer->bodyLength_ = Http::ContentLength(transfer->responseHeaders_);
        transfer->compressed_ = transfer->headersDone_ && transfer->status_ < 300 &&
                                Http::IsCompressed(transfer->Header("Content-Encoding"));
        transfer->announced_ = -1;
        if (transfer->headersDone_ && transfer->bodyLength_.kind == Http::BodyLength::Kind::Known)
            transfer->announced_ = transfer->bodyLength_.bytes;
        // An empty body has arrived with the headers; stop before libcurl waits for more.
        if (transfer->announced_ == 0) {
            transfer->bodyComplete_ = true;
            return 0;
        }
    } else if (const int colon = line.indexOf(':'); colon > 0) {
        transfer->responseHeaders_.append(
            {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return size * count;
}

size_t CurlTransfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    // The receiver decides where the body goes once it has seen the answer's start.
    if (!transfer->started_ && !transfer->IsRedirect()) {
        transfer->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // We ask for bodies as stored: a compressed one is not the file, and neither its length nor
    // a range of it counts the file's bytes. It is refused rather than kept as it came.
    if (transfer->compressed_) {
        transfer->compressedRefused_ = true;
        return 0;
    }
    // Nothing past the announced length belongs to the answer.
    qint64 taken = qint64(length);
    if (transfer->announced_ >= 0)
        taken = std::min(taken, transfer->announced_ - transfer->received_);
    transfer->received_ += taken;
    if (!transfer->IsRedirect() && taken > 0) {
        if (transfer->sink_ && !transfer->sink_(data, taken)) {
            transfer->sinkStopped_ = true;
            return 0;
        }
        transfer->written_.append(transfer->received_);
    }
    // The whole announced body is here: end the transfer rather than wait for the server to
    // close a connection it keeps open. libcurl reports that as a write error (see Error).
    if (transfer->received_ == transfer->announced_) {
        transfer->bodyComplete_ = true;
        return 0;
    }
    return length;
}

int CurlTransfer::OnSocketChange(void*, int socket, int what, void* self, void*) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    Watch& watch = transfer->watches_[socket];
    if (what == CURL_POLL_REMOVE) {
        // The notifier may be the one whose signal is being handled.
        for (QSocketNotifier* notifier : {watch.read, watch.write})
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        transfer->watches_.remove(socket);
        return 0;
    }
    const auto watchFor = [&](QSocketNotifier*& notifier, QSocketNotifier::Type type, int event,
                              bool wanted) {
        if (!notifier && wanted) {
            notifier = new QSocketNotifier(socket, type, transfer);
            QObject::connect(notifier, &QSocketNotifier::activated, transfer,
                             [transfer, socket, event] { transfer->Act(socket, event); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    watchFor(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN,
             what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watchFor(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT,
             what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlTransfer::OnTimerChange(void*, long milliseconds, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    if (milliseconds < 0)
        transfer->timer_.stop();
    else
        transfer->timer_.start(int(milliseconds));
    return 0;
}

void CurlTransfer::Act(int socket, int events) {
    if (!running_)
        return;
    int stillRunning = 0;
    curl_->multi_socket_action(multi_, socket, events, &stillRunning);
    while (CURLMsg* message = curl_->multi_info_read(multi_, &stillRunning)) {
        if (message->msg == CURLMSG_DONE) {
            done_ = true;
            result_ = message->data.result;
        }
    }
    ReportProgress();
}

void CurlTransfer::ReportProgress() {
    const QPointer<CurlTransfer> alive(this);
    const auto stillWanted = [&] { return alive && running_; };
    // An answer without a body starts as it ends; a failed connection never starts.
    const bool answered = headersDone_ || (done_ && result_ == CURLE_OK);
    if (answered && !started_ && !IsRedirect()) {
        started_ = true;
        emit ResponseStarted();
        if (!stillWanted())
            return;
        if (paused_) {
            // The body held back so far goes into the sink now; the transfer may end there.
            paused_ = false;
            const CURLcode result = curl_->easy_pause(easy_, CURLPAUSE_CONT);
            if (result != CURLE_OK) {
                done_ = true;
                result_ = result;
            }
        }
    }
    while (!written_.isEmpty()) {
        emit Written(written_.takeFirst());
        if (!stillWanted())
            return;
    }
    if (!done_ || paused_)
        return;
    running_ = false;
    timer_.stop();
    if (curl_)
        curl_->multi_remove_handle(multi_, easy_);
    qCDebug(lcStatus) << url_.toString() << "status" << status_ << "curl result" << int(result_);
    emit Finished();
}

TransferResult::Failure CurlTransfer::Error() const {
    if (compressedRefused_)
        return TransferResult::Failure::AnswerUnreadable;
    // A sink that stopped the transfer has its own reason.
    if (sinkStopped_ || bodyComplete_)
        return TransferResult::Failure::None;
    // libcurl does not know the length (see the constructor): an answer cut short ends as if
    // it were whole.
    if (result_ == CURLE_OK && announced_ >= 0 && received_ < announced_)
        return TransferResult::Failure::ConnectionClosed;
    if (AnswerUnreadable() || HeaderTooLong())
        return TransferResult::Failure::AnswerUnreadable;
    switch (result_) {
    case CURLE_OK:
        return TransferResult::Failure::None;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return TransferResult::Failure::UnsupportedAddress;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransferResult::Failure::ProxyNotFound;
    case CURLE_COULDNT_RESOLVE_HOST:
        return TransferResult::Failure::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return TransferResult::Failure::ConnectionRefused;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return TransferResult::Failure::ConnectionClosed;
    case CURLE_OPERATION_TIMEDOUT:
        return TransferResult::Failure::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return TransferResult::Failure::SecureConnectionFailed;
    default:
        return TransferResult::Failure::Other;
    }
}

QString CurlTransfer::ErrorString() const {
    if (Error() == TransferResult::Failure::None)
        return QString();
    if (compressedRefused_)
        return QStringLiteral("The server sent the answer compressed (%1), though it was asked "
                              "to send it as stored")
            .arg(QString::fromLatin1(Header("Content-Encoding").left(32)));
    if (result_ == CURLE_OK)
        return QStringLiteral("The connection closed before the whole answer had arrived");
    // libcurl's words for these name the wrong thing ("Out of memory", HTTP/0.9).
    if (HeaderTooLong())
        return QStringLiteral("The server sent a header line that is too long");
    if (AnswerUnreadable())
        return QStringLiteral("The server's answer could not be read");
    if (errorText_.constData()[0] != 0)
        return QString::fromLocal8Bit(errorText_.constData());
    if (!curl_)
        return QStringLiteral("%1 could not be loaded").arg(QLatin1String(CurlLibrary::kFileName));
    return QString::fromLatin1(curl_->easy_strerror(CURLcode(result_)));
}

bool CurlTransfer::AnswerUnreadable() const {
    // The request went out (Start refuses other schemes), so libcurl's refusal of the protocol
    // is its refusal of an answer without an HTTP status line.
    return sent_ && (result_ == CURLE_UNSUPPORTED_PROTOCOL || result_ == CURLE_WEIRD_SERVER_REPLY);
}

bool CurlTransfer::HeaderTooLong() const {
    // libcurl refuses a header past its limit by failing the allocation on purpose; later
    // versions have a code of their own for it (CURLE_TOO_LARGE, 100).
    return result_ == CURLE_OUT_OF_MEMORY || result_ == 100;
}
