#pragma once
#include "HttpHeaders.h"
#include "StreamPlan.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

class CurlTransfer;
class Transfer;

// One piece of a stream in pieces (a segment, an initialisation segment or a key) fetched into
// memory, tried again like a broken stream. A whole file goes through a Transfer (redirects,
// retries continuing with If-Range); a byte range of a file is asked for with a Range header
// of its own and tried again whole.
class SegmentFetch : public QObject {
    Q_OBJECT
public:
    struct Settings {
        Http::Headers headers;
        int maxRetries = 5;
        int retryWaitMs = 1000;
        int stallTimeoutMs = 30000;
        // A piece larger than this is refused rather than held.
        qint64 maxBytes = 512 * 1024 * 1024;
    };

    // Takes a whole body and the answer's Content-Type: readies the bytes (decrypts them) and
    // says why they are no piece of the stream, or nothing. A body refused is fetched again
    // like one that broke off.
    using Check = std::function<QString(QByteArray& body, const QByteArray& contentType)>;

    SegmentFetch(const Streams::Segment& piece, const Settings& settings,
                 QObject* parent = nullptr);
    ~SegmentFetch() override;

    void SetCheck(Check check) { check_ = std::move(check); }

    void Start();
    void Abort();

    // Once finished: the bytes, or why there are none ("404 Not Found").
    bool Ok() const { return finished_ && error_.isEmpty(); }
    QString ErrorString() const { return error_; }
    QByteArray TakeBody() { return std::move(body_); }
    // Bytes held so far (fewer again when a try starts over).
    qint64 Received() const { return body_.size(); }

signals:
    void Progressed();
    void Finished();

private:
    void StartWhole();
    void StartRange();
    bool TakeBytes(const char* data, qint64 size);
    void RangeStarted();
    void RangeFinished();
    // A try that broke: another after the wait, or the end.
    void Broke(const QString& why, std::optional<qint64> retryAfterSeconds = std::nullopt);
    // A body that arrived whole: taken, or refused by the check.
    void Arrived(const QByteArray& contentType);
    void Finish(const QString& error);
    void DropTries();

    Streams::Segment piece_;
    Settings settings_;
    Check check_;
    QPointer<Transfer> whole_;
    QPointer<CurlTransfer> range_;
    QTimer stall_;
    QTimer retryWait_;
    int retries_ = 0;
    // Bytes of the answer to skip (a server that sent the whole file for a range) and to keep.
    qint64 skip_ = 0;
    QByteArray body_;
    bool tooLarge_ = false;
    bool finished_ = false;
    QString error_;
};
