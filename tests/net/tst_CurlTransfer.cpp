#include "CurlTransfer.h"
#include "LoopbackHttpServer.h"
#include "Transfer.h"

#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QtTest>

using Response = LoopbackHttpServer::Response;

class tst_CurlTransfer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    // Runs first: nothing has made a transfer yet.
    void libcurlLoadsWithTheFirstTransferOnly();
    void bodyGoesIntoTheSinkThroughTheProxyQtNames();
    void redirectAnswerFinishesWithoutStartOrBody();
    void refusedConnectionFinishesWithTheReasonOnly();
    void transfersLogUnderTheNetCategories();
    void compressedBodyIsRefused_data();
    void compressedBodyIsRefused();

private:
    LoopbackHttpServer server_;
};

void tst_CurlTransfer::initTestCase() {
    QVERIFY(server_.listen());
    // libcurl's own reading of the environment would take this dead port.
    qputenv("http_proxy", "http://127.0.0.1:1");
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server_.port()));
}

void tst_CurlTransfer::cleanupTestCase() {
    QNetworkProxy::setApplicationProxy(QNetworkProxy());
}

void tst_CurlTransfer::libcurlLoadsWithTheFirstTransferOnly() {
    // It would slow every start of the program (with TLS, LDAP, SSH... behind it).
    const auto curlMapped = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/libcurl");
    };
    QVERIFY(!curlMapped());
    CurlTransfer transfer(QUrl("http://www.youtube.com/v.flv"), {}, 65536);
    QVERIFY(curlMapped());
}

void tst_CurlTransfer::bodyGoesIntoTheSinkThroughTheProxyQtNames() {
    Response stream = Response::Generated(3000000);
    stream.framing = LoopbackHttpServer::Framing::Chunked;
    server_.route("/v.flv", stream);
    CurlTransfer transfer(QUrl("http://www.youtube.com/v.flv"), {{"Accept", "*/*"}}, 65536);
    QByteArray body;
    QStringList events;
    transfer.SetSink([&](const char* data, qint64 size) {
        body.append(data, size);
        return true;
    });
    connect(&transfer, &CurlTransfer::ResponseStarted, this,
            [&] { events.append(QStringLiteral("start %1").arg(body.size())); });
    // Each report counts the body so far, a buffer at most beyond the one before.
    qint64 counted = 0;
    connect(&transfer, &CurlTransfer::Written, this, [&](qint64 bodyBytes) {
        QVERIFY(bodyBytes > counted && bodyBytes <= counted + 65536);
        counted = bodyBytes;
        if (events.last() != "chunk")
            events.append("chunk");
    });
    connect(&transfer, &CurlTransfer::Finished, this,
            [&] { events.append("finished " + transfer.ErrorString()); });
    transfer.Start();
    QTRY_VERIFY(events.size() == 3);
    QCOMPARE(events, QStringList({"start 0", "chunk", "finished "}));
    QCOMPARE(counted, 3000000);
    QCOMPARE(transfer.Status(), 200);
    QVERIFY(body == LoopbackHttpServer::GeneratedBytes(0, 3000000));
    QCOMPARE(server_.requests().last().target, QByteArray("http://www.youtube.com/v.flv"));
    QCOMPARE(server_.requests().last().version, QByteArray("HTTP/1.1"));
}

void tst_CurlTransfer::redirectAnswerFinishesWithoutStartOrBody() {
    Response redirect = Response::Redirect("/elsewhere", 303);
    redirect.body = "<html>See elsewhere</html>";
    server_.route("/moved", redirect);
    CurlTransfer transfer(QUrl("http://www.youtube.com/moved"), {}, 65536);
    QSignalSpy started(&transfer, &CurlTransfer::ResponseStarted);
    QSignalSpy written(&transfer, &CurlTransfer::Written);
    QSignalSpy finished(&transfer, &CurlTransfer::Finished);
    transfer.Start();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(transfer.Error(), TransferResult::Failure::None);
    QVERIFY(transfer.IsRedirect());
    QCOMPARE(transfer.Header("location"), QByteArray("/elsewhere"));
    QCOMPARE(started.size() + written.size(), 0);
}

void tst_CurlTransfer::refusedConnectionFinishesWithTheReasonOnly() {
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    CurlTransfer transfer(QUrl("http://127.0.0.1:1/v.flv"), {}, 65536);
    QSignalSpy started(&transfer, &CurlTransfer::ResponseStarted);
    QSignalSpy finished(&transfer, &CurlTransfer::Finished);
    transfer.Start();
    QTRY_COMPARE(finished.size(), 1);
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server_.port()));
    QCOMPARE(transfer.Error(), TransferResult::Failure::ConnectionRefused);
    QVERIFY(!transfer.ErrorString().isEmpty());
    QVERIFY(!transfer.ViaProxy());
    QCOMPARE(started.size(), 0);
}

namespace {
QSet<QString> loggedCategories;
void RecordCategory(QtMsgType, const QMessageLogContext& context, const QString&) {
    const QString category = QString::fromLatin1(context.category);
    if (category.startsWith(QLatin1String("vantelo.")))
        loggedCategories.insert(category);
}
} // namespace

void tst_CurlTransfer::transfersLogUnderTheNetCategories() {
    // One redirect hop to a body that stalls twice: every category has something to say.
    server_.route("/hop", Response::Redirect("/stalls"));
    Response stalls = Response::Generated(1000);
    stalls.ending = LoopbackHttpServer::Ending::Stall;
    stalls.endAfter = 100;
    server_.route("/stalls", stalls);
    Transfer::Request request;
    request.url = QUrl("http://www.youtube.com/hop");
    request.followRedirects = true;
    request.maxRetries = 1;
    Transfer transfer(request);
    transfer.SetSink([](const char*, qint64) { return true; });
    transfer.setStallTimeout(200);
    transfer.setRetryWait(1);
    QSignalSpy finished(&transfer, &Transfer::Finished);
    loggedCategories.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("vantelo.net.*.debug=true"));
    const QtMessageHandler before = qInstallMessageHandler(RecordCategory);
    transfer.Start();
    const bool ended = QTest::qWaitFor([&] { return finished.size() == 1; }, 10000);
    qInstallMessageHandler(before);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(ended);
    QCOMPARE(transfer.Result().failure, TransferResult::Failure::TimedOut);
    QCOMPARE(loggedCategories,
             (QSet<QString>{"vantelo.net.request", "vantelo.net.redirect", "vantelo.net.status",
                            "vantelo.net.stall", "vantelo.net.retry"}));
}

void tst_CurlTransfer::compressedBodyIsRefused_data() {
    QTest::addColumn<bool>("gzip");
    QTest::addColumn<LoopbackHttpServer::Framing>("framing");
    QTest::newRow("gzip with its length") << true << LoopbackHttpServer::Framing::ContentLength;
    QTest::newRow("gzip in chunks") << true << LoopbackHttpServer::Framing::Chunked;
    QTest::newRow("as stored") << false << LoopbackHttpServer::Framing::ContentLength;
}

void tst_CurlTransfer::compressedBodyIsRefused() {
    // Asked for as stored, a server compresses anyway: the bytes are not the file's.
    QFETCH(bool, gzip);
    QFETCH(LoopbackHttpServer::Framing, framing);
    Response stream = Response::Generated(200000, "video/mp4");
    if (gzip)
        stream = LoopbackHttpServer::Gzipped(stream);
    stream.framing = framing;
    server_.route("/packed.mp4", stream);
    server_.clearRequests();
    Transfer::Request request;
    request.url = QUrl("http://www.youtube.com/packed.mp4");
    request.headers = {{"Accept-Encoding", "identity"}};
    request.maxRetries = 2;
    Transfer transfer(request);
    transfer.setRetryWait(1);
    QByteArray body;
    transfer.SetSink([&](const char* data, qint64 size) {
        body.append(data, size);
        return true;
    });
    QSignalSpy finished(&transfer, &Transfer::Finished);
    transfer.Start();
    QTRY_COMPARE(finished.size(), 1);
    if (!gzip) {
        QVERIFY(transfer.Result().Whole());
        QVERIFY(body == LoopbackHttpServer::GeneratedBytes(0, 200000));
        return;
    }
    QCOMPARE(transfer.Result().failure, TransferResult::Failure::AnswerUnreadable);
    QCOMPARE(transfer.Result().Words(request.url),
             QStringLiteral("The server sent the answer compressed (gzip), though it was asked "
                            "to send it as stored"));
    QCOMPARE(body, QByteArray());
    // Asking again would bring the same.
    QCOMPARE(server_.requests().size(), 1);
}

QTEST_GUILESS_MAIN(tst_CurlTransfer)
#include "tst_CurlTransfer.moc"
