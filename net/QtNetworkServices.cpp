// The network module (vantelo-network.so): NetworkServices on Qt's network library. Loaded by
// NetworkModule; nothing else of the program is linked into it.
#include "NetworkServices.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>
#include <optional>

namespace {

constexpr int kMaxAnswerBytes = 1024;
constexpr int kConnectRetryMs = 50;
constexpr int kProbeMs = 1000;

// Asks the system for the proxy of every request (on Linux the http_proxy, https_proxy and
// no_proxy variables, or the desktop's settings), for the web views' requests only.
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

// Users behind a proxy reach the video service through it, as their other programs do; a
// proxy the program has chosen itself stays.
void UseSystemProxyUnlessChosen() {
    if (!QNetworkProxyFactory::usesSystemConfiguration() &&
        QNetworkProxy::applicationProxy().type() == QNetworkProxy::DefaultProxy)
        QNetworkProxyFactory::setUseSystemConfiguration(true);
}

NetworkServices::WebAnswer AnswerOf(QNetworkReply* reply, qint64 maxBytes) {
    NetworkServices::WebAnswer answer;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.ok = reply->error() == QNetworkReply::NoError;
    answer.whole =
        answer.ok && (status == 0 || status < 300) && reply->bytesAvailable() <= maxBytes;
    answer.url = reply->url();
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    if (answer.ok)
        answer.body = reply->readAll();
    return answer;
}

class QtWebRequest final : public NetworkServices::WebRequest {
public:
    QtWebRequest(QNetworkReply* reply, qint64 maxBytes, NetworkServices::Arrival arrived)
        : reply_(reply) {
        // Oversized answers are dropped as soon as they announce or reach their size.
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &watch_, [reply, maxBytes] {
            if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maxBytes)
                reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::downloadProgress, &watch_,
                         [reply, maxBytes](qint64 received, qint64) {
                             if (received > maxBytes)
                                 reply->abort();
                         });
        // The receiver may destroy this request from `arrived`: nothing here is touched after.
        QObject::connect(reply, &QNetworkReply::finished, &watch_,
                         [reply, maxBytes, arrived = std::move(arrived)] {
                             arrived(AnswerOf(reply, maxBytes));
                         });
    }
    ~QtWebRequest() override {
        if (!reply_)
            return;
        // Only this request's own connections go; Qt's keep the abort reaching the connection.
        QObject::disconnect(reply_, nullptr, &watch_, nullptr);
        reply_->abort();
        reply_->deleteLater();
    }

private:
    QPointer<QNetworkReply> reply_;
    QObject watch_; // the context of the connections to the reply
};

// The first line on the socket with its newline; or, once maxLineBytes have come without one,
// those bytes (no newline: the answerer knows the line was cut); or nothing yet.
std::optional<QByteArray> TakeLine(QLocalSocket& socket, int maxLineBytes) {
    const QByteArray start = socket.peek(maxLineBytes);
    const qsizetype end = start.indexOf('\n');
    if (end < 0 && start.size() < maxLineBytes)
        return std::nullopt;
    return socket.read(end < 0 ? maxLineBytes : end + 1);
}

void AnswerLines(QLocalServer* server, int maxLineBytes,
                 const NetworkServices::LineAnswerer& answer) {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, maxLineBytes, answer] {
            const std::optional<QByteArray> line = TakeLine(*socket, maxLineBytes);
            if (!line)
                return;
            const QByteArray reply = answer(*line);
            if (!reply.isEmpty())
                socket->write(reply);
            socket->disconnectFromServer();
        });
    }
}

// Whether something takes connections at the socket: a copy that answers, or one that is busy.
// Only a socket file that refuses them is left over from a copy that has ended.
bool IsAnswering(const QString& socketPath) {
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    if (probe.waitForConnected(kProbeMs))
        return true;
    return probe.error() != QLocalSocket::ConnectionRefusedError &&
           probe.error() != QLocalSocket::ServerNotFoundError;
}

QByteArray Exchange(QLocalSocket& socket, const QByteArray& line, const QDeadlineTimer& deadline) {
    socket.write(line);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return QByteArray();
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= kMaxAnswerBytes &&
           socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer;
}

class QtNetworkServices final : public NetworkServices {
public:
    std::unique_ptr<WebRequest> Get(QObject* owner, const QUrl& address, qint64 maxBytes,
                                    int timeoutMs, Arrival arrived) override {
        QNetworkRequest request(address);
        request.setTransferTimeout(timeoutMs);
        return std::make_unique<QtWebRequest>(NetworkOf(owner).get(request), maxBytes,
                                              std::move(arrived));
    }

    QByteArray CurlProxyFor(const QUrl& address) override {
        UseSystemProxyUnlessChosen();
        const QNetworkProxy proxy =
            QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(address)).value(0);
        QByteArray scheme;
        switch (proxy.type()) {
        case QNetworkProxy::HttpProxy:
        case QNetworkProxy::HttpCachingProxy:
            scheme = "http://";
            break;
        case QNetworkProxy::Socks5Proxy:
            scheme = "socks5h://";
            break;
        default:
            return QByteArray();
        }
        QUrl url;
        url.setHost(proxy.hostName());
        url.setPort(proxy.port());
        url.setUserName(proxy.user());
        url.setPassword(proxy.password());
        return scheme + url.toEncoded(QUrl::RemoveScheme).mid(2);
    }

    bool ListenForLines(const QString& socketPath, int maxLineBytes, QObject* owner,
                        LineAnswerer answer) override {
        auto* server = new QLocalServer(owner);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (!server->listen(socketPath) && !IsAnswering(socketPath) &&
            QLocalServer::removeServer(socketPath))
            server->listen(socketPath);
        QObject::connect(server, &QLocalServer::newConnection, server,
                         [server, maxLineBytes, answer = std::move(answer)] {
                             AnswerLines(server, maxLineBytes, answer);
                         });
        return server->isListening();
    }

    QByteArray SendLine(const QString& socketPath, const QByteArray& line, int timeoutMs) override {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            QLocalSocket socket;
            socket.connectToServer(socketPath);
            if (socket.waitForConnected(int(deadline.remainingTime())))
                return Exchange(socket, line, deadline);
            QThread::msleep(kConnectRetryMs);
        }
        return QByteArray();
    }

private:
    static QNetworkAccessManager& NetworkOf(QObject* owner) {
        auto* network =
            owner->findChild<QNetworkAccessManager*>(QString(), Qt::FindDirectChildrenOnly);
        if (!network) {
            network = new QNetworkAccessManager(owner);
            network->setProxyFactory(new SystemProxyFactory);
            network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        }
        return *network;
    }
};

} // namespace

extern "C" Q_DECL_EXPORT NetworkServices* vantelo_network_services() {
    static QtNetworkServices services;
    return &services;
}
