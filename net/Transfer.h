#pragma once
#include "CurlTransfer.h"
#include "HttpHeaders.h"
#include "TransferResult.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>

// One file fetched over HTTP: a request goes in, events come out (the answer started, pieces
// of the body written, the end), and the result stays to be read: status, length, validator,
// bytes received, what went wrong. Underneath are one or more tries (CurlTransfer): one per
// redirect hop when redirects are followed, and one per retry when the body breaks off.
//
// A retry asks for the rest of the file (Range from the bytes in the sink) only when the first
// answer named a validator, and sends it in If-Range: an answer 206 that continues exactly
// there is appended, an answer 200 (the file changed) starts the sink over. A range refused
// (416) or answered with other bytes is dropped once, and the whole file asked for again. A
// body shorter than the file's known length is a break. The receiver sees one answer start,
// one run of pieces and one end.
class Transfer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QUrl url;
        Http::Headers headers;
        // The most of the body held at a time: one buffer of this size.
        qint64 bufferSize = 64 * 1024;
        bool followRedirects = false;
        int maxRetries = 0;
        // Bytes of the file the sink already holds from an earlier transfer, the validator of
        // that file and its whole length: asked for from there on when all three are known.
        qint64 resumeFrom = 0;
        QByteArray resumeValidator;
        qint64 resumeTotal = -1;
    };
    using Sink = CurlTransfer::Sink;
    // The body about to go into the sink starts at this byte of the file; what the sink holds
    // from there on is to be dropped (0: start the file over).
    using BodyStart = std::function<void(qint64 offset)>;

    explicit Transfer(const Request& request, QObject* parent = nullptr);
    ~Transfer() override;

    void SetSink(Sink sink) { sink_ = std::move(sink); }
    void SetBodyStart(BodyStart bodyStart) { bodyStart_ = std::move(bodyStart); }
    // A try that receives nothing for this long is given up as stalled (30 seconds unless set).
    void setStallTimeout(int milliseconds);
    // The unit of the waits between tries (1 second unless set; see Retries).
    void setRetryWait(int milliseconds) { retryWaitMs_ = milliseconds; }

    // Sends the request; the signals follow from the event loop.
    void Start();
    // Stops the transfer for good: no signal comes any more.
    void Abort();

    // Where the last try went (after the redirects followed).
    QUrl Url() const { return url_; }
    bool ViaProxy() const { return viaProxy_; }
    int Status() const { return status_; }
    QByteArray ReasonPhrase() const { return reason_; }
    QByteArray Header(const QByteArray& name) const { return Http::Value(headers_, name); }
    // A redirect answer that was not followed (its body is dropped).
    bool IsRedirect() const { return redirect_; }
    // The whole file's length (Content-Length, or the total of a Content-Range); -1 unknown.
    qint64 Length() const { return length_; }
    // The answer announced a length that is no count of bytes: where its body ends is unknown.
    bool LengthInvalid() const { return lengthInvalid_; }
    // Bytes of the file in the sink, counted from its start.
    qint64 Received() const { return received_; }
    // What If-Range sends to continue this file: its strong ETag, else its Last-Modified.
    QByteArray Validator() const { return validator_; }
    int RetriesMade() const { return retries_; }
    // Once finished: the status, and for an answer that did not arrive whole (whatever its
    // status) what went wrong (TimedOut: the last try stalled).
    TransferResult Result() const { return {status_, failure_, viaProxy_, failureText_}; }

signals:
    // The first answer that is used: status, headers and length are known, no body yet.
    void ResponseStarted();
    // A piece of the body went into the sink, which now holds `received` bytes of the file.
    void Written(qint64 received);
    // The body broke off and is tried again after `waitMs`: try `retry` of `maxRetries`.
    void RetryWaiting(qint64 waitMs, int retry, int maxRetries);
    // The transfer ended (see Result).
    void Finished();

private:
    void SendTry();
    void TryStarted();
    void TryWritten(qint64 bodyBytes);
    void TryFinished();
    void TryStalled();
    // The answer refused the range asked for: the range is dropped and the whole file asked
    // for, once per transfer. False when there is nothing to drop or it was dropped already.
    bool StartOver();
    // Where this answer's body starts in the file, or -1 when it cannot go on the sink's bytes.
    qint64 BodyOffset() const;
    void TakeLength(qint64 offset);
    // The body broke off or the server said "not now": another try, or the end.
    void Broke(TransferResult::Failure error, const QString& text,
               std::optional<qint64> retryAfterSeconds = std::nullopt);
    void Finish(TransferResult::Failure error, const QString& text);
    void DropTry();

    Request request_;
    QUrl url_;
    QPointer<CurlTransfer> try_;
    Sink sink_;
    BodyStart bodyStart_;
    QTimer stall_;
    QTimer retryWait_;
    qint64 retryWaitMs_ = 1000;
    bool running_ = false;
    bool started_ = false;
    int redirects_ = 0;
    int retries_ = 0;
    // The byte the current try asked to start from (0: the whole file).
    qint64 rangeFrom_ = 0;
    bool rangeDropped_ = false;
    // Why the last try broke, for when the retries end on an answer that cannot be used.
    TransferResult::Failure breakError_ = TransferResult::Failure::None;
    QString breakText_;

    bool viaProxy_ = false;
    int status_ = 0;
    QByteArray reason_;
    Http::Headers headers_;
    bool redirect_ = false;
    qint64 length_ = -1;
    bool lengthInvalid_ = false;
    qint64 received_ = 0;
    // Where the body of the current answer starts in the file.
    qint64 bodyOffset_ = 0;
    QByteArray validator_;
    TransferResult::Failure failure_ = TransferResult::Failure::None;
    QString failureText_;
};
