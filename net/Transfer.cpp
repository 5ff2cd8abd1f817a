#include "Transfer.h"

#include "Redirects.h"
#include "Retries.h"

#include <QDateTime>
#include <QLoggingCategory>

namespace {

// Off unless QT_LOGGING_RULES switches them on ("vantelo.net.*.debug=true").
Q_LOGGING_CATEGORY(lcRedirect, "vantelo.net.redirect", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStall, "vantelo.net.stall", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRetry, "vantelo.net.retry", QtWarningMsg)

const QString Unreadable = QStringLiteral("The server's answer could not be read");

bool IsSuccess(int status) {
    return status >= 200 && status < 300;
}

// Failures of the way to the server rather than of the server's answer: they pass.
bool IsPassingNetworkError(TransferResult::Failure error) {
    switch (error) {
    case TransferResult::Failure::ConnectionRefused:
    case TransferResult::Failure::HostNotFound:
    case TransferResult::Failure::TimedOut:
    case TransferResult::Failure::ConnectionClosed:
        return true;
    default:
        return false;
    }
}

} // namespace

Transfer::Transfer(const Request& request, QObject* parent)
    : QObject(parent), request_(request), url_(request.url) {
    stall_.setSingleShot(true);
    stall_.setInterval(30000);
    retryWait_.setSingleShot(true);
    connect(&stall_, &QTimer::timeout, this, &Transfer::TryStalled);
    connect(&retryWait_, &QTimer::timeout, this, &Transfer::SendTry);
}

Transfer::~Transfer() {
    Abort();
}

void Transfer::setStallTimeout(int milliseconds) {
    stall_.setInterval(milliseconds);
}

void Transfer::Start() {
    running_ = true;
    // Bytes from an earlier transfer are continued only when it is known what they belong to.
    const bool resumable = request_.resumeFrom > 0 && !request_.resumeValidator.isEmpty() &&
                           request_.resumeTotal > request_.resumeFrom;
    rangeFrom_ = resumable ? request_.resumeFrom : 0;
    received_ = rangeFrom_;
    validator_ = resumable ? request_.resumeValidator : QByteArray();
    SendTry();
}

void Transfer::Abort() {
    running_ = false;
    stall_.stop();
    retryWait_.stop();
    DropTry();
}

void Transfer::DropTry() {
    if (!try_)
        return;
    CurlTransfer* dropped = try_;
    try_ = nullptr;
    disconnect(dropped, nullptr, this, nullptr);
    dropped->Abort();
    dropped->deleteLater();
}

void Transfer::SendTry() {
    if (!running_)
        return;
    Http::Headers headers = request_.headers;
    if (rangeFrom_ > 0) {
        headers.append({"Range", "bytes=" + QByteArray::number(rangeFrom_) + '-'});
        headers.append({"If-Range", validator_});
    }
    try_ = new CurlTransfer(url_, headers, request_.bufferSize, this);
    try_->SetSink([this](const char* data, qint64 size) { return !sink_ || sink_(data, size); });
    connect(try_, &CurlTransfer::ResponseStarted, this, &Transfer::TryStarted);
    connect(try_, &CurlTransfer::Written, this, &Transfer::TryWritten);
    connect(try_, &CurlTransfer::Finished, this, &Transfer::TryFinished);
    try_->Start();
    stall_.start();
}

void Transfer::TryStarted() {
    stall_.start();
    viaProxy_ = try_->ViaProxy();
    status_ = try_->Status();
    reason_ = try_->ReasonPhrase();
    headers_ = try_->ResponseHeaders();
    if (Retries::IsRetryableStatus(status_) && retries_ < request_.maxRetries) {
        Broke(TransferResult::Failure::None, QString(),
              Http::RetryAfterSeconds(Header("Retry-After"), QDateTime::currentDateTimeUtc()));
        return;
    }
    // The server will not continue the bytes held: they may be another file's.
    if (status_ == 416 && StartOver())
        return;
    if (!IsSuccess(status_)) {
        // The first answer's status is the receiver's to judge; a later try that is refused
        // ends the transfer with that status.
        if (started_) {
            Finish(TransferResult::Failure::None, QString());
            return;
        }
        started_ = true;
        emit ResponseStarted();
        return;
    }
    const qint64 offset = BodyOffset();
    if (offset < 0) {
        qCDebug(lcRetry) << url_.toString() << "answer" << status_ << "does not continue at"
                         << rangeFrom_ << "Content-Range" << Header("Content-Range");
        if (StartOver())
            return;
        if (started_)
            Finish(breakError_, breakText_);
        else
            Finish(TransferResult::Failure::AnswerUnreadable, Unreadable);
        return;
    }
    TakeLength(offset);
    bodyOffset_ = offset;
    received_ = offset;
    if (offset == 0)
        validator_ = Http::ResumeValidator(headers_);
    if (bodyStart_)
        bodyStart_(offset);
    if (!started_) {
        started_ = true;
        emit ResponseStarted();
    }
}

bool Transfer::StartOver() {
    if (rangeFrom_ == 0 || rangeDropped_)
        return false;
    // Once per transfer: a server that keeps refusing the whole file is not asked for ever.
    rangeDropped_ = true;
    qCDebug(lcRetry) << url_.toString() << "answer" << status_ << "refuses the range from byte"
                     << rangeFrom_ << "Content-Range" << Header("Content-Range")
                     << "- starting over from byte 0";
    DropTry();
    rangeFrom_ = 0;
    received_ = 0;
    validator_.clear();
    SendTry();
    return true;
}

qint64 Transfer::BodyOffset() const {
    if (rangeFrom_ == 0)
        return status_ == 206 ? -1 : 0;
    // If-Range went with the range: a whole file means the file has changed.
    if (status_ == 200)
        return 0;
    if (status_ != 206)
        return -1;
    const auto range = Http::ParseContentRange(Header("Content-Range"));
    const qint64 expected = length_ >= 0 ? length_ : request_.resumeTotal;
    const Http::BodyLength body = try_->BodyLength();
    const bool lengthAgrees = body.kind == Http::BodyLength::Kind::Absent ||
                              (body.kind == Http::BodyLength::Kind::Known && range &&
                               body.bytes == range->last - range->first + 1);
    if (!range || range->first != rangeFrom_ || range->total < 0 ||
        range->last != range->total - 1 || (expected >= 0 && range->total != expected) ||
        !lengthAgrees)
        return -1;
    return rangeFrom_;
}

void Transfer::TakeLength(qint64 offset) {
    if (offset > 0) {
        length_ = Http::ParseContentRange(Header("Content-Range"))->total;
        lengthInvalid_ = false;
        return;
    }
    const Http::BodyLength body = try_->BodyLength();
    lengthInvalid_ = body.kind == Http::BodyLength::Kind::Invalid;
    length_ = body.kind == Http::BodyLength::Kind::Known ? body.bytes : -1;
}

void Transfer::TryWritten(qint64 bodyBytes) {
    stall_.start();
    received_ = bodyOffset_ + bodyBytes;
    emit Written(received_);
}

void Transfer::TryFinished() {
    stall_.stop();
    CurlTransfer* finished = try_;
    viaProxy_ = finished->ViaProxy();
    const TransferResult::Failure error = finished->Error();
    if (error == TransferResult::Failure::ConnectionClosed) {
        Broke(error, finished->ErrorString());
        return;
    }
    if (error != TransferResult::Failure::None) {
        // Once the body has broken off, a network on its way back (a server restarting, a
        // link coming up again) is waited for like the break itself.
        if (retries_ > 0 && IsPassingNetworkError(error))
            Broke(error, finished->ErrorString());
        else
            Finish(error, finished->ErrorString());
        return;
    }
    if (finished->IsRedirect()) {
        status_ = finished->Status();
        reason_ = finished->ReasonPhrase();
        headers_ = finished->ResponseHeaders();
        if (!request_.followRedirects) {
            redirect_ = true;
            Finish(TransferResult::Failure::None, QString());
            return;
        }
        const Redirects::Hop hop = Redirects::Next(url_, Header("Location"), redirects_);
        qCDebug(lcRedirect) << url_.toString() << "->" << hop.target.toString() << "hop"
                            << redirects_ + 1 << "refused" << int(hop.refusal);
        if (hop.refusal != Redirects::Hop::Refusal::None) {
            Finish(hop.refusal == Redirects::Hop::Refusal::TooManyHops
                       ? TransferResult::Failure::TooManyRedirects
                       : TransferResult::Failure::UnsafeRedirect,
                   QString());
            return;
        }
        ++redirects_;
        url_ = hop.target;
        DropTry();
        SendTry();
        return;
    }
    // A body whose end nobody can tell may be cut short: it is never taken as whole.
    if (IsSuccess(status_) && lengthInvalid_) {
        Finish(TransferResult::Failure::AnswerUnreadable, Unreadable);
        return;
    }
    // A body that ends before the known length broke off, whether or not the answer said how
    // long it is itself (a range closed by the connection); one past it is no such file.
    if (IsSuccess(status_) && length_ >= 0 && received_ != length_) {
        if (received_ > length_)
            Finish(TransferResult::Failure::AnswerUnreadable, Unreadable);
        // A receiver that refused the body (a file it cannot write) would refuse it again.
        else if (finished->SinkStopped())
            Finish(TransferResult::Failure::ConnectionClosed, finished->ErrorString());
        else
            Broke(TransferResult::Failure::ConnectionClosed, finished->ErrorString());
        return;
    }
    Finish(TransferResult::Failure::None, QString());
}

void Transfer::TryStalled() {
    qCDebug(lcStall) << url_.toString() << "sent nothing for" << stall_.interval() << "ms";
    Broke(TransferResult::Failure::TimedOut, QString());
}

void Transfer::Broke(TransferResult::Failure error, const QString& text,
                     std::optional<qint64> retryAfterSeconds) {
    DropTry();
    stall_.stop();
    if (retries_ >= request_.maxRetries) {
        Finish(error, text);
        return;
    }
    breakError_ = error;
    breakText_ = text;
    ++retries_;
    // Without a validator a range could splice two different files: the retry asks for all.
    rangeFrom_ = received_ > 0 && !validator_.isEmpty() ? received_ : 0;
    const qint64 wait = Retries::WaitMs(retries_, retryWaitMs_, retryAfterSeconds);
    qCDebug(lcRetry) << url_.toString() << "retry" << retries_ << "in" << wait << "ms from byte"
                     << rangeFrom_ << "after" << int(error) << text << "status" << status_;
    retryWait_.start(int(wait));
    emit RetryWaiting(wait, retries_, request_.maxRetries);
}

void Transfer::Finish(TransferResult::Failure error, const QString& text) {
    DropTry();
    stall_.stop();
    retryWait_.stop();
    running_ = false;
    failure_ = error;
    failureText_ = text;
    emit Finished();
}
