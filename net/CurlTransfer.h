#pragma once
#include "HttpHeaders.h"
#include "TransferResult.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>

class QSocketNotifier;
namespace CurlLibrary {
struct Api;
}

// One HTTP/1.1 GET with libcurl, driven by this thread's event loop: one try of a Transfer. The
// body goes straight from libcurl's buffer into the sink, a buffer at a time; the signals come
// afterwards, outside libcurl's callbacks, so their receivers may abort or replace the transfer.
// Redirects are not followed: a redirect answer finishes with its status and headers.
//
// The proxy is the one Qt's proxy factory names for the address, as for the program's other
// requests.
class CurlTransfer : public QObject {
    Q_OBJECT
public:
    using Headers = Http::Headers;
    // Takes a piece of the body; returns false to stop the transfer (the sink knows why).
    using Sink = std::function<bool(const char* data, qint64 size)>;

    CurlTransfer(const QUrl& address, const Headers& headers, qint64 bufferSize,
                 QObject* parent = nullptr);
    ~CurlTransfer() override;

    // Sends the request; the signals follow from the event loop.
    void Start();
    // Where the body goes once ResponseStarted has been raised.
    void SetSink(Sink sink) { sink_ = std::move(sink); }
    // Stops the transfer for good: no signal comes any more.
    void Abort();

    QUrl Url() const { return url_; }
    // Whether the request went through a proxy.
    bool ViaProxy() const { return !proxy_.isEmpty(); }
    int Status() const { return status_; }
    QByteArray ReasonPhrase() const { return reason_; }
    // The first header of that name (any letter case) of the final answer.
    bool HasHeader(const QByteArray& name) const;
    QByteArray Header(const QByteArray& name) const;
    const Headers& ResponseHeaders() const { return responseHeaders_; }
    // The body's length as the final answer announced it.
    Http::BodyLength BodyLength() const { return bodyLength_; }
    // A redirect answer: its body is dropped and it raises no ResponseStarted.
    bool IsRedirect() const;
    // The sink refused a part of the body, which ended the transfer.
    bool SinkStopped() const { return sinkStopped_; }
    // Once finished: what went wrong, and in libcurl's words (None and empty text for a whole
    // answer or a transfer its sink stopped).
    TransferResult::Failure Error() const;
    QString ErrorString() const;

signals:
    // The status and headers of an answer that is not a redirect are known.
    void ResponseStarted();
    // A piece of the body went into the sink, which now holds `bodyBytes` of this answer's body.
    void Written(qint64 bodyBytes);
    // The transfer ended (see Error).
    void Finished();

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnSocketChange(void* easy, int socket, int what, void* self, void*);
    static int OnTimerChange(void* multi, long milliseconds, void* self);

    void SetProxy();
    // Ends a transfer that never reached libcurl, from the event loop like any other.
    void FinishSoon(int result);
    void Act(int socket, int events);
    void ReportProgress();
    bool AnswerUnreadable() const;
    bool HeaderTooLong() const;

    QUrl url_;
    // Null when libcurl could not be loaded: the transfer then fails as it starts.
    const CurlLibrary::Api* curl_;
    // libcurl's easy and multi handles (CURL and CURLM).
    void* easy_ = nullptr;
    void* multi_ = nullptr;
    struct curl_slist* headerList_ = nullptr;
    QByteArray proxy_;
    bool proxyUnknown_ = false; // the network module, which knows the proxy, is missing
    QByteArray errorText_;
    QTimer timer_;
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    QMap<int, Watch> watches_;
    Sink sink_;

    int status_ = 0;
    QByteArray reason_;
    Headers responseHeaders_;
    bool headersDone_ = false;
    bool sent_ = false;
    bool started_ = false;
    bool paused_ = false;
    bool running_ = false;
    bool done_ = false;
    int result_ = 0;
    bool sinkStopped_ = false;
    // A success answer with a compressed body, and whether its body was refused (OnBody).
    bool compressed_ = false;
    bool compressedRefused_ = false;
    // The body's length as announced (-1: up to the end of the connection), and how much of
    // it has arrived.
    qint64 announced_ = -1;
    Http::BodyLength bodyLength_;
    qint64 received_ = 0;
    bool bodyComplete_ = false;
    // The body's count after each piece put into the sink and not yet reported.
    QList<qint64> written_;
};
