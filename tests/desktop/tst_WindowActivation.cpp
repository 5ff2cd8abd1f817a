// Reading the desktop's launch tokens and writing the message that ends launch feedback.
#include "WindowActivation.h"
#include <QtTest>

class tst_WindowActivation : public QObject {
    Q_OBJECT
private slots:
    void launchTokens() {
        QVERIFY(WindowActivation::IsLaunchToken("kwin-123_TIME98765"));
        QVERIFY(WindowActivation::IsLaunchToken("gnome-shell/Files/2345-1-host_TIME55"));
        QVERIFY(!WindowActivation::IsLaunchToken(""));
        QVERIFY(!WindowActivation::IsLaunchToken("two words"));
        QVERIFY(!WindowActivation::IsLaunchToken("line\nbreak"));
        QVERIFY(!WindowActivation::IsLaunchToken(QByteArray(257, 'x')));
    }

    void timeOfTheClick_data() {
        QTest::addColumn<QByteArray>("startupId");
        QTest::addColumn<uint>("time");
        QTest::newRow("usual") << QByteArray("kwin-2071-1-host-0_TIME2734521") << 2734521u;
        QTest::newRow("marker twice") << QByteArray("a_TIMEb_TIME7") << 7u;
        QTest::newRow("no time") << QByteArray("0_launcher") << 0u;
        QTest::newRow("not a number") << QByteArray("x_TIMEsoon") << 0u;
        QTest::newRow("too large") << QByteArray("x_TIME99999999999") << 0u;
    }
    void timeOfTheClick() {
        QFETCH(QByteArray, startupId);
        QFETCH(uint, time);
        QCOMPARE(WindowActivation::StartupIdTime(startupId), time);
    }

    void removalMessageInPieces() {
        const QByteArray id("kwin-2071-1-host-0_TIME2734521");
        const QList<QByteArray> pieces = WindowActivation::StartupRemovalPieces(id);
        QCOMPARE(pieces.join(), "remove: ID=\"" + id + "\"" + '\0');
        for (int i = 0; i + 1 < pieces.size(); ++i)
            QCOMPARE(pieces[i].size(), 20);
        // Quotes and backslashes are escaped inside the quoted value.
        QCOMPARE(WindowActivation::StartupRemovalPieces("a\"b\\c").join(),
                 QByteArray("remove: ID=\"a\\\"b\\\\c\"") + '\0');
    }
};

QTEST_GUILESS_MAIN(tst_WindowActivation)
#include "tst_WindowActivation.moc"
