#include "HttpHeaders.h"
#include "Retries.h"

#include <QtTest>

using Kind = Http::BodyLength::Kind;
Q_DECLARE_METATYPE(Http::Headers)
Q_DECLARE_METATYPE(Kind)

class tst_HttpHeaders : public QObject {
    Q_OBJECT
private slots:
    void contentLength_data();
    void contentLength();
    void contentRange_data();
    void contentRange();
    void retryWaits();
    void resumeValidator_data();
    void resumeValidator();
};

void tst_HttpHeaders::contentLength_data() {
    QTest::addColumn<Http::Headers>("headers");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("none") << Http::Headers{} << Kind::Absent << qint64(-1);
    QTest::newRow("plain") << Http::Headers{{"content-length", " 1234 "}} << Kind::Known
                           << qint64(1234);
    QTest::newRow("past 4 GiB") << Http::Headers{{"Content-Length", "4831838208"}} << Kind::Known
                                << qint64(4831838208);
    QTest::newRow("same twice") << Http::Headers{{"Content-Length", "7"},
                                                 {"Content-Length", "7, 7"}}
                                << Kind::Known << qint64(7);
    for (const char* bad : {"99999999999999999999999", "12abc", "+5", "-5", "", "1 2", "0x10"})
        QTest::newRow(bad) << Http::Headers{{"Content-Length", bad}} << Kind::Invalid << qint64(-1);
    QTest::newRow("two different")
        << Http::Headers{{"Content-Length", "100"}, {"Content-Length", "5000"}} << Kind::Invalid
        << qint64(-1);
    QTest::newRow("chunked wins") << Http::Headers{{"Content-Length", "12abc"},
                                                   {"Transfer-Encoding", "chunked"}}
                                  << Kind::Absent << qint64(-1);
}

void tst_HttpHeaders::contentLength() {
    QFETCH(Http::Headers, headers);
    QFETCH(Kind, kind);
    QFETCH(qint64, bytes);
    const Http::BodyLength length = Http::ContentLength(headers);
    QCOMPARE(length.kind, kind);
    QCOMPARE(length.bytes, bytes);
}

void tst_HttpHeaders::contentRange_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("total");
    QTest::newRow("whole") << QByteArray("bytes 100-199/200") << true << qint64(100) << qint64(200);
    QTest::newRow("unknown total") << QByteArray("bytes 0-9/*") << true << qint64(0) << qint64(-1);
    QTest::newRow("past the total")
        << QByteArray("bytes 0-200/200") << false << qint64(0) << qint64(0);
    QTest::newRow("backwards") << QByteArray("bytes 9-3/20") << false << qint64(0) << qint64(0);
    QTest::newRow("other unit") << QByteArray("items 0-1/2") << false << qint64(0) << qint64(0);
    QTest::newRow("signed") << QByteArray("bytes +1-5/9") << false << qint64(0) << qint64(0);
    QTest::newRow("unsatisfied") << QByteArray("bytes */200") << false << qint64(0) << qint64(0);
}

void tst_HttpHeaders::contentRange() {
    QFETCH(QByteArray, value);
    QFETCH(bool, valid);
    const auto range = Http::ParseContentRange(value);
    QCOMPARE(range.has_value(), valid);
    if (valid) {
        QTEST(range->first, "first");
        QTEST(range->total, "total");
    }
}

void tst_HttpHeaders::retryWaits() {
    QList<qint64> waits;
    for (int retry = 1; retry <= Retries::MaxRetries; ++retry)
        waits.append(Retries::WaitMs(retry, 1000, std::nullopt));
    QCOMPARE(waits, QList<qint64>({1000, 2000, 4000, 8000, 16000}));
    // The server's wish, up to a minute; in base waits, so tests may shorten it.
    QCOMPARE(Retries::WaitMs(1, 1000, 3), 3000);
    QCOMPARE(Retries::WaitMs(1, 1000, 3600), 60000);
    QCOMPARE(Retries::WaitMs(1, 10, 3600), 600);

    const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    QCOMPARE(Http::RetryAfterSeconds("120", now), 120);
    QCOMPARE(Http::RetryAfterSeconds("Sun, 06 Nov 1994 08:50:07 GMT", now), 30);
    QCOMPARE(Http::RetryAfterSeconds("Sun, 06 Nov 1994 08:00:00 GMT", now), 0);
    QVERIFY(!Http::RetryAfterSeconds("-1", now));
    QVERIFY(!Http::RetryAfterSeconds("soon", now));

    for (const int status : {500, 503, 599, 408, 429})
        QVERIFY(Retries::IsRetryableStatus(status));
    for (const int status : {200, 206, 404, 416, 407, 600})
        QVERIFY(!Retries::IsRetryableStatus(status));
}

void tst_HttpHeaders::resumeValidator_data() {
    QTest::addColumn<Http::Headers>("headers");
    QTest::addColumn<QByteArray>("validator");
    const QByteArray modified = "Wed, 21 Oct 2015 07:28:00 GMT";
    const QByteArray later = "Wed, 21 Oct 2015 07:28:01 GMT";
    QTest::newRow("strong ETag") << Http::Headers{{"ETag", "\"v1\""}, {"Last-Modified", modified}}
                                 << QByteArray("\"v1\"");
    // A date is strong when the answer was made at least a second after it.
    QTest::newRow("date a second old")
        << Http::Headers{{"Last-Modified", modified}, {"Date", later}} << modified;
    QTest::newRow("date made in the same second")
        << Http::Headers{{"Last-Modified", modified}, {"Date", modified}} << QByteArray();
    QTest::newRow("date without the answer's date")
        << Http::Headers{{"Last-Modified", modified}} << QByteArray();
    // Whoever names an entity tag judges by it: a weak one rules out a range of any kind.
    QTest::newRow("weak ETag, strong date")
        << Http::Headers{{"ETag", "W/\"v1\""}, {"Last-Modified", modified}, {"Date", later}}
        << QByteArray();
    QTest::newRow("neither") << Http::Headers{{"Content-Type", "video/x-flv"}} << QByteArray();
    QTest::newRow("no date") << Http::Headers{{"Last-Modified", "W/yesterday"}, {"Date", later}}
                             << QByteArray();
}

void tst_HttpHeaders::resumeValidator() {
    QFETCH(Http::Headers, headers);
    QTEST(Http::ResumeValidator(headers), "validator");
}

QTEST_APPLESS_MAIN(tst_HttpHeaders)
#include "tst_HttpHeaders.moc"
