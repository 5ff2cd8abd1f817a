#include "SegmentFetch.h"

#include "CurlTransfer.h"
#include "Retries.h"
#include "Transfer.h"

#include <QDateTime>

namespace {

QString StatusText(int status, const QByteArray& reason) {
    const QString phrase = QString::fromLatin1(reason).trimmed();
    return phrase.isEmpty() ? QString::number(status) : QString::number(status) + ' ' + phrase;
}

bool IsSuccess(int status) {
    return status >= 200 && status < 300;
}

} // namespace

SegmentFetch::SegmentFetch(const Streams::Segment& piece, const Settings& settings, QObject* parent)
    : QObject(parent), piece_(piece), settings_(settings) {
    stall_.setSingleShot(true);
    stall_.setInterval(settings.stallTimeoutMs);
    retryWait_.setSingleShot(true);
    connect(&stall_, &QTimer::timeout, this,
            [this] { Broke(QStringLiteral("the server sent nothing")); });
    connect(&retryWait_, &QTimer::timeout, this, &SegmentFetch::Start);
}

SegmentFetch::~SegmentFetch() {
    Abort();
}

void SegmentFetch::Start() {
    if (piece_.IsRange())
        StartRange();
    else
        StartWhole();
}

void SegmentFetch::Abort() {
    stall_.stop();
    retryWait_.stop();
    DropTries();
}

void SegmentFetch::DropTries() {
    for (QObject* dropped :
         {static_cast<QObject*>(whole_.data()), static_cast<QObject*>(range_.data())}) {
        if (!dropped)
            continue;
        disconnect(dropped, nullptr, this, nullptr);
        if (auto* transfer = qobject_cast<Transfer*>(dropped))
            transfer->Abort();
        if (auto* curl = qobject_cast<CurlTransfer*>(dropped))
            curl->Abort();
        dropped->deleteLater();
    }
    whole_ = nullptr;
    range_ = nullptr;
}

bool SegmentFetch::TakeBytes(const char* data, qint64 size) {
    if (skip_ > 0) {
        const qint64 skipped = std::min(skip_, size);
        skip_ -= skipped;
        data += skipped;
        size -= skipped;
    }
    const qint64 wanted = piece_.IsRange() ? piece_.length - body_.size() : size;
    const qint64 kept = std::min(size, wanted);
    if (body_.size() + kept > settings_.maxBytes) {
        tooLarge_ = true;
        return false;
    }
    body_.append(data, kept);
    // The rest of a whole file sent for a range is not needed.
    return !piece_.IsRange() || body_.size() < piece_.length;
}

void SegmentFetch::StartWhole() {
    body_.clear();
    Transfer::Request request;
    request.url = piece_.url;
    request.headers = settings_.headers;
    request.followRedirects = true;
    request.maxRetries = settings_.maxRetries;
    whole_ = new Transfer(request, this);
    whole_->setStallTimeout(settings_.stallTimeoutMs);
    whole_->setRetryWait(settings_.retryWaitMs);
    whole_->SetSink([this](const char* data, qint64 size) { return TakeBytes(data, size); });
    whole_->SetBodyStart([this](qint64 offset) { body_.truncate(offset); });
    connect(whole_, &Transfer::ResponseStarted, this, [this] {
        // An error page is no segment: it ends the fetch before its body arrives.
        if (!IsSuccess(whole_->Status()))
            Finish(StatusText(whole_->Status(), whole_->ReasonPhrase()));
    });
    connect(whole_, &Transfer::Written, this, &SegmentFetch::Progressed);
    connect(whole_, &Transfer::Finished, this, [this] {
        if (tooLarge_)
            Finish(QStringLiteral("it is larger than a segment can be"));
        else if (whole_->Result().failure == TransferResult::Failure::TimedOut)
            Finish(QStringLiteral("the server sent nothing for %1 seconds")
                       .arg(settings_.stallTimeoutMs / 1000));
        else if (!whole_->Result().Whole())
            Finish(whole_->Result().clientText.isEmpty() ? QStringLiteral("the connection failed")
                                                         : whole_->Result().clientText);
        else if (!IsSuccess(whole_->Status()))
            Finish(StatusText(whole_->Status(), whole_->ReasonPhrase()));
        else
            Arrived(whole_->Header("Content-Type"));
    });
    whole_->Start();
}

void SegmentFetch::StartRange() {
    body_.clear();
    skip_ = 0;
    Http::Headers headers = settings_.headers;
    headers.append({"Range", "bytes=" + QByteArray::number(piece_.offset) + '-' +
                                 QByteArray::number(piece_.offset + piece_.length - 1)});
    range_ = new CurlTransfer(piece_.url, headers, 64 * 1024, this);
    range_->SetSink([this](const char* data, qint64 size) { return TakeBytes(data, size); });
    connect(range_, &CurlTransfer::ResponseStarted, this, &SegmentFetch::RangeStarted);
    connect(range_, &CurlTransfer::Written, this, [this] {
        stall_.start();
        emit Progressed();
    });
    connect(range_, &CurlTransfer::Finished, this, &SegmentFetch::RangeFinished);
    range_->Start();
    stall_.start();
}

void SegmentFetch::RangeStarted() {
    stall_.start();
    const int status = range_->Status();
    if (Retries::IsRetryableStatus(status)) {
        Broke(StatusText(status, range_->ReasonPhrase()),
              Http::RetryAfterSeconds(range_->Header("Retry-After"),
                                      QDateTime::currentDateTimeUtc()));
        return;
    }
    if (status == 200) {
        // A server that keeps no ranges sends the whole file: the range is cut out of it.
        skip_ = piece_.offset;
        return;
    }
    const auto range = Http::ParseContentRange(range_->Header("Content-Range"));
    if (status != 206) {
        Finish(StatusText(status, range_->ReasonPhrase()));
    } else if (!range || range->first != piece_.offset ||
               range->last != piece_.offset + piece_.length - 1) {
        Finish(QStringLiteral("the server sent another part of the file"));
    }
}

void SegmentFetch::RangeFinished() {
    stall_.stop();
    if (tooLarge_) {
        Finish(QStringLiteral("it is larger than a segment can be"));
    } else if (range_->IsRedirect()) {
        Finish(StatusText(range_->Status(), range_->ReasonPhrase()));
    } else if (body_.size() == piece_.length) {
        Arrived(range_->Header("Content-Type"));
    } else {
        const QString why = range_->ErrorString();
        Broke(why.isEmpty() ? QStringLiteral("the connection broke off") : why);
    }
}

void SegmentFetch::Broke(const QString& why, std::optional<qint64> retryAfterSeconds) {
    stall_.stop();
    DropTries();
    if (retries_ >= settings_.maxRetries) {
        Finish(why);
        return;
    }
    ++retries_;
    retryWait_.start(int(Retries::WaitMs(retries_, settings_.retryWaitMs, retryAfterSeconds)));
}

void SegmentFetch::Arrived(const QByteArray& contentType) {
    const QString why = check_ ? check_(body_, contentType) : QString();
    if (why.isEmpty())
        Finish(QString());
    else
        Broke(why);
}

void SegmentFetch::Finish(const QString& error) {
    Abort();
    if (!error.isEmpty())
        body_.clear();
    finished_ = true;
    error_ = error;
    emit Finished();
}
