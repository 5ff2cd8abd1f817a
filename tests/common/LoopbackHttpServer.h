#pragma once
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>
#include <atomic>
#include <functional>

// An HTTP/1.1 server on 127.0.0.1 inside the test program. It answers requests in origin form
// ("/watch?v=1") and in absolute form ("http://www.youtube.com/watch?v=1"), so it also serves
// as the HTTP proxy of a client (http_proxy=proxyAddress()). Routes are chosen by the path of
// the request, whatever its host; other paths go to the fallback, or get 404. Bodies are sent
// with a Content-Length, chunked or up to the end of the connection; a response can be cut off
// (dropped connection), stall, be paced, or carry a large body generated while it is sent.
//
// The server works on the thread it lives on; routes and the request record may be used from
// any thread.
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    using HeaderList = QList<QPair<QByteArray, QByteArray>>;

    struct Request {
        QByteArray method;
        QByteArray target; // as sent: absolute form through a proxy, a path otherwise
        QByteArray version;
        HeaderList headers; // in the order they arrived
        QByteArray body;

        QUrl url() const { return QUrl(QString::fromLatin1(target)); }
        // The first header of that name (any letter case); empty when absent.
        QByteArray header(const QByteArray& name) const;
        QList<QByteArray> headerNames() const;
    };

    enum class Framing { ContentLength, Chunked, CloseDelimited };
    enum class Ending { Complete, Drop, Stall };

    struct Response {
        int status = 200;
        QByteArray reason = "OK";
        HeaderList headers; // besides the framing header, which the server adds
        QByteArray body;
        qint64 generatedSize = -1; // when >= 0 the body is GeneratedBytes(generatedOffset, size)
        qint64 generatedOffset = 0;
        QByteArray rawHead; // when set, sent as is instead of the status line and headers
        Framing framing = Framing::ContentLength;
        Ending ending = Ending::Complete;
        qint64 endAfter = 0;       // body bytes sent before a Drop or a Stall
        qint64 bytesPerSecond = 0; // when > 0 the body is paced

        static Response Fixed(const QByteArray& body, const QByteArray& contentType = "text/html");
        static Response Generated(qint64 size,
                                  const QByteArray& contentType = "application/octet-stream");
        static Response Redirect(const QByteArray& location, int status = 302);
        static Response Status(int status, const QByteArray& reason,
                               const QByteArray& body = QByteArray());
        qint64 bodySize() const { return generatedSize >= 0 ? generatedSize : body.size(); }
        // The answer to a request that may ask for a range ("Range: bytes=N-"), as a server
        // that keeps ranges answers: the rest from N (206) when If-Range is absent or names
        // this answer's ETag or Last-Modified, else the whole (200). For generated bodies.
        Response rangedFor(const Request& request) const;
    };
    using Handler = std::function<Response(const Request&)>;

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // Listens on 127.0.0.1 (port 0: any free port).
    bool listen(quint16 port = 0);
    quint16 port() const { return port_; }
    // Stops listening for a while, as a server that restarts: connections are refused.
    void refuseConnectionsFor(int milliseconds);
    // "http://127.0.0.1:<port>", for http_proxy or as the base of direct addresses.
    QByteArray proxyAddress() const;
    QUrl url(const QString& pathAndQuery) const;

    void route(const QString& path, const Response& response);
    void route(const QString& path, Handler handler);
    // Answers the paths no route names (404 without one).
    void setFallback(Handler handler);
    // Forgets the routes and the fallback.
    void clearRoutes();

    QList<Request> requests() const;
    void clearRequests();
    // Connections accepted so far, and those that have ended (closed by either side).
    int connectionsAccepted() const { return accepted_; }
    int connectionsClosed() const { return closed_; }

    // The bytes of generated bodies: a fixed pattern that does not repeat within 64 KiB.
    static QByteArray GeneratedBytes(qint64 offset, qint64 length);
    // The bytes in gzip format, for bodies sent with "Content-Encoding: gzip".
    static QByteArray Gzip(const QByteArray& bytes);
    // The response with its body compressed by gzip (and labelled so).
    static Response Gzipped(Response response);

    // Used by the connections.
    Response respond(const Request& request);
    void record(const Request& request);
    void connectionClosed() { ++closed_; }

private:
    void acceptConnections();

    QTcpServer server_;
    quint16 port_ = 0;
    mutable QMutex mutex_;
    QList<QPair<QString, Handler>> routes_;
    Handler fallback_;
    QList<Request> requests_;
    std::atomic<int> accepted_{0};
    std::atomic<int> closed_{0};
};
