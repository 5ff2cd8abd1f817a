// What the desktop is told of a download and of a conversion, from start to each kind of end,
// through a stand-in session. The user works in another program: no window of ours is active.
#include "DesktopJob.h"
#include "FakeDesktopSession.h"

#include <QWidget>
#include <QtTest>

Q_DECLARE_METATYPE(DesktopJob::Kind)

class tst_DesktopJob : public QObject {
    Q_OBJECT
private slots:
    void fromStartToEnd_data() {
        QTest::addColumn<DesktopJob::Kind>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("startFile");
        QTest::addColumn<QString>("end"); // "finished", "failed" or "cancelled"
        QTest::addColumn<QString>("endFile");
        QTest::addColumn<QString>("told"); // the notification's body; empty: none
        const auto download = DesktopJob::Kind::Download;
        const auto conversion = DesktopJob::Kind::Conversion;
        QTest::newRow("download finished") << download << "Downloading a video"
                                           << ""
                                           << "finished"
                                           << "/v/Clip.flv"
                                           << "Clip.flv";
        QTest::newRow("download cancelled") << download << "Downloading a video"
                                            << ""
                                            << "cancelled"
                                            << ""
                                            << "";
        QTest::newRow("conversion took a free name") << conversion << "Converting a video"
                                                     << "/v/clip.avi"
                                                     << "finished"
                                                     << "/v/clip (2).avi"
                                                     << "clip (2).avi";
        QTest::newRow("conversion cancelled") << conversion << "Converting a video"
                                              << "/v/clip.avi"
                                              << "cancelled"
                                              << ""
                                              << "";
        QTest::newRow("conversion failed") << conversion << "Converting a video"
                                           << "/v/clip.avi"
                                           << "failed"
                                           << ""
                                           << "clip.avi";
    }
    void fromStartToEnd() {
        QFETCH(DesktopJob::Kind, kind);
        QFETCH(QString, reason);
        QFETCH(QString, startFile);
        QFETCH(QString, end);
        QFETCH(QString, endFile);
        QFETCH(QString, told);
        FakeDesktopSession session;
        QWidget window;
        auto* job = new DesktopJob(&window, kind);

        job->Started(startFile);
        QCOMPARE(session.inhibitReasons, QStringList{reason});
        QCOMPARE(session.held, 1);
        QVERIFY(session.launcher.last().progressVisible);
        QCOMPARE(session.launcher.last().progress, 0.0);
        job->Progress(1, 4);
        QCOMPARE(session.launcher.last().progress, 0.25);

        if (end == "cancelled")
            job->Stopped();
        else
            job->Finished("Done", end == "finished", endFile);
        QCOMPARE(session.held, 0);
        QVERIFY(!job->running());
        QVERIFY(!session.launcher.last().progressVisible);
        QCOMPARE(session.launcher.last().urgent, end == "failed");
        QCOMPARE(session.notifications.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QCOMPARE(session.notifications[0].notification.body, told);
    }
};

QTEST_MAIN(tst_DesktopJob)
#include "tst_DesktopJob.moc"
