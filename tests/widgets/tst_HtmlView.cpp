#include "FakeDesktop.h"
#include "HtmlView.h"
#include "LoopbackHttpServer.h"

#include <QBuffer>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTextDocument>

using Response = LoopbackHttpServer::Response;

namespace {
const QColor kThumbnailRed(220, 20, 20);
const QColor kBannerBlue(20, 40, 220);

QByteArray pngOf(const QSize& size, const QColor& colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// An address on 127.0.0.1 where nothing listens.
QUrl deadAddress(const QString& path) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}

// The memory the process holds now.
qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * 4096;
}

bool showsColour(HtmlView& view, const QColor& colour) {
    const QImage image = view.grab().toImage();
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

QString thumbnailPage(const QUrl& image) {
    return QStringLiteral("about:<html><body scroll='no' topmargin=0 leftmargin=0><img src='%1' "
                          "width=180 height=147></img></body></html>")
        .arg(image.toString());
}
} // namespace

// The HTML view against a real HTTP server on 127.0.0.1.
class tst_HtmlView : public QObject {
    Q_OBJECT

private:
    LoopbackHttpServer server_;

    // Waits for the one DocumentComplete of the latest Navigate.
    static bool completes(QSignalSpy& spy) { return spy.size() > 0 || spy.wait(10000); }
    int requestsFor(const QString& path) const {
        int count = 0;
        for (const auto& request : server_.requests())
            if (request.url().path() == path)
                ++count;
        return count;
    }

private slots:
    void initTestCase() {
        // The tests reach 127.0.0.1 directly unless they ask for a proxy.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy"})
            qunsetenv(name);
        QVERIFY(server_.listen());
        server_.route("/vi/abc123/default.jpg",
                      Response::Fixed(pngOf(QSize(120, 90), kThumbnailRed), "image/png"));
        server_.route("/banner.png",
                      Response::Fixed(pngOf(QSize(60, 20), kBannerBlue), "image/png"));
        server_.route("/ads.html", Response::Fixed("<html><body><p>Morvane software</p>"
                                                   "<img src=\"banner.png\"></body></html>"));
        server_.route("/latin1.html", Response::Fixed("<html><body>caf\xe9</body></html>",
                                                      "text/html; charset=ISO-8859-1"));
        server_.route("/missing.html", Response::Status(404, "Not Found", "<p>gone</p>"));
        Response stalled = Response::Fixed("<html><body>never</body></html>");
        stalled.ending = LoopbackHttpServer::Ending::Stall;
        server_.route("/stalled.html", stalled);
        server_.route("/stalled.png", stalled);
        server_.route("/huge.html",
                      Response::Generated(HtmlView::kMaxDownloadBytes + 1024, "text/html"));
    }
    void init() { server_.clearRequests(); }

    void aboutTextIsShown() {
        HtmlView view;
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate("about:<html><body>Hello <b>there</b></body></html>");
        QCOMPARE(view.toPlainText(), QStringLiteral("Hello there"));
        QCOMPARE(view.LocationURL(),
                 QStringLiteral("about:<html><body>Hello <b>there</b></body></html>"));
        QVERIFY(completes(complete));
        QCOMPARE(complete.size(), 1);

        view.Navigate("about:blank");
        QCOMPARE(view.toPlainText(), QString());
    }

    void thumbnailArrivesAfterNavigate() {
        HtmlView view;
        view.resize(180, 147);
        view.show();
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(thumbnailPage(server_.url("/vi/abc123/default.jpg")));
        // Navigate returned before the image was fetched.
        QVERIFY(view.IsBusy());
        QCOMPARE(complete.size(), 0);
        QVERIFY(completes(complete));
        QCOMPARE(requestsFor("/vi/abc123/default.jpg"), 1);
        QVERIFY(!view.IsBusy());
        QVERIFY(showsColour(view, kThumbnailRed));
        // The picture fills the pane from its corner, with no scroll bars.
        QCOMPARE(view.grab().toImage().pixelColor(2, 2), kThumbnailRed);
        QVERIFY(!view.verticalScrollBar()->isVisible());
        QVERIFY(!view.horizontalScrollBar()->isVisible());
    }

    void pageLoadsWithItsImages() {
        HtmlView view;
        view.resize(400, 200);
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(server_.url("/ads.html").toString());
        QCOMPARE(view.toPlainText(), QString());
        QVERIFY(completes(complete));
        QCOMPARE(complete.size(), 1);
        QVERIFY(view.toPlainText().contains("Morvane software"));
        QCOMPARE(requestsFor("/banner.png"), 1);
        QVERIFY(showsColour(view, kBannerBlue));
        QVERIFY(!view.verticalScrollBar()->isVisible());
    }

    void hugePicturesStayWithinTheMemoryBound() {
        // A small file that decodes to 4000 x 4000 pixels (61 MB), twenty times on one page.
        const QByteArray huge = pngOf(QSize(4000, 4000), kThumbnailRed);
        QVERIFY(huge.size() < 1024 * 1024);
        QString html = QStringLiteral("<html><body><img src='/banner.png'>");
        for (int i = 0; i < 20; ++i) {
            server_.route(QStringLiteral("/huge%1.png").arg(i), Response::Fixed(huge, "image/png"));
            html += QStringLiteral("<img src='/huge%1.png' width=30 height=30>").arg(i);
        }
        server_.route("/many-huge-pictures.html", Response::Fixed(html.toUtf8()));
        const qint64 before = residentBytes();
        HtmlView view;
        view.resize(400, 200);
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(server_.url("/many-huge-pictures.html").toString());
        QVERIFY(completes(complete));
        QVERIFY(showsColour(view, kBannerBlue));
        QVERIFY(!showsColour(view, kThumbnailRed));
        const qint64 grown = residentBytes() - before;
        QVERIFY2(grown < 48 * 1024 * 1024, qPrintable(QString::number(grown >> 20) + " MB"));
    }

    void heldNavigationWaitsForRelease() {
        HtmlView view;
        view.resize(400, 200);
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.HoldRequests();
        view.Navigate(server_.url("/ads.html").toString());
        QCOMPARE(view.LocationURL(), server_.url("/ads.html").toString());
        QTest::qWait(200);
        QCOMPARE(requestsFor("/ads.html"), 0);
        QCOMPARE(complete.size(), 0);

        view.ReleaseRequests();
        QVERIFY(completes(complete));
        QCOMPARE(requestsFor("/ads.html"), 1);
        QVERIFY(view.toPlainText().contains("Morvane software"));
    }

    void pageCharsetIsHonoured() {
        HtmlView view;
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(server_.url("/latin1.html").toString());
        QVERIFY(completes(complete));
        QCOMPARE(view.toPlainText(), QString::fromUtf8("café"));
    }

    void unreachablePageLeavesTheViewBlank_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("nothing listens") << deadAddress("/ads.html").toString();
        QTest::newRow("not found") << server_.url("/missing.html").toString();
        QTest::newRow("too big") << server_.url("/huge.html").toString();
        QTest::newRow("no scheme") << QStringLiteral("ads.html");
    }
    void unreachablePageLeavesTheViewBlank() {
        QFETCH(QString, address);
        HtmlView view;
        view.Navigate("about:<p>old text</p>");
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(address);
        QVERIFY(completes(complete));
        QCOMPARE(view.toPlainText(), QString());
        QVERIFY(!view.IsBusy());
    }

    void imageThatFailsLeavesItsPlaceEmpty() {
        HtmlView view;
        view.resize(200, 160);
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(thumbnailPage(deadAddress("/vi/x/default.jpg")));
        QVERIFY(completes(complete));
        // No stand-in picture: the pane stays as blank as its background.
        const QImage image = view.grab().toImage();
        const QColor background = image.pixelColor(image.width() - 1, image.height() - 1);
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                QCOMPARE(image.pixelColor(x, y), background);
    }

    void newerNavigateSupersedesPendingLoads() {
        HtmlView view;
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(server_.url("/stalled.html").toString());
        QTRY_COMPARE(requestsFor("/stalled.html"), 1);
        view.Navigate(thumbnailPage(server_.url("/stalled.png")));
        QTRY_COMPARE(requestsFor("/stalled.png"), 1);
        view.Navigate("about:<p>latest</p>");
        QVERIFY(!view.IsBusy());
        QVERIFY(completes(complete));
        QCOMPARE(complete.size(), 1);
        QCOMPARE(view.toPlainText(), QStringLiteral("latest"));
        // The dropped requests' connections are closed, not left hanging.
        QTRY_COMPARE(server_.connectionsClosed(), server_.connectionsAccepted());
    }

    void pageComesThroughTheSystemProxy() {
        qputenv("http_proxy", server_.proxyAddress());
        HtmlView view;
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate("http://ads.morvane.invalid/ads.html");
        QVERIFY(completes(complete));
        qunsetenv("http_proxy");
        QVERIFY(view.toPlainText().contains("Morvane software"));
        const auto requests = server_.requests();
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.first().target, QByteArray("http://ads.morvane.invalid/ads.html"));
        QCOMPARE(requestsFor("/banner.png"), 1);
    }

    void linksOpenInTheDesktopBrowser() {
        FakeDesktop desktop;
        HtmlView view;
        QSignalSpy complete(&view, &HtmlView::DocumentComplete);
        view.Navigate(server_.url("/ads.html").toString());
        QVERIFY(completes(complete));
        emit view.anchorClicked(QUrl("products/vantelo.html"));
        emit view.anchorClicked(QUrl("javascript:alert(1)"));
        QCOMPARE(desktop.openedUrls, QList<QUrl>{server_.url("/products/vantelo.html")});
        QVERIFY(view.toPlainText().contains("Morvane software"));
    }
};

QTEST_MAIN(tst_HtmlView)
#include "tst_HtmlView.moc"
