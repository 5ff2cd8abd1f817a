// What the desktop is told of a download and of a conversion, from start to each kind of end,
// through a stand-in session. The user works in another program: no window of ours is active.
#include "DesktopJob.h"
#include "FakeDesktop.h"
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
        QTest::addColumn<QString>("told");    // the notification's body; empty: none
        QTest::addColumn<bool>("opensFiles"); // xdg-open is there to open the folder
        const auto download = DesktopJob::Kind::Download;
        const auto conversion = DesktopJob::Kind::Conversion;
        QTest::newRow("download finished") << download << "Downloading a video"
                                           << ""
                                           << "finished"
                                           << "/v/Clip.flv"
                                           << "Clip.flv" << true;
        // Without it Qt would hand the folder to a web browser: only "Show" is offered.
        QTest::newRow("download finished, no xdg-open") << download << "Downloading a video"
                                                        << ""
                                                        << "finished"
                                                        << "/v/Clip.flv"
                                                        << "Clip.flv" << false;
        QTest::newRow("download cancelled") << download << "Downloading a video"
                                            << ""
                                            << "cancelled"
                                            << ""
                                            << "" << true;
        QTest::newRow("conversion took a free name") << conversion << "Converting a video"
                                                     << "/v/clip.avi"
                                                     << "finished"
                                                     << "/v/clip (2).avi"
                                                     << "clip (2).avi" << true;
        QTest::newRow("conversion cancelled") << conversion << "Converting a video"
                                              << "/v/clip.avi"
                                              << "cancelled"
                                              << ""
                                              << "" << true;
        QTest::newRow("conversion failed") << conversion << "Converting a video"
                                           << "/v/clip.avi"
                                           << "failed"
                                           << ""
                                           << "clip.avi" << true;
    }
    void fromStartToEnd() {
        QFETCH(DesktopJob::Kind, kind);
        QFETCH(QString, reason);
        QFETCH(QString, startFile);
        QFETCH(QString, end);
        QFETCH(QString, endFile);
        QFETCH(QString, told);
        QFETCH(bool, opensFiles);
        FakeDesktopSession session;
        FakeDesktop desktop;
        desktop.opensFiles = opensFiles;
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
        if (told.isEmpty())
            return;
        QCOMPARE(session.notifications[0].notification.body, told);
        QCOMPARE(session.notifications[0].notification.actions.contains("Open folder"), opensFiles);
    }
};

QTEST_MAIN(tst_DesktopJob)
#include "tst_DesktopJob.moc"
