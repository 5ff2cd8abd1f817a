#include "LoopbackHttpServer.h"

#include <QMutexLocker>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace {

// The generated pattern repeats with a prime period, so it never lines up with chunk sizes.
constexpr qint64 PatternPeriod = 65521;
constexpr qint64 PieceSize = 64 * 1024;
// The socket's write buffer is topped up to this much.
constexpr qint64 WriteHighWater = 512 * 1024;
constexpr int PaceIntervalMs = 20;

// One period of the pattern plus a piece more, so any piece can be taken in one go.
const QByteArray& PatternBlock() {
    static const QByteArray block = [] {
        QByteArray bytes(PatternPeriod + PieceSize, Qt::Uninitialized);
        for (qint64 i = 0; i < bytes.size(); ++i) {
            const quint32 n = quint32(i % PatternPeriod);
            bytes[i] = char((n * 2654435761u) >> 24 ^ n);
        }
        return bytes;
    }();
    return block;
}

using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

// Takes one complete request off the front of the buffer; false when it has not all arrived.
bool TakeRequest(QByteArray& input, Request& request) {
    const int headerEnd = input.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = input.left(headerEnd).split('\n');
    Request parsed;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    parsed.method = requestLine.value(0);
    parsed.target = requestLine.value(1);
    parsed.version = requestLine.value(2);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            parsed.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    const qint64 bodyLength = parsed.header("Content-Length").toLongLong();
    const qint64 total = headerEnd + 4 + bodyLength;
    if (input.size() < total)
        return false;
    parsed.body = input.mid(headerEnd + 4, bodyLength);
    input.remove(0, total);
    request = parsed;
    return true;
}

// One client connection: reads requests and answers them one after another.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, LoopbackHttpServer* server)
        : QObject(server), socket_(socket), server_(server) {
        socket_->setParent(this);
        pace_.setInterval(PaceIntervalMs);
        connect(socket_, &QIODevice::readyRead, this, &Connection::readRequests);
        connect(socket_, &QIODevice::bytesWritten, this, &Connection::sendMore);
        connect(&pace_, &QTimer::timeout, this, [this] {
            // Kept in thousandths of a byte, so that slow rates (one byte a second) hold too.
            paceCredit_ += response_.bytesPerSecond * PaceIntervalMs;
            paceBudget_ += paceCredit_ / 1000;
            paceCredit_ %= 1000;
            sendMore();
        });
        connect(socket_, &QAbstractSocket::disconnected, this, [this] {
            server_->connectionClosed();
            deleteLater();
        });
    }

private:
    void readRequests() {
        input_ += socket_->readAll();
        Request request;
        while (!responding_ && TakeRequest(input_, request)) {
            server_->record(request);
            closeAfter_ = request.header("Connection").toLower() == "close";
            startResponse(server_->respond(request));
        }
    }

    void startResponse(const Response& response) {
        response_ = response;
        responding_ = true;
        sent_ = 0;
        const qint64 size = response_.bodySize();
        limit_ = response_.ending == LoopbackHttpServer::Ending::Complete
                     ? size
                     : std::min(size, std::max<qint64>(0, response_.endAfter));
        paceBudget_ = 0;
        paceCredit_ = 0;
        if (response_.framing == LoopbackHttpServer::Framing::CloseDelimited)
            closeAfter_ = true;
        socket_->write(headerBlock());
        if (response_.bytesPerSecond > 0)
            pace_.start();
        sendMore();
    }

    QByteArray headerBlock() const {
        if (!response_.rawHead.isEmpty())
            return response_.rawHead;
        QByteArray block =
            "HTTP/1.1 " + QByteArray::number(response_.status) + ' ' + response_.reason + "\r\n";
        for (const auto& header : response_.headers)
            block += header.first + ": " + header.second + "\r\n";
        switch (response_.framing) {
        case LoopbackHttpServer::Framing::ContentLength:
            block += "Content-Length: " + QByteArray::number(response_.bodySize()) + "\r\n";
            break;
        case LoopbackHttpServer::Framing::Chunked:
            block += "Transfer-Encoding: chunked\r\n";
            break;
        case LoopbackHttpServer::Framing::CloseDelimited:
            break;
        }
        if (closeAfter_)
            block += "Connection: close\r\n";
        return block + "\r\n";
    }

    void sendMore() {
        if (!responding_ || bodyDone_)
            return;
        const bool paced = response_.bytesPerSecond > 0;
        while (sent_ < limit_ && socket_->bytesToWrite() < WriteHighWater) {
            qint64 count = std::min(PieceSize, limit_ - sent_);
            if (paced)
                count = std::min(count, paceBudget_);
            if (count <= 0)
                break;
            writePiece(count);
            sent_ += count;
            if (paced)
                paceBudget_ -= count;
        }
        if (sent_ == limit_)
            finishBody();
    }

    void writePiece(qint64 count) {
        const bool chunked = response_.framing == LoopbackHttpServer::Framing::Chunked;
        if (chunked)
            socket_->write(QByteArray::number(count, 16) + "\r\n");
        if (response_.generatedSize >= 0)
            socket_->write(PatternBlock().constData() +
                               (response_.generatedOffset + sent_) % PatternPeriod,
                           count);
        else
            socket_->write(response_.body.constData() + sent_, count);
        if (chunked)
            socket_->write("\r\n");
    }

    void finishBody() {
        bodyDone_ = true;
        pace_.stop();
        switch (response_.ending) {
        case LoopbackHttpServer::Ending::Stall:
            return; // keeps the connection open and silent
        case LoopbackHttpServer::Ending::Drop:
            socket_->disconnectFromHost();
            return;
        case LoopbackHttpServer::Ending::Complete:
            break;
        }
        if (response_.framing == LoopbackHttpServer::Framing::Chunked)
            socket_->write("0\r\n\r\n");
        if (closeAfter_) {
            socket_->disconnectFromHost();
            return;
        }
        responding_ = false;
        bodyDone_ = false;
        if (!input_.isEmpty())
            readRequests();
    }

    QTcpSocket* socket_;
    LoopbackHttpServer* server_;
    QByteArray input_;
    Response response_;
    bool responding_ = false;
    bool bodyDone_ = false;
    bool closeAfter_ = false;
    qint64 sent_ = 0;
    qint64 limit_ = 0;
    qint64 paceBudget_ = 0;
    qint64 paceCredit_ = 0;
    QTimer pace_;
};

} // namespace

QByteArray LoopbackHttpServer::Request::header(const QByteArray& name) const {
    for (const auto& header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    return QByteArray();
}

QList<QByteArray> LoopbackHttpServer::Request::headerNames() const {
    QList<QByteArray> names;
    for (const auto& header : headers)
        names.append(header.first);
    return names;
}

Response LoopbackHttpServer::Response::Fixed(const QByteArray& body,
                                             const QByteArray& contentType) {
    Response response;
    response.headers.append({"Content-Type", contentType});
    response.body = body;
    return response;
}

Response LoopbackHttpServer::Response::Generated(qint64 size, const QByteArray& contentType) {
    Response response;
    response.headers.append({"Content-Type", contentType});
    response.generatedSize = size;
    return response;
}

Response LoopbackHttpServer::Response::rangedFor(const Request& request) const {
    const QByteArray range = request.header("Range");
    if (!range.startsWith("bytes=") || !range.endsWith('-'))
        return *this;
    const QByteArray ifRange = request.header("If-Range");
    bool matches = ifRange.isEmpty();
    for (const auto& header : headers)
        if (header.first == "ETag" || header.first == "Last-Modified")
            matches = matches || header.second == ifRange;
    const qint64 first = range.mid(6, range.size() - 7).toLongLong();
    if (!matches || first <= 0 || first >= generatedSize)
        return *this;
    Response part = *this;
    part.status = 206;
    part.reason = "Partial Content";
    part.headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' +
                                              QByteArray::number(generatedSize - 1) + '/' +
                                              QByteArray::number(generatedSize)});
    part.generatedOffset = generatedOffset + first;
    part.generatedSize = generatedSize - first;
    part.endAfter = std::max<qint64>(0, endAfter - first);
    return part;
}

Response LoopbackHttpServer::Response::Redirect(const QByteArray& location, int status) {
    Response response = Status(status, "Found", "Moved to " + location);
    response.headers.append({"Location", location});
    return response;
}

Response LoopbackHttpServer::Response::Status(int status, const QByteArray& reason,
                                              const QByteArray& body) {
    Response response = Fixed(body);
    response.status = status;
    response.reason = reason;
    return response;
}

LoopbackHttpServer::LoopbackHttpServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &LoopbackHttpServer::acceptConnections);
}

LoopbackHttpServer::~LoopbackHttpServer() = default;

bool LoopbackHttpServer::listen(quint16 port) {
    if (!server_.listen(QHostAddress::LocalHost, port))
        return false;
    port_ = server_.serverPort();
    return true;
}

void LoopbackHttpServer::refuseConnectionsFor(int milliseconds) {
    server_.close();
    QTimer::singleShot(milliseconds, this,
                       [this] { server_.listen(QHostAddress::LocalHost, port_); });
}

QByteArray LoopbackHttpServer::proxyAddress() const {
    return "http://127.0.0.1:" + QByteArray::number(port_);
}

QUrl LoopbackHttpServer::url(const QString& pathAndQuery) const {
    return QUrl(QString::fromLatin1(proxyAddress()) + pathAndQuery);
}

void LoopbackHttpServer::route(const QString& path, const Response& response) {
    route(path, [response](const Request&) { return response; });
}

void LoopbackHttpServer::route(const QString& path, Handler handler) {
    QMutexLocker lock(&mutex_);
    routes_.removeIf([&](const auto& route) { return route.first == path; });
    routes_.append({path, std::move(handler)});
}

void LoopbackHttpServer::setFallback(Handler handler) {
    QMutexLocker lock(&mutex_);
    fallback_ = std::move(handler);
}

void LoopbackHttpServer::clearRoutes() {
    QMutexLocker lock(&mutex_);
    routes_.clear();
    fallback_ = nullptr;
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
    QMutexLocker lock(&mutex_);
    return requests_;
}

void LoopbackHttpServer::clearRequests() {
    QMutexLocker lock(&mutex_);
    requests_.clear();
}

QByteArray LoopbackHttpServer::GeneratedBytes(qint64 offset, qint64 length) {
    QByteArray bytes;
    bytes.reserve(length);
    while (length > 0) {
        const qint64 count = std::min(length, PieceSize);
        bytes.append(PatternBlock().constData() + offset % PatternPeriod, count);
        offset += count;
        length -= count;
    }
    return bytes;
}

QByteArray LoopbackHttpServer::Gzip(const QByteArray& bytes) {
    // qCompress gives a zlib stream behind a 4-byte length: 2 bytes of zlib header, the raw
    // deflate data, then a 4-byte Adler-32 checksum. gzip wraps the same raw data differently.
    const QByteArray zlib = qCompress(bytes, 9);
    const QByteArray deflated = zlib.mid(6, zlib.size() - 10);
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    auto littleEndian = [](quint32 value) {
        QByteArray four(4, Qt::Uninitialized);
        for (int i = 0; i < 4; ++i)
            four[i] = char(value >> (8 * i));
        return four;
    };
    return QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + deflated +
           littleEndian(crc) + littleEndian(quint32(bytes.size()));
}

Response LoopbackHttpServer::Gzipped(Response response) {
    if (response.generatedSize >= 0)
        response.body = GeneratedBytes(0, response.generatedSize);
    response.generatedSize = -1;
    response.body = Gzip(response.body);
    response.headers.append({QByteArray("Content-Encoding"), QByteArray("gzip")});
    return response;
}

Response LoopbackHttpServer::respond(const Request& request) {
    const QString path = request.url().path();
    Handler handler;
    {
        QMutexLocker lock(&mutex_);
        handler = fallback_;
        for (const auto& route : routes_)
            if (route.first == path)
                handler = route.second;
    }
    return handler ? handler(request) : Response::Status(404, "Not Found", "No such page");
}

void LoopbackHttpServer::record(const Request& request) {
    QMutexLocker lock(&mutex_);
    requests_.append(request);
}

void LoopbackHttpServer::acceptConnections() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++accepted_;
        new Connection(socket, this);
    }
}
