#include "AeroButton.h"
#include "DesktopJob.h"
#include "FakeDesktop.h"
#include "FakeDesktopSession.h"
#include "HtmlView.h"
#include "LoopbackHttpServer.h"
#include "MakerSite.h"
#include "Nabrix.h"
#include "OutputFolder.h"
#include "PageReading.h"
#include "ProgressBar.h"
#include "RegEdit.h"
#include "SavedSettings.h"
#include "Startup.h"
#include "TestHome.h"
#include "WaitingAddresses.h"
#include "YtDlpProgram.h"
#include "frmAbout.h"
#include "frmConvert.h"
#include "frmMain.h"
#include "modNabrix.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QNetworkProxyFactory>
#include <QPlainTextEdit>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

using Response = LoopbackHttpServer::Response;

namespace {
const QString kSetting = QStringLiteral("Youtube Video output path");
const QString kVideoPage = QStringLiteral("http://www.youtube.com/watch?v=abc123");

// The workflow state spelled by the enabled flags of Download, Cancel and the destination.
QString stateOf(const frmMain& w) {
    const int flags =
        w.cmdDownload->isEnabled() * 4 + w.cmdCancel->isEnabled() * 2 + w.frmDest->isEnabled();
    switch (flags) {
    case 5:
        return "Idle";
    case 0:
        return "FetchingPage";
    case 2:
        return "Downloading"; // DownloadFailed has the same flags
    default:
        return QString("flags %1").arg(flags);
    }
}

void moveMouseOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(widget);
    return shown ? shown->text(QAccessible::Name) : QString();
}

// Drops `mime` on `target` as a drag from another program would end.
bool drop(QWidget* target, QMimeData& mime) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

void useYtDlp(const QString& program) {
    SettingsStore().WriteKey(YtDlpProgram::kProgramSetting, program);
    YtDlpProgram::ForgetVersion();
}

QString caption(const char* prefix, qint64 current, qint64 maximum) {
    return prefix + modNabrix::FormatByteSize(current) + " / " + modNabrix::FormatByteSize(maximum);
}
} // namespace

class tst_frmMain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensAtTheWorkedExampleAndFollowsResizing();
    void loadReadsTheStoredFolderOrTheDefaultAndMakesIt();
    void damagedSettingsGiveBothWindowsTheDefaultFolder();
    void browseStoresTheFolderEvenWhenCancelled();
    void typedFolderExpandsHomeAndRefusesRelativePaths();
    void qualityChoiceIsRememberedAndHandedToTheFetcher();
    void openHomeAndUpdateReportFailures();
    void convertAndAboutOpenTheirWindows();
    void clipboardAddressIsPastedOnlyIntoAnAlmostEmptyBox();
    void unansweringClipboardOwnerNeverHoldsTheWindow();
    void shortAddressesAskTheBrowserAndEnterPressesDownload();
    void stateTableFromDownloadToComplete();
    void failuresAndCancel();
    void pagesOfTodayEndEveryErrorInIdle_data();
    void pagesOfTodayEndEveryErrorInIdle();
    void readingAPageOfTodayIsBusyAndCancels();
    void closingDuringADownloadAsksAndStoresNothing();
    void progressIsShownAtTheEyesPaceAndEndsOnTheLastState();
    void downloadsThroughTheRealFetcher();
    void addressesHandedInDownloadAsTheButtonWould();
    void addressTypedWhileBusyWaitsItsTurn();
    void longAddressesFromALaterStartArriveWholeOrNotAtAll();
    void addressesLeftOutAreToldOnce();
    void waitingAddressesRefusedAtOnceShowOneBoxAtATime();
    void screenReadersNameEveryControlAndEscapeClosesTheDialog();

private:
    std::unique_ptr<frmMain> startDownloadThatStallsOnThePage();

    LoopbackHttpServer server_;
    std::unique_ptr<TestHome> home_;
    std::unique_ptr<FakeDesktop> desktop_;
    std::unique_ptr<FakeDesktopSession> session_;
};

void tst_frmMain::initTestCase() {
    // Every request of the program, the advertisement pane's included, reaches this server.
    QVERIFY(server_.listen());
    qputenv("http_proxy", server_.proxyAddress());
    qunsetenv("no_proxy");
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void tst_frmMain::init() {
    home_ = std::make_unique<TestHome>();
    desktop_ = std::make_unique<FakeDesktop>();
    session_ = std::make_unique<FakeDesktopSession>();
    server_.clearRoutes();
    server_.route("/ads.html", Response::Fixed("<html><body>Our products</body></html>"));
}

void tst_frmMain::cleanup() {
    session_.reset();
    desktop_.reset();
    home_.reset();
}

void tst_frmMain::opensAtTheWorkedExampleAndFollowsResizing() {
    frmMain w;
    QCOMPARE(w.windowTitle(), "Vantelo 1.5.1");
    QCOMPARE(w.size(), QSize(711, 543));
    QCOMPARE(w.cmdDownload->geometry(), QRect(620, 16, 81, 21));
    QCOMPARE(w.cmdBrowse->geometry(), QRect(347, 24, 65, 23));
    QCOMPARE(w.Adds->geometry(), QRect(8, 243, 695, 290));
    QVERIFY(w.PicPreview->isHidden() && !w.Image1->isHidden());
    QCOMPARE(w.Image1->geometry(), w.PicPreview->geometry());
    QCOMPARE(stateOf(w), "Idle");
    QCOMPARE(w.Adds->LocationURL(), MakerSite::AdsPage);

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(711 + 100, 543 + 40);
    QCOMPARE(w.cmdDownload->x(), 620 + 100);
    QCOMPARE(w.txtDest->width(), 331 + 100);
    QCOMPARE(w.Adds->size(), QSize(695 + 100, 290 + 40));
    QCOMPARE(w.cmdAbout->pos(), QPoint(408, 208));

    auto geometries = [&] {
        QList<QRect> all;
        for (const QWidget* child : w.findChildren<QWidget*>())
            all << child->geometry();
        return all;
    };
    const QList<QRect> before = geometries();
    w.setWindowState(Qt::WindowMinimized);
    w.setWindowState(Qt::WindowNoState);
    QCOMPARE(geometries(), before);
    w.resize(10, 10); // too small: the rules that would go negative are skipped
    QCOMPARE(w.Adds->width(), 795);
    QVERIFY(desktop_->messages.isEmpty());
}

void tst_frmMain::loadReadsTheStoredFolderOrTheDefaultAndMakesIt() {
    const QString fallback = home_->path() + "/Documents/Morvane/Vantelo";
    {
        frmMain w;
        QCOMPARE(w.txtDest->text(), fallback);
        QVERIFY(QFileInfo(fallback).isDir());
    }
    const QString stored = home_->path() + "/videos/from the web";
    SettingsStore().WriteKey(kSetting, stored);
    {
        frmMain w;
        QCOMPARE(w.txtDest->text(), stored);
        QVERIFY(QFileInfo(stored).isDir());
    }
    SettingsStore().WriteKey(kSetting, "   ");
    frmMain w;
    QCOMPARE(w.txtDest->text(), fallback);
}

void tst_frmMain::damagedSettingsGiveBothWindowsTheDefaultFolder() {
    const QString fallback = home_->path() + "/Documents/Morvane/Vantelo";
    const QString debris = home_->path() + "/debris";
    QVERIFY(QDir().mkpath(QFileInfo(home_->settingsFile()).path()));
    QFile damaged(home_->settingsFile());
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("[General]\nYoutube%20Video%20output%20path=" + debris.toUtf8() +
                  "\n[broken\n\x01 junk=\"open\n");
    damaged.close();
    frmMain w;
    QCOMPARE(w.txtDest->text(), fallback);
    w.cmdConvert->click();
    QCOMPARE(w.ConvertDialog()->txtDest->text(), fallback);
    frmMain again;
    QCOMPARE(again.txtDest->text(), fallback);
    QVERIFY(!QFileInfo::exists(debris));
}

void tst_frmMain::browseStoresTheFolderEvenWhenCancelled() {
    frmMain w;
    const QString typed = home_->path() + "/typed";
    w.txtDest->setText(typed);
    w.cmdBrowse->click();
    QCOMPARE(desktop_->folderRequests.value(0), QStringList({"Browse for Folder", typed}));
    QCOMPARE(SettingsStore().LoadKey(kSetting, QString()), typed);
    // Stored as the folder it names: the conversion dialog reads the same value.
    w.txtDest->setText("~/Videos");
    w.cmdBrowse->click();
    const QString videos = home_->path() + "/Videos";
    QCOMPARE(desktop_->folderRequests.value(1), QStringList({"Browse for Folder", videos}));
    QCOMPARE(w.txtDest->text(), videos);
    QCOMPARE(SettingsStore().LoadKey(kSetting, QString()), videos);

    desktop_->folderAnswer = home_->path() + "/picked";
    w.cmdBrowse->click();
    QCOMPARE(w.txtDest->text(), desktop_->folderAnswer);
    QCOMPARE(SettingsStore().LoadKey(kSetting, QString()), desktop_->folderAnswer);
}

void tst_frmMain::typedFolderExpandsHomeAndRefusesRelativePaths() {
    server_.route("/watch", Response::Fixed("<html>"));
    frmMain w;
    w.txtSource->setText(kVideoPage);
    for (const QString relative : {"relative/dir", "~other/dir", ""}) {
        w.txtDest->setText(relative);
        w.cmdDownload->click();
        QCOMPARE(stateOf(w), "Idle");
        QCOMPARE(desktop_->messages.takeLast().text, OutputFolder::NotAFullPathText());
    }
    QVERIFY(!QFileInfo::exists("relative") && !QFileInfo::exists("~other"));
    // A stored relative folder is made by neither window as it loads.
    OutputFolder::Save("stored/relative");
    frmMain again;
    again.cmdConvert->click();
    QVERIFY(again.ConvertDialog() && !QFileInfo::exists("stored"));

    w.txtDest->setText("~/Videos");
    w.cmdDownload->click();
    QCOMPARE(w.txtDest->text(), home_->path() + "/Videos");
    QVERIFY(QFileInfo(home_->path() + "/Videos").isDir());
    QVERIFY(desktop_->messages.isEmpty());
}

void tst_frmMain::qualityChoiceIsRememberedAndHandedToTheFetcher() {
    server_.route("/watch", Response::Fixed("<html>"));
    const auto openMenu = [](frmMain& w) {
        delete w.cmdDownload->findChild<QMenu*>("QualityMenu");
        emit w.cmdDownload->customContextMenuRequested(QPoint(2, 2));
        QMenu* menu = w.cmdDownload->findChild<QMenu*>("QualityMenu");
        QStringList shown;
        for (QAction* action : menu ? menu->actions() : QList<QAction*>())
            shown << action->text() + (action->isChecked() ? "*" : "");
        return std::make_pair(menu, shown);
    };
    frmMain w;
    auto [menu, shown] = openMenu(w);
    QVERIFY(menu);
    QCOMPARE(shown, QStringList({"Best quality*", "Up to 2160p", "Up to 1440p", "Up to 1080p",
                                 "Up to 720p", "Up to 480p", "Up to 360p", "Sound only"}));
    menu->actions().at(4)->trigger();
    QCOMPARE(SettingsStore().LoadKey(
                 SavedSettings::StoredName(SavedSettings::FetchSetting::MaxHeight), QString()),
             QStringLiteral("720"));
    frmMain again;
    QCOMPARE(openMenu(again).second.at(4), QStringLiteral("Up to 720p*"));
    again.txtSource->setText(kVideoPage);
    again.Nabrix1->SetMaxHeight(0);
    again.cmdDownload->click();
    QCOMPARE(again.Nabrix1->maxHeight(), 720);

    // A page of today lists every stream it offers, as long as the box holds its address.
    SettingsStore().WriteKey(YtDlpProgram::kProgramSetting, "/nonexistent/yt-dlp");
    server_.route("/sources", Response::Fixed(R"(<title>Sources</title><video>
<source src="/media/clip_360p.mp4"><source src="/media/b.mp4" res="720" type='video/mp4; codecs="avc1.4d401f"'>
<source src="/media/a.mp4" data-res="1080"></video><audio src="/media/a.m4a"></audio>)"));
    server_.route("/media/b.mp4", Response::Generated(4096, "video/mp4"));
    // The download started above is kept as interrupted; a new window would take it up first.
    WaitingAddresses::Remove(kVideoPage);
    frmMain today;
    today.txtSource->setText("http://site.example/sources");
    today.cmdDownload->click();
    QTRY_VERIFY(!today.Nabrix1->LastOffer().streams.isEmpty());
    QCOMPARE(openMenu(today).second.mid(8),
             QStringList({"", "1080p", QString::fromUtf8("720p · avc1"), "360p", "Sound only"}));
    today.txtSource->setText("http://site.example/another");
    QCOMPARE(openMenu(today).second.size(), 8);
}

void tst_frmMain::openHomeAndUpdateReportFailures() {
    frmMain w;
    w.cmdOpen->click();
    w.cmdHome->click();
    w.cmdUpdate->click();
    QCOMPARE(desktop_->openedUrls,
             QList<QUrl>({QUrl::fromLocalFile(w.txtDest->text()), QUrl(MakerSite::HomePage),
                          QUrl(MakerSite::ProductPage)}));
    QVERIFY(desktop_->messages.isEmpty());

    desktop_->openSucceeds = false;
    w.cmdOpen->click();
    w.cmdHome->click();
    w.cmdUpdate->click();
    QCOMPARE(desktop_->messages.size(), 3);
    QCOMPARE(desktop_->messages[0].text, "An error occurd!");
    QCOMPARE(desktop_->messages[0].style, int(vbCritical));
    const QString offline = "An error has occured while trying to connect to the internet\r\n"
                            "Please ensure that your internet connection is functioning "
                            "correctly and try again.";
    for (int i : {1, 2}) {
        QCOMPARE(desktop_->messages[i].text, offline);
        QCOMPARE(desktop_->messages[i].style, int(vbInformation));
    }
    for (const FakeDesktop::Message& message : desktop_->messages)
        QCOMPARE(message.title, "Error!");
}

void tst_frmMain::convertAndAboutOpenTheirWindows() {
    frmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.cmdConvert->click();
    frmConvert* dialog = w.ConvertDialog();
    QVERIFY(dialog && dialog->isVisible() && dialog->isWindow() && !dialog->isModal());
    QCOMPARE(dialog->parentWidget(), &w);
    w.cmdConvert->click();
    QCOMPARE(w.ConvertDialog(), dialog);
    dialog->close(); // closed by the user, it is loaded afresh next time
    w.cmdConvert->click();
    QVERIFY(w.ConvertDialog()->isVisible());
    QCOMPARE(w.findChildren<frmConvert*>().size(), 1);

    QWidget* aboutOwner = nullptr;
    QTimer::singleShot(0, [&] {
        if (auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget())) {
            aboutOwner = about->parentWidget();
            about->cmdClose->click();
        }
    });
    w.cmdAbout->click();
    QCOMPARE(aboutOwner, &w);
    QVERIFY(w.findChildren<frmAbout*>().isEmpty());

    QVERIFY(w.close()); // unloads the conversion dialog too
    QVERIFY(!w.ConvertDialog()->isVisible());
}

void tst_frmMain::clipboardAddressIsPastedOnlyIntoAnAlmostEmptyBox() {
    frmMain w;
    desktop_->setClipboard(kVideoPage);
    moveMouseOver(w.txtSource);
    // the fetcher repairs the scheme
    QTRY_COMPARE(w.txtSource->text(), "http://" + kVideoPage);
    moveMouseOver(w.txtSource);
    QCOMPARE(w.txtSource->text(), "http://" + kVideoPage);
    w.txtSource->setText("http:/");
    moveMouseOver(w.txtSource);
    QCOMPARE(w.txtSource->text(), "http:/");
    w.txtSource->clear();
    moveMouseOver(w.txtSource);
    QTRY_COMPARE(w.txtSource->text(), kVideoPage);
    w.txtSource->setText("http://");
    desktop_->setClipboard("http://www.YouTube.com/watch?v=abc"); // the test is case-sensitive
    moveMouseOver(w.txtSource);
    QTest::qWait(100);
    QCOMPARE(w.txtSource->text(), "http://");
    // A page of another site is taken whole.
    w.txtSource->clear();
    desktop_->setClipboard("https://vimeo.example/1");
    moveMouseOver(w.txtSource);
    QTRY_COMPARE(w.txtSource->text(), "https://vimeo.example/1");
}

namespace {
// A clipboard owner that does not answer: each read waits until the test lets it go.
class UnansweringClipboard : public FakeDesktop {
public:
    QString clipboardText() override {
        ++reads;
        answer.acquire();
        return clipboard;
    }
    std::atomic<int> reads{0};
    QSemaphore answer;
};
} // namespace

void tst_frmMain::unansweringClipboardOwnerNeverHoldsTheWindow() {
    desktop_.reset();
    auto owner = std::make_unique<UnansweringClipboard>();
    UnansweringClipboard& clipboard = *owner;
    clipboard.setClipboard(kVideoPage);
    frmMain w;
    int beats = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, [&] { ++beats; });
    heartbeat.start(10);
    qint64 longestMove = 0;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        moveMouseOver(w.txtSource);
        longestMove = std::max(longestMove, clock.elapsed());
        QTest::qWait(15);
    }
    QVERIFY2(longestMove < 100, qPrintable(QString::number(longestMove) + " ms"));
    QVERIFY(beats >= 10); // the event loop kept turning
    QCOMPARE(clipboard.reads.load(), 1);
    QCOMPARE(w.txtSource->text(), "http://");

    clipboard.answer.release(); // the owner answers at last
    QTRY_COMPARE(w.txtSource->text(), "http://" + kVideoPage);
    // Known now: pasted again at once, without asking the owner again.
    w.txtSource->setText("http://");
    moveMouseOver(w.txtSource);
    QCOMPARE(w.txtSource->text(), "http://" + kVideoPage);
    QCOMPARE(clipboard.reads.load(), 1);

    // A box that could not take the address never asks, whatever the clipboard does.
    clipboard.setClipboard(kVideoPage + "&t=1");
    moveMouseOver(w.txtSource);
    QCOMPARE(clipboard.reads.load(), 1);
    // After a change, an almost empty box asks once more.
    w.txtSource->clear();
    moveMouseOver(w.txtSource);
    moveMouseOver(w.txtSource);
    QTRY_COMPARE(clipboard.reads.load(), 2);
    QTest::qWait(50);
    QCOMPARE(clipboard.reads.load(), 2);
    clipboard.answer.release();
    QTRY_COMPARE(w.txtSource->text(), kVideoPage + "&t=1");
}

void tst_frmMain::shortAddressesAskTheBrowserAndEnterPressesDownload() {
    frmMain w;
    int asked = 0;
    QString shown;
    w.SetBrowserPickup([&] {
        ++asked;
        return shown;
    });
    const QString folder = home_->path() + "/new/output";
    w.txtDest->setText(folder);
    w.txtSource->setText("http:/ab/"); // nine characters
    w.cmdDownload->click();
    QCOMPARE(asked, 1);
    QCOMPARE(w.txtSource->text(), "http:/ab/");
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(stateOf(w), "Idle"); // the fetcher refused the address at once

    shown = "http://example.org/shown";
    w.txtSource->setText("http:/abc/"); // ten characters go to the fetcher unchanged
    w.cmdDownload->click();
    QCOMPARE(asked, 1);

    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.txtSource->setFocus();
    QTest::keyClick(w.txtSource, Qt::Key_Backspace);
    QTest::keyClick(w.txtSource, Qt::Key_Return);
    QTRY_COMPARE(asked, 2);
    QCOMPARE(w.txtSource->text(), shown);
}

std::unique_ptr<frmMain> tst_frmMain::startDownloadThatStallsOnThePage() {
    Response stalled = Response::Fixed("<html>");
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    server_.route("/watch", stalled);
    auto w = std::make_unique<frmMain>();
    w->txtSource->setText(kVideoPage);
    w->cmdDownload->click();
    return w;
}

void tst_frmMain::stateTableFromDownloadToComplete() {
    const auto w = startDownloadThatStallsOnThePage();
    // The user watches the window: the end is told by the box alone.
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QCOMPARE(stateOf(*w), "FetchingPage");
    QCOMPARE(session_->held, 1);
    emit w->Nabrix1->DownloadProgress(512, 2048);
    QCOMPARE(w->FrmInfo->title(), caption("Recieving YouTube Data : ", 512, 2048));
    QCOMPARE(w->Prg->value(), 512);
    // The page is not the job's share: the launcher waits for the video.
    QCOMPARE(session_->launcher.last().progress, 0.0);
    emit w->Nabrix1->DownloadProgress(2097152, 0); // no length announced
    // Reports that follow each other closely are shown at the eye's pace.
    QTRY_COMPARE(w->FrmInfo->title(), "Recieving YouTube Data : 2.00 MB");
    emit w->Nabrix1->VideoData("Sample Clip", "", "", "", "", "");
    emit w->Nabrix1->PhaseStarted(Nabrix::Phase::Video);
    QCOMPARE(stateOf(*w), "Downloading");
    QCOMPARE(w->lblSize->text(), "Name : Sample Clip");
    emit w->Nabrix1->DownloadProgress(1268776, 5242880);
    QCOMPARE(w->FrmInfo->title(), caption("Downloading : ", 1268776, 5242880));
    QCOMPARE(w->Prg->maximum(), 5242880);
    QCOMPARE(w->Prg->text(), "24 %");
    QCOMPARE(session_->launcher.last().progress, 1268776.0 / 5242880.0);
    // Past every 32-bit count: the caption and the share stay true.
    emit w->Nabrix1->DownloadProgress(Q_INT64_C(3) << 30, Q_INT64_C(4608) << 20);
    QTRY_COMPARE(w->FrmInfo->title(), "Downloading : 3.00 GB / 4.50 GB");
    QCOMPARE(w->Prg->text(), "66 %");
    w->cmdCancel->setFocus();
    emit w->Nabrix1->DownloadComplete();
    QCOMPARE(stateOf(*w), "Idle");
    // Ready for the next address.
    QCOMPARE(QApplication::focusWidget(), w->txtSource);
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(w->Prg->maximum(), 5);
    QCOMPARE(w->FrmInfo->title(), "Information");
    QVERIFY(!w->PicPreview->isHidden());
    QCOMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text, "Download Complete");
    QCOMPARE(desktop_->messages[0].style, int(vbInformation));
    QCOMPARE(desktop_->messages[0].title, "Vantelo");
    QVERIFY(session_->notifications.isEmpty());
    QCOMPARE(session_->held, 0);
    QVERIFY(!session_->launcher.last().progressVisible);
}

void tst_frmMain::failuresAndCancel() {
    const auto w = startDownloadThatStallsOnThePage();
    emit w->Nabrix1->InvalidUrl();
    QCOMPARE(stateOf(*w), "Idle");
    QVERIFY(desktop_->messages.isEmpty());

    // The page request fails: back to Idle with the reason.
    w->cmdDownload->click();
    emit w->Nabrix1->DownloadProgress(100, 1000);
    emit w->Nabrix1->InfoError("Host not found");
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->FrmInfo->title(), "Information");
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(desktop_->messages.value(0).text, "Error:Host not found");
    QCOMPARE(desktop_->messages.value(0).style, int(vbOKOnly));

    // The transfer fails: the state stays until the user cancels.
    w->cmdDownload->click();
    emit w->Nabrix1->VideoData("Clip", "", "", "", "", "");
    emit w->Nabrix1->DownloadError("Connection closed");
    QCOMPARE(desktop_->messages.value(1).text, "Error:Connection closed");
    QCOMPARE(desktop_->messages.value(1).title, "Vantelo");
    QCOMPARE(stateOf(*w), "Downloading");
    desktop_->answer = vbNo;
    w->cmdCancel->click();
    QCOMPARE(desktop_->messages.value(2).text, "Do you want to abort current download?");
    QCOMPARE(desktop_->messages.value(2).style, int(vbYesNo));
    QCOMPARE(stateOf(*w), "Downloading");
    desktop_->answer = vbYes;
    w->cmdCancel->click();
    QCOMPARE(stateOf(*w), "Idle");
    QVERIFY(w->PicPreview->isHidden());
}

void tst_frmMain::pagesOfTodayEndEveryErrorInIdle_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("deadlineMs"); // for the page's reading
    QTest::addColumn<QString>("error");  // a part of the message
    QTest::newRow("live stream") << "http://news.example/hls/master.m3u8" << 10000
                                 << "live.m3u8 is a live stream";
    QTest::newRow("no video") << "http://news.example/words" << 10000 << "No video was found";
    QTest::newRow("page's HTTP error") << "http://news.example/gone" << 10000 << "404";
    QTest::newRow("video's HTTP error") << "http://news.example/broken" << 10000 << "403";
    QTest::newRow("deadline") << "http://news.example/trickle" << 1000
                              << "did not arrive within 1 s";
    // Typed without its scheme: https first, then http once when https cannot connect.
    QTest::newRow("no scheme") << "news.example/words" << 10000
                               << "No video was found on this page: http://news.example/words";
}

void tst_frmMain::pagesOfTodayEndEveryErrorInIdle() {
    QFETCH(QString, address);
    QFETCH(int, deadlineMs);
    QFETCH(QString, error);
    useYtDlp("/nonexistent/yt-dlp");
    server_.route("/hls/master.m3u8", Response::Fixed("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800000,"
                                                      "RESOLUTION=640x360\nlive.m3u8\n",
                                                      "application/vnd.apple.mpegurl"));
    server_.route("/hls/live.m3u8",
                  Response::Fixed("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg0.ts\n",
                                  "application/vnd.apple.mpegurl"));
    server_.route("/words", Response::Fixed("<html><title>Words</title><p>No video.</p>"));
    server_.route("/gone", Response::Status(404, "Not Found"));
    server_.route("/broken", Response::Fixed("<html><meta property='og:video:url' "
                                             "content='/media/clip.mp4'></html>"));
    server_.route("/media/clip.mp4", Response::Status(403, "Forbidden"));
    Response trickling = Response::Fixed("<html><title>never</title>" + QByteArray(4096, ' '));
    trickling.bytesPerSecond = 1;
    server_.route("/trickle", trickling);
    frmMain w;
    w.Nabrix1->setPageDeadline(deadlineMs);
    w.txtSource->setText(address);
    w.cmdDownload->click();
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 1, 20000);
    const QString told = desktop_->messages[0].text;
    QVERIFY2(told.startsWith("Error:") && told.contains(error), qPrintable(told));
    QCOMPARE(stateOf(w), "Idle");
    QCOMPARE(w.FrmInfo->title(), "Information");
    QVERIFY(!w.Prg->isBusy());
}

void tst_frmMain::readingAPageOfTodayIsBusyAndCancels() {
    useYtDlp(VANTELO_STAND_IN_YT_DLP);
    // Our reader finds nothing here; the stand-in yt-dlp keeps its answer back.
    server_.route("/slow", Response::Fixed("<html><title>Slow</title><p>Read on.</p>"));
    const auto w = startDownloadThatStallsOnThePage();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    emit w->Nabrix1->VideoData("Earlier clip", "", "", "", "", "");
    emit w->Nabrix1->DownloadComplete();
    w->txtSource->setText("http://news.example/slow");
    w->cmdDownload->click();
    const PageReading* reading = w->Nabrix1->TodaysPageReading();
    QTRY_VERIFY(reading->YtDlpGroup() != 0);
    const pid_t group = pid_t(reading->YtDlpGroup());
    QTest::qWait(300); // the page itself has arrived meanwhile
    QVERIFY(w->Prg->isBusy());
    QCOMPARE(w->Prg->text(), QString::fromUtf8("Reading the video page\u2026"));
    QCOMPARE(w->FrmInfo->title(), QString::fromUtf8("Reading the video page\u2026"));
    QCOMPARE(w->lblSize->text(), "File Name : ");
    QVERIFY(w->cmdCancel->isEnabled() && !w->cmdDownload->isEnabled());
    // No picture yet: the idle player shows, not a blank pane.
    QVERIFY(w->PicPreview->isHidden());

    w->cmdCancel->setFocus();
    desktop_->answer = vbYes;
    w->cmdCancel->click();
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->FrmInfo->title(), "Cancelled");
    QVERIFY(!w->Prg->isBusy());
    QCOMPARE(reading->YtDlpGroup(), 0);
    QTRY_VERIFY(::kill(-group, 0) != 0);
    QCOMPARE(QApplication::focusWidget(), w->txtSource);
}

void tst_frmMain::closingDuringADownloadAsksAndStoresNothing() {
    const auto w = startDownloadThatStallsOnThePage();
    w->show();
    emit w->Nabrix1->VideoData("Clip", "", "", "", "", "");
    emit w->Nabrix1->DownloadProgress(4096, 10000);
    QCOMPARE(session_->held, 1);
    QVERIFY(w->close());
    QVERIFY(desktop_->messages.isEmpty());
    QCOMPARE(stateOf(*w), "Idle");
    // The download ends with the window: the machine may sleep, the launcher shows nothing.
    QCOMPARE(session_->held, 0);
    QVERIFY(!session_->launcher.last().progressVisible);
    // Nothing is stored at closing; the address under way was kept when it started, and stays
    // for the next start.
    QCOMPARE(SettingsStore().LoadKey(kSetting, QString()), QString());
    QCOMPARE(WaitingAddresses::Load(), QStringList{kVideoPage});
}

namespace {
// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
};
} // namespace

void tst_frmMain::progressIsShownAtTheEyesPaceAndEndsOnTheLastState() {
    const auto w = startDownloadThatStallsOnThePage();
    qint64 now = 1000000;
    w->SetPaceClock([&now] { return now; });
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    emit w->Nabrix1->VideoData("Clip", "", "", "", "", "");
    emit w->Nabrix1->PhaseStarted(Nabrix::Phase::Video);
    QCoreApplication::processEvents();
    PaintCounter others;
    w->cmdCancel->installEventFilter(&others);
    w->lblSize->installEventFilter(&others);
    constexpr qint32 chunk = 65536;
    constexpr int chunks = 400;
    int shownCaptions = 0;
    QString shown = w->FrmInfo->title();
    constexpr qint64 total = 2 * chunks * chunk;
    for (int i = 1; i <= chunks; ++i) {
        emit w->Nabrix1->DownloadProgress(i * chunk, total);
        shownCaptions += w->FrmInfo->title() != shown;
        shown = w->FrmInfo->title();
    }
    // Without the event loop only the first report of the burst is shown; the last one follows.
    QCOMPARE(shownCaptions, 1);
    QTRY_COMPARE(w->FrmInfo->title(), caption("Downloading : ", chunks * chunk, total));
    QCOMPARE(w->Prg->value(), chunks * chunk);
    QTest::qWait(100);
    // New captions repaint the caption, never the controls inside the frame.
    QCOMPARE(others.count, 0);
    // The speed and the time left follow once a few seconds of pace have been seen, worded as
    // the conversion's; screen readers hear the time left as the bar's value.
    QCOMPARE(w->Prg->text(), "50 %");
    now += 4000;
    emit w->Nabrix1->DownloadProgress(chunk + 13107200, total);
    QTRY_COMPARE(w->Prg->text(), QString::fromUtf8("25 % · 3.1 MB/s · 12 s left"));
    QCOMPARE(QAccessible::queryAccessibleInterface(w->Prg)->text(QAccessible::Value), "12 s left");
    // A retry's wait is told until the next try brings bytes; its pace starts afresh.
    emit w->Nabrix1->RetryWaiting(8000, 2, 5);
    QCOMPARE(w->Prg->text(), "Retrying in 8 s (2 of 5)");
    QTRY_COMPARE(w->Prg->text(), "Retrying in 7 s (2 of 5)");
    emit w->Nabrix1->DownloadProgress(0, total);
    QTRY_COMPARE(w->Prg->text(), "0 %");
    // A resumed transfer's first count holds the bytes already on disk; the speed is only of
    // the bytes that came in this run.
    constexpr qint64 onDisk = total / 4;
    emit w->Nabrix1->DownloadProgress(onDisk, total);
    now += 4000;
    emit w->Nabrix1->DownloadProgress(onDisk + 8000000, total);
    QTRY_VERIFY2(w->Prg->text().startsWith(QString::fromUtf8("40 % · 1.9 MB/s · ")),
                 qPrintable(w->Prg->text()));

    // The end of the transfer is not overwritten by a report still waiting to be shown.
    emit w->Nabrix1->DownloadProgress(chunk, 2 * chunk);
    emit w->Nabrix1->DownloadProgress(0, 1);
    emit w->Nabrix1->DownloadComplete();
    QTest::qWait(100);
    QCOMPARE(w->FrmInfo->title(), "Information");
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(w->Prg->maximum(), 5);
    QCOMPARE(w->Prg->text(), "0 %");
}

void tst_frmMain::downloadsThroughTheRealFetcher() {
    server_.route("/watch", Response::Fixed("<html><head><title>YouTube - Sample Clip</title>"
                                            "</head><body>'&video_id=abc123&t=tok&l=55'"));
    server_.route("/get_video.php", Response::Generated(300000, "video/x-flv"));
    frmMain w;
    w.txtSource->setText(kVideoPage);
    w.cmdDownload->click();
    // The machine stays awake while the download runs; the launcher shows it.
    QCOMPARE(session_->inhibitReasons, QStringList{"Downloading a video"});
    QCOMPARE(session_->held, 1);
    QVERIFY(session_->launcher.last().progressVisible);
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 1, 30000);
    QCOMPARE(desktop_->messages[0].text, "Download Complete");
    QCOMPARE(stateOf(w), "Idle");
    const QString path = w.txtDest->text() + "/Sample Clip.flv";
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == LoopbackHttpServer::GeneratedBytes(0, 300000));
    QCOMPARE(session_->held, 0);
    QVERIFY(!session_->launcher.last().progressVisible);

    // The user works in another program (no window of ours is active): the desktop tells of the
    // end, and its actions lead to the file.
    QCOMPARE(session_->notifications.size(), 1);
    const DesktopSession::Notification told = session_->notifications[0].notification;
    QCOMPARE(told.summary, "Download Complete");
    QCOMPARE(told.body, "Sample Clip.flv");
    QVERIFY(told.actions.contains("Open folder") && told.actions.contains("Play"));
    session_->notifications[0].chosen(DesktopJob::kPlayAction);
    session_->notifications[0].chosen(DesktopJob::kOpenFolderAction);
    QCOMPARE(desktop_->openedUrls,
             (QList<QUrl>{QUrl::fromLocalFile(path),
                          QUrl::fromLocalFile(QFileInfo(path).absolutePath())}));
    // Once the user has come back and answered the box, the notification is withdrawn.
    QCOMPARE(session_->withdrawn, QList<DesktopSession::NotificationId>{1});

    // A page answered with an error status ends in Idle with the reason.
    server_.route("/watch", Response::Status(500, "Internal Server Error"));
    w.cmdDownload->click();
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 2, 30000);
    QVERIFY(desktop_->messages[1].text.startsWith("Error:"));
    QCOMPARE(stateOf(w), "Idle");
    // A failure while away: told, without Play, and the launcher asks for attention.
    QCOMPARE(session_->notifications.size(), 2);
    QCOMPARE(session_->notifications[1].notification.summary, desktop_->messages[1].text);
    QVERIFY(!session_->notifications[1].notification.actions.contains("Play"));
    QVERIFY(session_->launcher.last().urgent);
    QCOMPARE(session_->held, 0);

    // A page that trickles in ends at its deadline, also in Idle.
    Response trickling = Response::Fixed("<html><title>YouTube - never</title>");
    trickling.bytesPerSecond = 1;
    server_.route("/watch", trickling);
    w.Nabrix1->setPageDeadline(1500);
    w.cmdDownload->click();
    QCOMPARE(stateOf(w), "FetchingPage");
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 3, 10000);
    QVERIFY2(desktop_->messages[2].text.startsWith("Error:The video page did not arrive within"),
             qPrintable(desktop_->messages[2].text));
    QCOMPARE(stateOf(w), "Idle");
}

void tst_frmMain::addressesHandedInDownloadAsTheButtonWould() {
    Response stalled = Response::Fixed("<html>");
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    server_.route("/watch", stalled);
    frmMain w;
    // A link dropped on the address box, as anywhere on the window.
    QMimeData link;
    link.setUrls({QUrl(kVideoPage)});
    QVERIFY(drop(w.txtSource, link));
    QCOMPARE(w.txtSource->text(), kVideoPage);
    QCOMPARE(stateOf(w), "FetchingPage");
    // While a download runs, an address handed in waits its turn and starts when it ends.
    QMimeData text;
    text.setText("http://www.youtube.com/watch?v=other\nsecond line");
    QVERIFY(drop(&w, text));
    QCOMPARE(w.txtSource->text(), kVideoPage);
    QCOMPARE(w.Prg->text(), QString::fromUtf8("0 % · 1 more waiting"));
    emit w.Nabrix1->InvalidUrl();
    QTRY_COMPARE(w.txtSource->text(), "http://www.youtube.com/watch?v=other");
    QCOMPARE(stateOf(w), "FetchingPage");
    QCOMPARE(w.Prg->text(), "0 %");
    // One still waiting when the program ends starts with the next run.
    {
        frmMain running;
        QVERIFY(running.TakeAddress(kVideoPage));
        QVERIFY(running.TakeAddress(kVideoPage + "&t=1"));
        QCOMPARE(running.txtSource->text(), kVideoPage);
    }
    {
        // The one under way when the program ended comes first.
        frmMain restarted;
        QTRY_COMPARE(restarted.txtSource->text(), kVideoPage);
        QCOMPARE(stateOf(restarted), "FetchingPage");
    }
    SettingsStore().DelKey("Waiting addresses");
    QVERIFY(desktop_->messages.isEmpty());
    emit w.Nabrix1->InvalidUrl();

    // A later start hands its address to the running copy over the socket.
    const QString socket = QDir::temp().filePath("vantelo-test-%1.socket").arg(getpid());
    Startup::ListenForLaterStarts(w, socket);
    std::atomic<bool> answered = false, finished = false;
    std::thread later([&] {
        answered =
            Startup::ShowRunningCopy(socket, kVideoPage + "&t=a b") == Startup::Answer::Shown;
        finished = true;
    });
    QTRY_COMPARE(w.txtSource->text(), kVideoPage + "&t=a b");
    // The answer goes out from this thread's event loop: keep it running until it is read.
    QTRY_VERIFY(finished);
    later.join();
    QVERIFY(answered);
    QCOMPARE(stateOf(w), "FetchingPage");
    emit w.Nabrix1->InvalidUrl();
    // Text that is no page address gets what typed text gets: the fetcher turns it down.
    QVERIFY(drop(&w, text));
    QCOMPARE(w.txtSource->text(), "http://www.youtube.com/watch?v=other");
    QCOMPARE(Startup::AddressArgument({"vantelo", "-platform", "offscreen", kVideoPage}),
             kVideoPage);
    QCOMPARE(Startup::AddressArgument({"vantelo", "-platform", "offscreen"}), QString());

    // A media file dropped on the conversion dialog becomes its source; other files do not.
    w.show();
    w.cmdConvert->click();
    frmConvert* dialog = w.ConvertDialog();
    QFile clip(home_->path() + "/clip.flv");
    QVERIFY(clip.open(QIODevice::WriteOnly));
    clip.write("FLV\x01\x05\0\0\0\x09");
    clip.close();
    QMimeData notes, media;
    notes.setUrls({QUrl::fromLocalFile(home_->settingsFile()), QUrl("http://example.com/a.flv")});
    media.setUrls({QUrl::fromLocalFile(clip.fileName())});
    QVERIFY(!drop(dialog, notes));
    QVERIFY(drop(dialog, media));
    QCOMPARE(dialog->sourcePath(), QFileInfo(clip).absoluteFilePath());
    QCOMPARE(dialog->txtSource->text(), dialog->sourcePath());
}

void tst_frmMain::addressTypedWhileBusyWaitsItsTurn() {
    Response stalled = Response::Fixed("<html>");
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    server_.route("/watch", stalled);
    frmMain w;
    w.txtSource->setText(kVideoPage);
    w.cmdDownload->click();
    w.txtSource->setText(kVideoPage + "&t=typed");
    QTest::keyClick(w.txtSource, Qt::Key_Return);
    QCOMPARE(w.Prg->text(), QString::fromUtf8("0 % · 1 more waiting"));
    QCOMPARE(stateOf(w), "FetchingPage");
    emit w.Nabrix1->InvalidUrl();
    // Its turn: it is the one under way now.
    QTRY_COMPARE(w.Prg->text(), "0 %");
    QCOMPARE(w.txtSource->text(), kVideoPage + "&t=typed");
    QCOMPARE(stateOf(w), "FetchingPage");
}

// Percent-encoded, each of these characters takes 9 bytes on the socket.
void tst_frmMain::longAddressesFromALaterStartArriveWholeOrNotAtAll() {
    frmMain w;
    const QString socket = QDir::temp().filePath("vantelo-test-long-%1.socket").arg(getpid());
    Startup::ListenForLaterStarts(w, socket);
    const auto handIn = [&socket](const QString& address) {
        std::atomic<bool> finished = false;
        Startup::Answer answer = Startup::Answer::None;
        std::thread later([&] {
            answer = Startup::ShowRunningCopy(socket, address);
            finished = true;
        });
        // The answer goes out from this thread's event loop.
        const bool done = QTest::qWaitFor([&finished] { return finished.load(); }, 10000);
        later.join();
        return done ? answer : Startup::Answer::None;
    };
    const QString site = "http://www.example.com/";
    // Past the longest address, the request is refused whole: nothing cut short is downloaded.
    QCOMPARE(handIn(site + QString(2200, QChar(0x65E5))), Startup::Answer::Refused);
    QTest::qWait(100);
    QCOMPARE(w.txtSource->text(), "http://");
    const QString longest = site + QString(2000, QChar(0x65E5));
    QCOMPARE(longest.size(), 2023);
    QCOMPARE(handIn(longest), Startup::Answer::Shown);
    QTRY_COMPARE(w.txtSource->text(), longest);
}

// A hand-edited list of waiting addresses, and addresses handed in past what the window takes:
// one message for what was left out together, never one box per address.
void tst_frmMain::addressesLeftOutAreToldOnce() {
    Response stalled = Response::Fixed("<html>");
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    server_.route("/watch", stalled);
    const QString tooLong = "http://www.example.com/" + QString(2048, 'a');
    QStringList stored;
    for (int i = 0; i < 200; ++i)
        stored << kVideoPage + "&n=" + QString::number(i);
    stored.insert(3, tooLong);
    SettingsStore().WriteKey("Waiting addresses", stored.join('\n'));
    frmMain w;
    QTRY_COMPARE(stateOf(w), "FetchingPage");
    QCOMPARE(w.txtSource->text(), kVideoPage + "&n=0");
    QTRY_COMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text,
             "An address longer than 2048 characters was left out: no video page has one that "
             "long.\n150 addresses were left out: no more than 50 wait their turn.");
    QCOMPARE(w.Prg->text(), QString::fromUtf8("0 % · 49 more waiting"));

    QVERIFY(w.TakeAddress(kVideoPage + "&n=fiftieth"));
    QVERIFY(!w.TakeAddress(kVideoPage + "&n=one too many"));
    QVERIFY(!w.TakeAddress(kVideoPage + "&n=two too many"));
    QVERIFY(!w.TakeAddress(tooLong));
    QTRY_COMPARE(desktop_->messages.size(), 2);
    QCOMPARE(desktop_->messages[1].text,
             "An address longer than 2048 characters was left out: no video page has one that "
             "long.\n2 addresses were left out: no more than 50 wait their turn.");
    QTest::qWait(100);
    QCOMPARE(desktop_->messages.size(), 2);
}

void tst_frmMain::waitingAddressesRefusedAtOnceShowOneBoxAtATime() {
    SettingsStore().WriteKey("Waiting addresses",
                             "file:///etc/passwd\njavascript:alert(1)\ndata:text/html,x");
    int open = 0, most = 0;
    desktop_->onMessage = [&] {
        // What a modal box does while it waits for the user.
        most = std::max(most, ++open);
        QTest::qWait(50);
        --open;
    };
    frmMain w;
    QTRY_COMPARE(desktop_->messages.size(), 3);
    QCOMPARE(most, 1);
    QCOMPARE(stateOf(w), "Idle");
}

void tst_frmMain::screenReadersNameEveryControlAndEscapeClosesTheDialog() {
    frmMain w;
    w.show();
    w.cmdConvert->click();
    frmConvert* dialog = w.ConvertDialog();
    for (QWidget* window : {static_cast<QWidget*>(&w), static_cast<QWidget*>(dialog)}) {
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const bool reached = control->focusPolicy() & Qt::TabFocus;
            if (reached || qobject_cast<QProgressBar*>(control))
                QVERIFY2(!accessibleName(control).isEmpty(), qPrintable(control->objectName()));
        }
    }
    QCOMPARE(accessibleName(w.txtSource), "YouTube URL");
    QCOMPARE(accessibleName(w.Prg), "Download progress");
    // Windows are heard as a frame and a dialog; like-named controls are told apart.
    QCOMPARE(QAccessible::queryAccessibleInterface(&w)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog)->role(), QAccessible::Dialog);
    QTRY_VERIFY(w.Prv);
    QCOMPARE(accessibleName(w.Prv), "Video preview");
    QCOMPARE(accessibleName(dialog->cmdSource), "Open source file");
    QCOMPARE(accessibleName(dialog->cmdOpen), "Open destination folder");
    QCOMPARE(accessibleName(dialog->Frame3), "Video options");
    QCOMPARE(accessibleName(dialog->Frame1), "Audio options");
    frmAbout about(&w);
    QCOMPARE(accessibleName(about.txtInfo), "About Vantelo");
    // The advertisement pane is no Tab stop.
    QCOMPARE(w.Adds->focusPolicy(), Qt::NoFocus);
    // The lists are named by their labels and panels, not by what they show.
    QStringList lists;
    for (QComboBox* list : dialog->findChildren<QComboBox*>())
        lists << accessibleName(list);
    lists.sort();
    QCOMPARE(lists, (QStringList{"Audio bitrate", "Audio codec", "Audio samplerate",
                                 "Target format", "Video bitrate", "Video codec", "Video format",
                                 "Video framerate", "Video size"}));
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog->cmbVidCodec)->text(QAccessible::Value),
             dialog->cmbVidCodec->currentText());
    QCOMPARE(accessibleName(dialog->lblInfo), "Status");
    QCOMPARE(accessibleName(dialog->Prg), "Conversion activity");

    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog->cmbFormat, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!dialog->isLoaded()); // closed as its close button closes it
}

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
