#include "TransferResult.h"

#include <QTest>

// What a failed transfer tells the user: the failure in plain words, the proxy's where the
// connection was the proxy's, the client's own words where there are none better.
class tst_TransferResult : public QObject {
    Q_OBJECT
private slots:
    void failuresInPlainWords_data();
    void failuresInPlainWords();
};

using Failure = TransferResult::Failure;

void tst_TransferResult::failuresInPlainWords_data() {
    QTest::addColumn<int>("failure");
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("words");
    const QString page = QStringLiteral("http://www.youtube.com/watch?v=a");
    const QString checkProxy = QStringLiteral(" Check the proxy settings (http_proxy).");
    QTest::newRow("host") << int(Failure::HostNotFound) << false << page
                          << "The server \"www.youtube.com\" could not be found. Check the address "
                             "and that this computer is connected to the internet.";
    QTest::newRow("refused") << int(Failure::ConnectionRefused) << false << page
                             << "The server \"www.youtube.com\" refused the connection. Try again "
                                "later.";
    QTest::newRow("refused by the proxy")
        << int(Failure::ConnectionRefused) << true << page
        << "The proxy server refused the connection." + checkProxy;
    QTest::newRow("host of the proxy") << int(Failure::HostNotFound) << true << page
                                       << "The proxy server could not be found." + checkProxy;
    QTest::newRow("proxy named") << int(Failure::ProxyNotFound) << false << page
                                 << "The proxy server could not be found." + checkProxy;
    QTest::newRow("proxy password")
        << int(Failure::ProxyAuthenticationRequired) << true << page
        << "The proxy server asks for a user name and password." + checkProxy;
    QTest::newRow("closed through the proxy")
        << int(Failure::ConnectionClosed) << true << page
        << "The server closed the connection before everything had arrived. Try again.";
    QTest::newRow("timed out") << int(Failure::TimedOut) << false << page
                               << "The server did not answer in time. Try again later.";
    QTest::newRow("secure") << int(Failure::SecureConnectionFailed) << false << page
                            << "No secure connection to the server \"www.youtube.com\" could be "
                               "made.";
    QTest::newRow("redirects") << int(Failure::TooManyRedirects) << false << page
                               << "The server sent the download on to too many or to unsafe "
                                  "addresses.";
    QTest::newRow("unsafe redirect") << int(Failure::UnsafeRedirect) << false << page
                                     << "The server sent the download on to too many or to "
                                        "unsafe addresses.";
    QTest::newRow("ftp") << int(Failure::UnsupportedAddress) << false << "ftp://x/watch?v=a"
                         << "Only addresses that begin with \"http://\" can be downloaded, not "
                            "\"ftp:\". Type the address of the video page with \"http://\" in "
                            "front.";
    QTest::newRow("no scheme") << int(Failure::UnsupportedAddress) << false << "www.youtube.com"
                               << "The address must begin with \"http://\". Type the whole "
                                  "address of the video page, for example "
                                  "http://www.youtube.com/watch?v=...";
    QTest::newRow("unreadable") << int(Failure::AnswerUnreadable) << false << page
                                << "in the client's words";
    QTest::newRow("other") << int(Failure::Other) << true << page << "in the client's words";
}

void tst_TransferResult::failuresInPlainWords() {
    QFETCH(int, failure);
    QFETCH(bool, viaProxy);
    QFETCH(QString, address);
    QFETCH(QString, words);
    const TransferResult result{0, Failure(failure), viaProxy,
                                QStringLiteral("in the client's words")};
    QVERIFY(!result.Whole());
    QCOMPARE(result.Words(QUrl(address)), words);
}

QTEST_APPLESS_MAIN(tst_TransferResult)
#include "tst_TransferResult.moc"
