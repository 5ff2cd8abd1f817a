#pragma once
#include "LayoutRules.h"
#include "Nabrix.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class AeroButton;
class ClipboardReader;
class DesktopJob;
class DisplayPacer;
class HtmlView;
class ProgressBar;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;
class frmConvert;

// The main window: the address row, the preview, the progress and destination frames, the
// button row and the advertisement pane. It hosts the video fetcher Nabrix1 and walks through
// its workflow states (Idle, FetchingPage, Downloading, DownloadFailed), which live in the
// enabled flags of cmdDownload, cmdCancel and frmDest.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Where Download looks for an address when the box holds almost nothing (the user's
    // browser unless replaced).
    void SetBrowserPickup(std::function<QString()> pickup);
    // The conversion dialog once Convert has opened it, else nullptr.
    frmConvert* ConvertDialog() const;
    // The button that Enter presses.
    AeroButton* DefaultButton() const { return defaultButton_; }
    // An address handed in from outside (command line, a later start, a drop): put into the
    // address box and downloaded as Download would. While a download runs it waits its turn
    // (kept across a restart) and starts when the window is idle again. False when refused;
    // one too long or past the waiting list's end is told (once for all left out together).
    bool TakeAddress(const QString& text);
    // The clock of the download's pace, in milliseconds (tests set their own).
    void SetPaceClock(std::function<qint64()> nowMs) { paceClock_ = std::move(nowMs); }

    // The controls, named as on the form.
    QLabel* lblurl = nullptr;
    QLineEdit* txtSource = nullptr;
    AeroButton* cmdDownload = nullptr;
    QLabel* Image1 = nullptr;
    QWidget* PicPreview = nullptr;
    // Made once the window has been drawn (PreviewView), as it is hidden until a fetch.
    HtmlView* Prv = nullptr;
    QGroupBox* FrmInfo = nullptr;
    ProgressBar* Prg = nullptr;
    // lblSize: shows the video's name ("Name : "), not a size.
    QLabel* lblSize = nullptr;
    AeroButton* cmdCancel = nullptr;
    QGroupBox* frmDest = nullptr;
    QLineEdit* txtDest = nullptr;
    AeroButton* cmdBrowse = nullptr;
    AeroButton* cmdOpen = nullptr;
    AeroButton* cmdRefresh = nullptr;
    AeroButton* cmdConvert = nullptr;
    AeroButton* cmdHome = nullptr;
    AeroButton* cmdUpdate = nullptr;
    AeroButton* cmdAbout = nullptr;
    HtmlView* Adds = nullptr;
    Nabrix* Nabrix1 = nullptr;

signals:
    // Once, just after the window's first paint (or a second after it is shown, should it
    // never be drawn): the moment for what the first sight of the window does not need.
    void FirstPaintDone();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateAddressRow();
    void CreatePreview();
    HtmlView* PreviewView();
    void AfterFirstPaint();
    void CreateInfoFrame();
    void CreateDestinationFrame();
    void CreateButtonRow();
    void SetTabOrder();
    void ConnectHandlers();
    void CentreOnScreen();
    void KeepOnScreen();
    void NameForScreenReaders();

    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    LayoutRules::MainLayout CurrentLayout() const;
    void ApplyLayout(const LayoutRules::MainLayout& layout);
    void SetDefaultButton(AeroButton* button);

    void cmdDownload_Click();
    // The quality menu on the Download button: the highest height wanted, and the streams of
    // the page read last.
    void ShowQualityMenu(const QPoint& at);
    void cmdCancel_Click();
    void cmdBrowse_Click();
    void cmdOpen_Click();
    void cmdHome_Click();
    void cmdUpdate_Click();
    void cmdRefresh_Click();
    void cmdConvert_Click();
    void cmdAbout_Click();
    void txtSource_Change();
    void txtSource_MouseMove();
    bool AddressBoxTakesAPaste() const;
    void PasteVideoAddress(const QString& clipboard);
    void AbortDownload();
    void OpenMakerPage(const QString& address);

    void Nabrix1_DownloadProgress(qint64 lngCurrent, qint64 lngMax);
    void Nabrix1_RetryWaiting(qint64 waitMs, int retry, int maxRetries);
    void ShowProgress();
    void ShowBarText();
    void ClearBarText();
    void StartWaitingAddressWhenIdle();
    void StartWaitingAddress();
    void TellLeftOut(int tooLong, int beyondMost);
    void ShowLeftOut();
    void SetInfoCaption(const QString& caption);
    void Nabrix1_VideoData(const QString& VideoTitle);
    void Nabrix1_DownloadComplete();
    void Nabrix1_DownloadError(const QString& ErrorDescription);
    void Nabrix1_InvalidUrl();
    void BackToIdle();
    void Nabrix1_InfoError(const QString& ErrorDescription);

    // Pages of today: the reading shown as such, the retry wait counted down, the address under
    // way kept, the preview pane shown only with a picture, Enter while busy.
    void Nabrix1_PhaseStarted(Nabrix::Phase phase);
    void ShowPageReading();
    void EndPageReading();
    void CountDownRetry();
    void KeepRunningAddress(const QString& address);
    void EndRunningAddress();
    int WaitingCount() const;
    void Nabrix1_PreviewNavigate(const QString& address);
    void Nabrix1_PreviewPaneShow();
    void txtSource_ReturnPressed();

    AeroButton* defaultButton_ = nullptr;
    QPointer<frmConvert> convertDialog_;
    bool afterFirstPaintDone_ = false;
    std::function<QString()> browserPickup_;
    ClipboardReader* clipboard_ = nullptr;
    // The latest progress the fetcher reported, shown at the eye's pace by progressPacer_.
    struct Progress {
        qint64 current = 0;
        qint64 max = 0;
        bool transferring = false; // the video transfer rather than the page
    } progress_;
    // Where the video transfer stood at its first report since it (re)started, for its pace.
    struct Pace {
        bool started = false;
        qint64 firstDone = 0;
        qint64 firstAtMs = 0;
    } pace_;
    std::function<qint64()> paceClock_;
    // The retry being waited for ("Retrying in 8 s (2 of 5)"), empty while none is.
    QString retryText_;
    int waitingAddresses_ = 0;
    // Addresses left out since the window last said so, and whether saying so is under way.
    int leftOutTooLong_ = 0;
    int leftOutBeyondMost_ = 0;
    bool leftOutToBeTold_ = false;
    // What the fetcher's progress events are about.
    Nabrix::Phase fetchPhase_ = Nabrix::Phase::Page;
    DisplayPacer* progressPacer_ = nullptr;
    DesktopJob* downloadJob_ = nullptr;
    bool readingPage_ = false;
    // The retry wait still to go, counted down each second.
    QTimer* retryCountdown_ = nullptr;
    struct Retry {
        qint64 leftMs = 0;
        int retry = 0;
        int most = 0;
    } retry_;
    // The address under way, kept first among the waiting ones until its download ends; empty
    // when none runs.
    QString runningAddress_;
    bool closing_ = false;
    bool previewBlank_ = true;
    bool previewWanted_ = false;
};
