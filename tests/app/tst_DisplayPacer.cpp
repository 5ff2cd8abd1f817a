#include "DisplayPacer.h"

#include <QtTest>

class tst_DisplayPacer : public QObject {
    Q_OBJECT
private slots:
    void aBurstIsShownOnceAtOnceAndOnceAtTheEnd();
    void flushShowsWhatIsPendingAndStartsAfresh();
};

void tst_DisplayPacer::aBurstIsShownOnceAtOnceAndOnceAtTheEnd() {
    int shown = 0;
    int state = 0;
    int shownState = -1;
    DisplayPacer pacer([&] {
        ++shown;
        shownState = state;
    });
    // Without the event loop the interval cannot end: the burst after the first request waits.
    for (state = 1; state <= 1000; ++state)
        pacer.Request();
    --state;
    QCOMPARE(shown, 1);
    QCOMPARE(shownState, 1);
    QVERIFY(pacer.IsPending());
    QTRY_VERIFY(!pacer.IsPending());
    QCOMPARE(shown, 2);
    QCOMPARE(shownState, 1000);
    // Nothing new: the interval ends without showing anything.
    QTest::qWait(3 * DisplayPacer::DefaultIntervalMs);
    QCOMPARE(shown, 2);
}

void tst_DisplayPacer::flushShowsWhatIsPendingAndStartsAfresh() {
    int shown = 0;
    DisplayPacer pacer([&] { ++shown; });
    pacer.Flush();
    QCOMPARE(shown, 0);
    pacer.Request();
    pacer.Request();
    QCOMPARE(shown, 1);
    pacer.Flush();
    QCOMPARE(shown, 2);
    QVERIFY(!pacer.IsPending());
    // After a flush the next request is shown at once.
    pacer.Request();
    QCOMPARE(shown, 3);
}

QTEST_GUILESS_MAIN(tst_DisplayPacer)
#include "tst_DisplayPacer.moc"
