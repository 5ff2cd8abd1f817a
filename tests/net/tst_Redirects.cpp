#include "Redirects.h"

#include <QtTest>

class tst_Redirects : public QObject {
    Q_OBJECT
private slots:
    void statusesThatRedirect();
    void hops_data();
    void hops();
    void hopLimit();
};

void tst_Redirects::statusesThatRedirect() {
    for (int status : {301, 302, 303, 305, 307, 308})
        QVERIFY(Redirects::IsRedirectStatus(status));
    for (int status : {200, 300, 304, 306, 404})
        QVERIFY(!Redirects::IsRedirectStatus(status));
}

void tst_Redirects::hops_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("followed");
    const QString from = "http://www.youtube.com/get_video.php?video_id=a&t=b";
    QTest::newRow("absolute") << from << QByteArray("http://cache.example/v.flv")
                              << "http://cache.example/v.flv" << true;
    QTest::newRow("relative") << from << QByteArray(" /media/v.flv ")
                              << "http://www.youtube.com/media/v.flv" << true;
    QTest::newRow("to https") << from << QByteArray("https://cache.example/v.flv")
                              << "https://cache.example/v.flv" << true;
    QTest::newRow("https to https")
        << "https://a.example/x" << QByteArray("//b.example/y") << "https://b.example/y" << true;
    QTest::newRow("https to http")
        << "https://a.example/x" << QByteArray("http://b.example/y") << "" << false;
    QTest::newRow("other scheme") << from << QByteArray("file:///etc/passwd") << "" << false;
}

void tst_Redirects::hops() {
    QFETCH(QString, from);
    QFETCH(QByteArray, location);
    QFETCH(QString, target);
    QFETCH(bool, followed);
    const Redirects::Hop hop = Redirects::Next(QUrl(from), location, 0);
    QCOMPARE(hop.target.toString(), target);
    QCOMPARE(hop.refusal,
             followed ? Redirects::Hop::Refusal::None : Redirects::Hop::Refusal::LessSafeScheme);
}

void tst_Redirects::hopLimit() {
    const QUrl from("http://www.youtube.com/a");
    QVERIFY(Redirects::Next(from, "/b", Redirects::MaxHops - 1).target.isValid());
    const Redirects::Hop last = Redirects::Next(from, "/b", Redirects::MaxHops);
    QCOMPARE(last.refusal, Redirects::Hop::Refusal::TooManyHops);
    QVERIFY(!last.target.isValid());
}

QTEST_GUILESS_MAIN(tst_Redirects)
#include "tst_Redirects.moc"
