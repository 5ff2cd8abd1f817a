#include "AeroButton.h"
#include "FakeDesktop.h"
#include "HtmlView.h"
#include "LoopbackHttpServer.h"
#include "MakerSite.h"
#include "Nabrix.h"
#include "ProgressBar.h"
#include "RegEdit.h"
#include "TestHome.h"
#include "frmAbout.h"
#include "frmConvert.h"
#include "frmMain.h"
#include "modNabrix.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNetworkProxyFactory>
#include <QTest>
#include <QTimer>

using Response = LoopbackHttpServer::Response;

namespace {
const QString kOutputPathSetting = QStringLiteral("Youtube Video output path");
const QString kVideoPage = QStringLiteral("http://www.youtube.com/watch?v=abc123");
const QString kConnectionMessage =
    QStringLiteral("An error has occured while trying to connect to the internet\r\n"
                   "Please ensure that your internet connection is functioning correctly and "
                   "try again.");

// The workflow state that the three enabled flags spell.
QString stateOf(const frmMain& w) {
    const bool download = w.cmdDownload->isEnabled();
    const bool cancel = w.cmdCancel->isEnabled();
    const bool dest = w.frmDest->isEnabled();
    if (download && !cancel && dest)
        return QStringLiteral("Idle");
    if (!download && !cancel && !dest)
        return QStringLiteral("FetchingPage");
    if (!download && cancel && !dest)
        return QStringLiteral("Downloading");
    return QStringLiteral("download %1 cancel %2 dest %3").arg(download).arg(cancel).arg(dest);
}

QRect px(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

void moveMouseOver(QWidget* widget) {
    const QPointF at(5, 5);
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QString storedOutputPath(const TestHome& home) {
    QSettings file(home.settingsFile(), QSettings::IniFormat);
    return file.value(kOutputPathSetting).toString();
}

QString sizeCaption(const QString& prefix, qint32 current, qint32 maximum) {
    return prefix + modNabrix::FormatByteSize(current) + " / " + modNabrix::FormatByteSize(maximum);
}
} // namespace

class tst_frmMain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowOpensWithEveryControlInPlace();
    void controlsCarryTheirTextsLooksAndTabOrder();
    void layoutFollowsResizeMinimiseAndRestore();

    void loadWithoutStoredFolderUsesAndMakesTheDocumentsDefault();
    void loadWithStoredFolderMakesEveryMissingLevel();
    void loadShowsAdvertisementAndBlankPreview();

    void browseWritesTheSettingEvenWhenCancelled();
    void openShowsTheFolderOrReportsAnError();
    void homeAndUpdateOpenTheMakersPagesOrReportAnError();
    void refreshReloadsTheAdvertisement();
    void convertOpensOneDialogOwnedByTheWindow();
    void aboutShowsTheAboutBoxModally();

    void clipboardAddressIsPastedOnlyIntoAnEmptyBox();
    void downloadMakesTheFolderAndAsksTheBrowserForShortAddresses();
    void enterInTheAddressBoxPressesDownload();

    void stateTableFromDownloadToComplete();
    void downloadErrorKeepsTheStateUntilCancelled();
    void invalidAddressAndPageErrorReturnToIdle();
    void closingDuringADownloadAsksNothing();
    void closingStoresNothing();

    void downloadThroughTheRealFetcherEndToEnd();
    void failedPageRequestThroughTheRealFetcher();

private:
    std::unique_ptr<frmMain> openWindow();
    void startDownloadThatStallsOnThePage(frmMain& w);

    LoopbackHttpServer server_;
    std::unique_ptr<TestHome> home_;
    std::unique_ptr<FakeDesktop> desktop_;
};

void tst_frmMain::initTestCase() {
    QVERIFY(server_.listen());
    // Every request of the program, the advertisement pane's included, goes to the loopback
    // server.
    qputenv("http_proxy", server_.proxyAddress());
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void tst_frmMain::init() {
    home_ = std::make_unique<TestHome>();
    desktop_ = std::make_unique<FakeDesktop>();
    server_.clearRoutes();
    server_.clearRequests();
    server_.route("/ads.html",
                  Response::Fixed("<html><body><p>Our other products</p></body></html>"));
}

void tst_frmMain::cleanup() {
    desktop_.reset();
    home_.reset();
}

std::unique_ptr<frmMain> tst_frmMain::openWindow() {
    auto w = std::make_unique<frmMain>();
    w->SetBrowserPickup([] { return QString(); });
    return w;
}

// --- Looks --------------------------------------------------------------------------------

void tst_frmMain::windowOpensWithEveryControlInPlace() {
    const auto w = openWindow();
    QCOMPARE(w->windowTitle(), "Vantelo 1.5.1");
    QCOMPARE(w->size(), QSize(711, 543));
    // The positions of the worked example, at 15 twips a pixel.
    QCOMPARE(w->lblurl->geometry(), px(120, 240, 1335, 285));
    QCOMPARE(w->txtSource->geometry(), px(1440, 240, 7710, 315));
    QCOMPARE(w->cmdDownload->geometry(), px(9300, 240, 1215, 315));
    QCOMPARE(w->PicPreview->geometry(), px(120, 720, 2700, 2205));
    QCOMPARE(w->Prv->geometry(), px(0, 0, 2700, 2205));
    QCOMPARE(w->Image1->geometry(), w->PicPreview->geometry());
    QCOMPARE(w->FrmInfo->geometry(), px(3120, 720, 7395, 1215));
    QCOMPARE(w->Prg->geometry(), px(120, 360, 7155, 255));
    QCOMPARE(w->cmdCancel->geometry(), px(6300, 720, 975, 315));
    QCOMPARE(w->lblSize->pos(), QPoint(8, 48));
    QCOMPARE(w->frmDest->geometry(), px(3120, 2040, 7395, 855));
    QCOMPARE(w->txtDest->geometry(), px(120, 360, 4965, 315));
    QCOMPARE(w->cmdBrowse->geometry(), px(5205, 360, 975, 345));
    QCOMPARE(w->cmdOpen->geometry(), px(6300, 360, 975, 345));
    QCOMPARE(w->cmdRefresh->geometry(), px(120, 3120, 1215, 375));
    QCOMPARE(w->cmdConvert->geometry(), px(1440, 3120, 1215, 375));
    QCOMPARE(w->cmdHome->geometry(), px(2760, 3120, 1215, 375));
    QCOMPARE(w->cmdUpdate->geometry(), px(4080, 3120, 1935, 375));
    QCOMPARE(w->cmdAbout->geometry(), px(6120, 3120, 1215, 375));
    QCOMPARE(w->Adds->geometry(), px(120, 3645, 10425, 4350));
    QCOMPARE(w->txtDest->parentWidget(), w->frmDest);
    QCOMPARE(w->Prg->parentWidget(), w->FrmInfo);
    QCOMPARE(w->Prv->parentWidget(), w->PicPreview);

    // Idle at the start, with the idle player where the preview pane is hidden.
    QCOMPARE(stateOf(*w), "Idle");
    QVERIFY(w->PicPreview->isHidden());
    QVERIFY(!w->Image1->isHidden());
    QCOMPARE(w->Image1->pixmap().size(), QSize(180, 147));
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(w->FrmInfo->title(), "Information");
    QCOMPARE(w->lblSize->text(), "File Name : ");
    QCOMPARE(w->txtSource->text(), "http://");
}

void tst_frmMain::controlsCarryTheirTextsLooksAndTabOrder() {
    const auto w = openWindow();
    QCOMPARE(w->txtSource->toolTip(), "Example : http://www.youtube.com/watch?v=dQw4w9WgXcQ  ");
    QCOMPARE(w->cmdDownload->toolTip(), "Insert a valid youtube link then click to download");
    QCOMPARE(w->cmdCancel->toolTip(), "Cancel download");
    QCOMPARE(w->cmdOpen->toolTip(), "Open containing folder");
    QCOMPARE(w->cmdBrowse->toolTip(), "Browse for folder");
    QCOMPARE(w->cmdRefresh->toolTip(), "Refresh Page");
    QCOMPARE(w->cmdConvert->toolTip(), "Convert YouTube Video");
    QCOMPARE(w->cmdHome->toolTip(), MakerSite::HomePage);
    QCOMPARE(w->cmdUpdate->toolTip(), "Check for updates");
    QCOMPARE(w->cmdAbout->toolTip(), "About Vantelo");
    QCOMPARE(w->Prv->toolTip(), "Wait for Image to Load");
    const QStringList captions{w->cmdDownload->text(), w->cmdCancel->text(),  w->cmdOpen->text(),
                               w->cmdBrowse->text(),   w->cmdRefresh->text(), w->cmdConvert->text(),
                               w->cmdHome->text(),     w->cmdUpdate->text(),  w->cmdAbout->text(),
                               w->lblurl->text(),      w->frmDest->title()};
    QCOMPARE(captions,
             QStringList({"Download", "Cancel", "Open", "Browse", "Refresh", "Convert", "Homepage",
                          "Check for Updates", "About", "YouTube URL:", "Destination"}));

    QCOMPARE(w->font().pointSizeF(), 8.25);
    QCOMPARE(w->cmdDownload->font().pointSizeF(), 9.0);
    QCOMPARE(w->cmdUpdate->font().pointSizeF(), 9.0);
    QCOMPARE(w->lblurl->font().pointSizeF(), 8.25);
    QVERIFY(w->lblurl->font().bold());
    QCOMPARE(w->lblurl->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(w->txtSource->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(w->txtSource->palette().color(QPalette::Text), QColor(64, 64, 64));
    QCOMPARE(w->Prg->barColor(), QColor(255, 128, 0));
    for (AeroButton* button : w->findChildren<AeroButton*>()) {
        QCOMPARE(button->iconSize(), QSize(16, 16));
        QVERIFY2(!button->icon().isNull(), qPrintable(button->objectName()));
    }
    QCOMPARE(w->DefaultButton(), w->cmdDownload);
    QVERIFY(w->cmdDownload->isDefault());

    // Tab walks the controls in their order; the disabled Cancel and the hidden preview are
    // passed over.
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->txtSource->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 11; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, QStringList({"txtSource", "cmdDownload", "Adds", "cmdOpen", "cmdBrowse",
                                   "txtDest", "cmdRefresh", "cmdConvert", "cmdHome", "cmdAbout",
                                   "cmdUpdate", "txtSource"}));
}

void tst_frmMain::layoutFollowsResizeMinimiseAndRestore() {
    const auto w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->resize(711 + 100, 543 + 40);
    QCOMPARE(w->cmdDownload->geometry(), px(9300 + 1500, 240, 1215, 315));
    QCOMPARE(w->txtSource->width(), (7710 + 1500) / 15);
    QCOMPARE(w->FrmInfo->width(), (7395 + 1500) / 15);
    QCOMPARE(w->cmdCancel->x(), (6300 + 1500) / 15);
    QCOMPARE(w->cmdOpen->x(), (6300 + 1500) / 15);
    QCOMPARE(w->cmdBrowse->x(), (5205 + 1500) / 15);
    QCOMPARE(w->txtDest->width(), (4965 + 1500) / 15);
    QCOMPARE(w->Adds->geometry(), px(120, 3645, 10425 + 1500, 4350 + 600));
    QCOMPARE(w->PicPreview->geometry(), px(120, 720, 2700, 2205));
    QCOMPARE(w->cmdAbout->geometry(), px(6120, 3120, 1215, 375));

    const QList<QRect> before = [&] {
        QList<QRect> all;
        for (const QWidget* child : w->findChildren<QWidget*>())
            all << child->geometry();
        return all;
    }();
    w->setWindowState(Qt::WindowMinimized);
    QCOMPARE(w->cmdDownload->x(), -1365 / 15);
    QCOMPARE(w->txtSource->width(), (7710 + 1500) / 15);
    w->setWindowState(Qt::WindowNoState);
    QList<QRect> after;
    for (const QWidget* child : w->findChildren<QWidget*>())
        after << child->geometry();
    QCOMPARE(after, before);

    // Too small for the fixed parts: no message, the positive rules still apply.
    w->resize(10, 10);
    QCOMPARE(w->size(), QSize(10, 10));
    QCOMPARE(w->Adds->width(), (10425 + 1500) / 15);
    QCOMPARE(w->cmdDownload->x(), 10 - 81 - 10);
    QVERIFY(desktop_->messages.isEmpty());
}

// --- Loading ------------------------------------------------------------------------------

void tst_frmMain::loadWithoutStoredFolderUsesAndMakesTheDocumentsDefault() {
    const QString expected = home_->path() + "/Documents/Morvane/Vantelo";
    QVERIFY(!QFileInfo::exists(expected));
    const auto w = openWindow();
    QCOMPARE(w->txtDest->text(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    // Loading reads the setting but never writes it.
    QVERIFY(storedOutputPath(*home_).isEmpty());
    QVERIFY(desktop_->messages.isEmpty());
}

void tst_frmMain::loadWithStoredFolderMakesEveryMissingLevel() {
    const QString stored = home_->path() + "/videos/from the web/saved";
    SettingsStore().WriteKey(kOutputPathSetting, stored);
    {
        const auto w = openWindow();
        QCOMPARE(w->txtDest->text(), stored);
        QVERIFY(QFileInfo(stored).isDir());
        QVERIFY(!QFileInfo::exists(home_->path() + "/Documents/Morvane"));
    }
    // A blank stored value counts as none.
    SettingsStore().WriteKey(kOutputPathSetting, "   ");
    const auto w = openWindow();
    QCOMPARE(w->txtDest->text(), home_->path() + "/Documents/Morvane/Vantelo");
}

void tst_frmMain::loadShowsAdvertisementAndBlankPreview() {
    const auto w = openWindow();
    QVERIFY(!w->Adds->isHidden());
    QCOMPARE(w->Adds->LocationURL(), MakerSite::AdsPage);
    QCOMPARE(w->Prv->LocationURL(), "about:<html><body scroll='no'></body></html>");
    QCOMPARE(MakerSite::AdsPage, "http://www.morvane.com/ads.html");
    QVERIFY(MakerSite::ProductPage.startsWith("http://www.morvane.com/products/"));
}

// --- Commands -----------------------------------------------------------------------------

void tst_frmMain::browseWritesTheSettingEvenWhenCancelled() {
    const auto w = openWindow();
    const QString typed = home_->path() + "/typed by hand";
    w->txtDest->setText(typed);
    QVERIFY(storedOutputPath(*home_).isEmpty());

    desktop_->folderAnswer.clear();
    w->cmdBrowse->click();
    QCOMPARE(desktop_->folderRequests.size(), 1);
    QCOMPARE(desktop_->folderRequests[0], QStringList({"Browse for Folder", typed}));
    QCOMPARE(w->txtDest->text(), typed);
    QCOMPARE(storedOutputPath(*home_), typed);

    const QString chosen = home_->path() + "/picked";
    desktop_->folderAnswer = chosen;
    w->cmdBrowse->click();
    QCOMPARE(w->txtDest->text(), chosen);
    QCOMPARE(storedOutputPath(*home_), chosen);
    QCOMPARE(SettingsStore().LoadKey(kOutputPathSetting, QString()), chosen);
}

void tst_frmMain::openShowsTheFolderOrReportsAnError() {
    const auto w = openWindow();
    w->cmdOpen->click();
    QCOMPARE(desktop_->openedUrls, QList<QUrl>{QUrl::fromLocalFile(w->txtDest->text())});
    QVERIFY(desktop_->messages.isEmpty());

    desktop_->openSucceeds = false;
    w->cmdOpen->click();
    QCOMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text, "An error occurd!");
    QCOMPARE(desktop_->messages[0].style, int(vbCritical));
    QCOMPARE(desktop_->messages[0].title, "Error!");

    // A folder that is not there cannot be shown either.
    desktop_->openSucceeds = true;
    w->txtDest->setText(home_->path() + "/not there");
    w->cmdOpen->click();
    QCOMPARE(desktop_->messages.size(), 2);
    QCOMPARE(desktop_->messages[1].text, "An error occurd!");
}

void tst_frmMain::homeAndUpdateOpenTheMakersPagesOrReportAnError() {
    const auto w = openWindow();
    w->cmdHome->click();
    w->cmdUpdate->click();
    QCOMPARE(desktop_->openedUrls,
             QList<QUrl>({QUrl(MakerSite::HomePage), QUrl(MakerSite::ProductPage)}));
    QVERIFY(desktop_->messages.isEmpty());

    desktop_->openSucceeds = false;
    w->cmdHome->click();
    w->cmdUpdate->click();
    QCOMPARE(desktop_->messages.size(), 2);
    for (const FakeDesktop::Message& message : desktop_->messages) {
        QCOMPARE(message.text, kConnectionMessage);
        QCOMPARE(message.style, int(vbInformation));
        QCOMPARE(message.title, "Error!");
    }
}

void tst_frmMain::refreshReloadsTheAdvertisement() {
    const auto w = openWindow();
    w->Adds->Navigate("about:<html><body>elsewhere</body></html>");
    w->cmdRefresh->click();
    QCOMPARE(w->Adds->LocationURL(), MakerSite::AdsPage);
    QTRY_VERIFY(!server_.requests().isEmpty());
    QCOMPARE(server_.requests().last().url().toString(), MakerSite::AdsPage);
}

void tst_frmMain::convertOpensOneDialogOwnedByTheWindow() {
    const auto w = openWindow();
    QVERIFY(!w->ConvertDialog());
    w->cmdConvert->click();
    frmConvert* dialog = w->ConvertDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->parentWidget(), w.get());
    w->cmdConvert->click();
    QCOMPARE(w->ConvertDialog(), dialog);
    QCOMPARE(w->findChildren<frmConvert*>().size(), 1);
    QVERIFY(!dialog->isModal());

    // Closed by the user, it is loaded afresh by the next press.
    QVERIFY(dialog->close());
    w->cmdConvert->click();
    QVERIFY(w->ConvertDialog());
    QVERIFY(w->ConvertDialog()->isVisible());
    QCOMPARE(w->findChildren<frmConvert*>().size(), 1);
}

void tst_frmMain::aboutShowsTheAboutBoxModally() {
    const auto w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QString shownText;
    QWidget* shownOwner = nullptr;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about)
            return;
        shownText = about->InfoText();
        shownOwner = about->parentWidget();
        about->cmdClose->click();
    });
    w->cmdAbout->click();
    QCOMPARE(shownOwner, w.get());
    QVERIFY(shownText.startsWith("Vantelo\r\nVersion : 1.5.1\r\n"));
    // Created for each showing: nothing is left behind.
    QVERIFY(w->findChildren<frmAbout*>().isEmpty());
}

// --- The address box ----------------------------------------------------------------------

void tst_frmMain::clipboardAddressIsPastedOnlyIntoAnEmptyBox() {
    const auto w = openWindow();
    desktop_->clipboard = kVideoPage;
    moveMouseOver(w->txtSource);
    QCOMPARE(w->txtSource->text(), "http://" + kVideoPage);
    // Not again: the box holds more than "http://" now.
    moveMouseOver(w->txtSource);
    QCOMPARE(w->txtSource->text(), "http://" + kVideoPage);

    w->txtSource->setText("http:/");
    moveMouseOver(w->txtSource);
    QCOMPARE(w->txtSource->text(), "http:/");

    w->txtSource->clear();
    moveMouseOver(w->txtSource);
    QCOMPARE(w->txtSource->text(), kVideoPage);

    // The domain test is case-sensitive, and other addresses are left alone.
    for (const QString& other : {QStringLiteral("http://www.YouTube.com/watch?v=abc"),
                                 QStringLiteral("http://example.org/video")}) {
        w->txtSource->setText("http://");
        desktop_->clipboard = other;
        moveMouseOver(w->txtSource);
        QCOMPARE(w->txtSource->text(), "http://");
    }
}

void tst_frmMain::downloadMakesTheFolderAndAsksTheBrowserForShortAddresses() {
    const auto w = openWindow();
    int pickups = 0;
    QString browserShows;
    w->SetBrowserPickup([&] {
        ++pickups;
        return browserShows;
    });
    const QString folder = home_->path() + "/new/output";
    w->txtDest->setText(folder);

    // Nine characters: the browser is asked; it shows nothing, so the box keeps its text.
    w->txtSource->setText("http://ab");
    w->cmdDownload->click();
    QCOMPARE(pickups, 1);
    QCOMPARE(w->txtSource->text(), "http://ab");
    QVERIFY(QFileInfo(folder).isDir());
    // The fetcher rejects the address at once.
    QCOMPARE(stateOf(*w), "Idle");

    browserShows = "http://example.org/shown/in/the/browser";
    w->txtSource->setText("http://");
    w->cmdDownload->click();
    QCOMPARE(pickups, 2);
    QCOMPARE(w->txtSource->text(), browserShows);
    QCOMPARE(stateOf(*w), "Idle");

    // Ten characters go to the fetcher unchanged.
    w->txtSource->setText("http://abc");
    w->cmdDownload->click();
    QCOMPARE(pickups, 2);
    QCOMPARE(w->txtSource->text(), "http://abc");
    QVERIFY(desktop_->messages.isEmpty());
}

void tst_frmMain::enterInTheAddressBoxPressesDownload() {
    const auto w = openWindow();
    int pickups = 0;
    w->SetBrowserPickup([&] {
        ++pickups;
        return QString();
    });
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->txtSource->setFocus();
    QTest::keyClicks(w->txtSource, "x");
    QTest::keyClick(w->txtSource, Qt::Key_Backspace);
    QCOMPARE(w->DefaultButton(), w->cmdDownload);
    QTest::keyClick(w->txtSource, Qt::Key_Return);
    QTRY_COMPARE(pickups, 1);
    QTRY_COMPARE(stateOf(*w), "Idle");
    // Enter on a focused button presses that button instead.
    w->Adds->Navigate("about:<html><body>elsewhere</body></html>");
    w->cmdRefresh->setFocus();
    QTest::keyClick(w->cmdRefresh, Qt::Key_Return);
    QTRY_COMPARE(w->Adds->LocationURL(), MakerSite::AdsPage);
    QCOMPARE(pickups, 1);
}

// --- The fetcher's events -----------------------------------------------------------------

void tst_frmMain::startDownloadThatStallsOnThePage(frmMain& w) {
    Response stalled = Response::Fixed("<html>");
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    server_.route("/watch", stalled);
    w.txtSource->setText(kVideoPage);
    w.cmdDownload->click();
}

void tst_frmMain::stateTableFromDownloadToComplete() {
    const auto w = openWindow();
    startDownloadThatStallsOnThePage(*w);
    QCOMPARE(stateOf(*w), "FetchingPage");
    QVERIFY(!w->PicPreview->isHidden());

    emit w->Nabrix1->DownloadProgress(512, 2048);
    QCOMPARE(w->FrmInfo->title(), sizeCaption("Recieving YouTube Data : ", 512, 2048));
    QCOMPARE(w->Prg->maximum(), 2048);
    QCOMPARE(w->Prg->value(), 512);
    emit w->Nabrix1->DownloadProgress(0, 1);
    QCOMPARE(w->FrmInfo->title(), sizeCaption("Recieving YouTube Data : ", 0, 1));
    QCOMPARE(stateOf(*w), "FetchingPage");

    emit w->Nabrix1->VideoData("Sample Clip", "Music", "someone", "May 1, 2008", "1,234", "words");
    QCOMPARE(stateOf(*w), "Downloading");
    QCOMPARE(w->lblSize->text(), "Name : Sample Clip");
    QVERIFY(w->lblSize->width() >= w->lblSize->sizeHint().width());

    emit w->Nabrix1->DownloadProgress(0, 5242880);
    emit w->Nabrix1->DownloadProgress(1268776, 5242880);
    QCOMPARE(w->FrmInfo->title(), sizeCaption("Downloading : ", 1268776, 5242880));
    QCOMPARE(w->Prg->value(), 1268776);
    QCOMPARE(stateOf(*w), "Downloading");

    emit w->Nabrix1->DownloadProgress(0, 1);
    emit w->Nabrix1->DownloadComplete();
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(w->Prg->maximum(), 5);
    QCOMPARE(w->FrmInfo->title(), "Information");
    QVERIFY(w->FrmInfo->isEnabled());
    QVERIFY(!w->PicPreview->isHidden());
    QCOMPARE(w->lblSize->text(), "Name : Sample Clip");
    QCOMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text, "Download Complete");
    QCOMPARE(desktop_->messages[0].style, int(vbInformation));
    QCOMPARE(desktop_->messages[0].title, "Vantelo");
}

void tst_frmMain::downloadErrorKeepsTheStateUntilCancelled() {
    const auto w = openWindow();
    startDownloadThatStallsOnThePage(*w);
    emit w->Nabrix1->VideoData("Clip", "", "", "", "", "");
    emit w->Nabrix1->DownloadProgress(4096, 10000);

    emit w->Nabrix1->DownloadError("The connection with the server was terminated abnormally");
    QCOMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text,
             "Error:The connection with the server was terminated abnormally");
    QCOMPARE(desktop_->messages[0].style, int(vbOKOnly));
    QCOMPARE(desktop_->messages[0].title, "Vantelo");
    QCOMPARE(stateOf(*w), "Downloading"); // DownloadFailed has the same flags
    QCOMPARE(w->Prg->value(), 4096);

    desktop_->answer = vbNo;
    w->cmdCancel->click();
    QCOMPARE(desktop_->messages.size(), 2);
    QCOMPARE(desktop_->messages[1].text, "Do you want to abort current download?");
    QCOMPARE(desktop_->messages[1].style, int(vbYesNo));
    QCOMPARE(desktop_->messages[1].title, "Vantelo");
    QCOMPARE(stateOf(*w), "Downloading");
    QVERIFY(!w->PicPreview->isHidden());

    desktop_->answer = vbYes;
    w->cmdCancel->click();
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->Prg->value(), 0);
    QVERIFY(w->PicPreview->isHidden());
    QVERIFY(w->txtSource->isEnabled());
}

void tst_frmMain::invalidAddressAndPageErrorReturnToIdle() {
    const auto w = openWindow();
    startDownloadThatStallsOnThePage(*w);
    emit w->Nabrix1->DownloadProgress(100, 1000);
    emit w->Nabrix1->InvalidUrl();
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->FrmInfo->title(), "Information");
    QVERIFY(desktop_->messages.isEmpty());

    w->cmdDownload->click();
    emit w->Nabrix1->DownloadProgress(100, 1000);
    emit w->Nabrix1->InfoError("Host www.youtube.com not found");
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->FrmInfo->title(), "Information");
    QCOMPARE(w->Prg->value(), 0);
    QCOMPARE(desktop_->messages.size(), 1);
    QCOMPARE(desktop_->messages[0].text, "Error:Host www.youtube.com not found");
    QCOMPARE(desktop_->messages[0].style, int(vbOKOnly));
    QCOMPARE(desktop_->messages[0].title, "Vantelo");
}

void tst_frmMain::closingDuringADownloadAsksNothing() {
    const auto w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->cmdConvert->click();
    QPointer<frmConvert> dialog = w->ConvertDialog();
    QVERIFY(dialog && dialog->isVisible());
    startDownloadThatStallsOnThePage(*w);
    emit w->Nabrix1->VideoData("Clip", "", "", "", "", "");
    emit w->Nabrix1->DownloadProgress(4096, 10000);

    QVERIFY(w->close());
    QVERIFY(desktop_->messages.isEmpty());
    QVERIFY(!dialog || !dialog->isVisible());
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->Prg->value(), 0);
    QVERIFY(w->PicPreview->isHidden());
}

void tst_frmMain::closingStoresNothing() {
    const auto w = openWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->txtDest->setText(home_->path() + "/typed");
    QVERIFY(w->close());
    QVERIFY(storedOutputPath(*home_).isEmpty());
    QVERIFY(desktop_->messages.isEmpty());
}

// --- With the real fetcher and the loopback server ----------------------------------------

void tst_frmMain::downloadThroughTheRealFetcherEndToEnd() {
    const QByteArray page = "<html><head><title>YouTube - Sample Clip</title></head><body>"
                            "<script>var swfArgs = '&video_id=abc123&t=tok&l=55';</script>"
                            "</body></html>";
    server_.route("/watch", Response::Fixed(page));
    server_.route("/get_video.php", Response::Generated(300000, "video/x-flv"));
    const auto w = openWindow();
    w->txtSource->setText(kVideoPage);
    w->cmdDownload->click();
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 1, 30000);
    QCOMPARE(desktop_->messages[0].text, "Download Complete");
    QCOMPARE(stateOf(*w), "Idle");
    QCOMPARE(w->lblSize->text(), "Name : Sample Clip");
    QCOMPARE(w->Prg->maximum(), 5);

    QFile file(w->txtDest->text() + "/Sample Clip.flv");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), 300000);
    QVERIFY(file.readAll() == LoopbackHttpServer::GeneratedBytes(0, 300000));
}

void tst_frmMain::failedPageRequestThroughTheRealFetcher() {
    server_.route("/watch", Response::Status(500, "Internal Server Error", "broken"));
    const auto w = openWindow();
    w->txtSource->setText(kVideoPage);
    w->cmdDownload->click();
    QCOMPARE(stateOf(*w), "FetchingPage");
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->messages.size(), 1, 30000);
    QVERIFY(desktop_->messages[0].text.startsWith("Error:"));
    QVERIFY(desktop_->messages[0].text.size() > 6);
    QCOMPARE(stateOf(*w), "Idle");
}

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
