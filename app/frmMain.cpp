#include "frmMain.h"

#include "AccessibleRoles.h"
#include "AeroButton.h"
#include "AppVersion.h"
#include "ClipboardReader.h"
#include "Desktop.h"
#include "DesktopJob.h"
#include "DisplayPacer.h"
#include "HandedIn.h"
#include "HtmlView.h"
#include "MakerSite.h"
#include "MsgBox.h"
#include "Nabrix.h"
#include "OfferPlan.h"
#include "OutputFolder.h"
#include "PageText.h"
#include "ProgressBar.h"
#include "ProgressCaption.h"
#include "RegEdit.h"
#include "SavedSettings.h"
#include "ScreenPlacement.h"
#include "ShellOpen.h"
#include "StreamJoin.h"
#include "Twips.h"
#include "WaitingAddresses.h"
#include "WindowFonts.h"
#include "frmAbout.h"
#include "frmConvert.h"
#include "modBrowse.h"
#include "modIcon.h"
#include "modMain.h"
#include "modNabrix.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace {
const QString kBlankPage = QStringLiteral("about:<html><body scroll='no'></body></html>");
const QString kInformation = QStringLiteral("Information");
const QString kEmptyAddress = QStringLiteral("http://");
const QString kReadingPage = QStringLiteral("Reading the video page…");
const QString kCancelled = QStringLiteral("Cancelled");
constexpr int kCountdownStepMs = 1000;
// Shorter addresses make Download look at the user's browser first.
constexpr int kShortestAddress = 10;
constexpr int kFirstPaintWaitMs = 1000;

QRect twipRect(const LayoutRules::TwipRect& r) {
    return Twips::ToPixelRect(r.Left, r.Top, r.Width, r.Height);
}

LayoutRules::TwipRect twipsOf(const QWidget* widget) {
    const QRect r = widget->geometry();
    return {Twips::FromPixels(r.x()), Twips::FromPixels(r.y()), Twips::FromPixels(r.width()),
            Twips::FromPixels(r.height())};
}

void setTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

AeroButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                       const QString& toolTip, const QFont& font, modIcon::Picture picture,
                       bool whiteIsTransparent) {
    auto* button = new AeroButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(toolTip);
    button->setFont(font);
    button->setPicture(modIcon::ButtonPicture(picture),
                       whiteIsTransparent ? modIcon::kPictureTransparentColor : QColor());
    return button;
}
} // namespace

frmMain::frmMain(QWidget* parent)
    : QWidget(parent), browserPickup_(&modNabrix::GetBrowserVideoUrl),
      paceClock_([] { return QDeadlineTimer::current().deadline(); }) {
    setObjectName("frmMain");
    setFont(WindowFonts::MsSansSerif(8.25));
    resize(Twips::ToPixels(10665), Twips::ToPixels(8145));
    CreateControls();
    Nabrix1 = new Nabrix(this);
    Nabrix1->setObjectName("Nabrix1");
    // Streams fetched apart are joined by the converter program, the one place ffmpeg runs.
    Nabrix1->SetJoiner(new StreamJoin(Nabrix1));
    clipboard_ = new ClipboardReader(this);
    progressPacer_ =
        new DisplayPacer([this] { ShowProgress(); }, DisplayPacer::DefaultIntervalMs, this);
    downloadJob_ = new DesktopJob(this, DesktopJob::Kind::Download);
    retryCountdown_ = new QTimer(this);
    retryCountdown_->setInterval(kCountdownStepMs);
    // Links dropped anywhere on the window, the address box included, start a download.
    setAcceptDrops(true);
    txtSource->setAcceptDrops(false);
    NameForScreenReaders();
    ConnectHandlers();
    CentreOnScreen();
    Form_Load();
    // Addresses left waiting when the program last ended take their turn now; those a hand
    // edit put beyond what the window takes are told.
    const WaitingAddresses::LeftOut leftOut = WaitingAddresses::Tidy(&HandedIn::IsTooLong);
    TellLeftOut(leftOut.refused, leftOut.beyondMost);
    StartWaitingAddressWhenIdle();
}

frmMain::~frmMain() = default;

// --- Building the window ------------------------------------------------------------------

void frmMain::CreateControls() {
    CreatePreview();
    CreateInfoFrame();
    CreateDestinationFrame();
    CreateButtonRow();
    CreateAddressRow();
    Adds = new HtmlView(this);
    Adds->setObjectName("Adds");
    Adds->setFrameShape(QFrame::StyledPanel);
    Adds->setGeometry(twipRect(LayoutRules::DesignLayout().Adds));
    Adds->setVisible(false);
    SetDefaultButton(cmdDownload);
    // The advertisement pane is read with the mouse; as a Tab stop it showed no focus.
    Adds->setFocusPolicy(Qt::NoFocus);
    SetTabOrder();
    txtSource->setFocus();
}

void frmMain::CreateAddressRow() {
    lblurl = new QLabel(QStringLiteral("YouTube URL:"), this);
    lblurl->setObjectName("lblurl");
    QFont labelFont = WindowFonts::Tahoma(8.25);
    labelFont.setBold(true);
    lblurl->setFont(labelFont);
    setTextColour(lblurl, QPalette::WindowText, QColor(255, 0, 0));
    lblurl->setGeometry(Twips::ToPixelRect(120, 240, 1335, 285));

    txtSource = new QLineEdit(kEmptyAddress, this);
    txtSource->setObjectName("txtSource");
    txtSource->setToolTip(QStringLiteral("Example : ") + MakerSite::SampleVideoPage +
                          QStringLiteral("  "));
    setTextColour(txtSource, QPalette::Base, Qt::white);
    setTextColour(txtSource, QPalette::Text, QColor(64, 64, 64));
    txtSource->setGeometry(twipRect(LayoutRules::DesignLayout().txtSource));
    txtSource->setMouseTracking(true);
    txtSource->installEventFilter(this);

    cmdDownload = makeButton(this, "cmdDownload", QStringLiteral("Download"),
                             QStringLiteral("Insert a valid youtube link then click to download"),
                             WindowFonts::Tahoma(9), modIcon::Picture::RedDownArrow, true);
    cmdDownload->setGeometry(twipRect(LayoutRules::DesignLayout().cmdDownload));
}

void frmMain::CreatePreview() {
    // The idle player lies under the preview pane and shows wherever the pane is hidden.
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(modIcon::IdlePlayerPicture());
    Image1->setGeometry(Twips::ToPixelRect(120, 720, 2700, 2205));

    PicPreview = new QWidget(this);
    PicPreview->setObjectName("PicPreview");
    PicPreview->setGeometry(Image1->geometry());
    PicPreview->setVisible(false);
}

HtmlView* frmMain::PreviewView() {
    if (Prv)
        return Prv;
    Prv = new HtmlView(PicPreview);
    Prv->setObjectName("Prv");
    Prv->setToolTip(QStringLiteral("Wait for Image to Load"));
    Prv->setAccessibleName(QStringLiteral("Video preview"));
    // A Tab stop shows where the focus is: a frame in the highlight colour.
    Prv->setStyleSheet(QStringLiteral("HtmlView { border: 1px solid transparent; }"
                                      "HtmlView:focus { border: 2px solid palette(highlight); }"));
    Prv->setGeometry(Twips::ToPixelRect(0, 0, 2700, 2205));
    Prv->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Prv->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Prv->Navigate(kBlankPage);
    Prv->show();
    SetTabOrder();
    return Prv;
}

void frmMain::CreateInfoFrame() {
    const LayoutRules::MainLayout design = LayoutRules::DesignLayout();
    FrmInfo = new QGroupBox(kInformation, this);
    FrmInfo->setObjectName("FrmInfo");
    FrmInfo->setGeometry(twipRect(design.FrmInfo));

    cmdCancel = makeButton(FrmInfo, "cmdCancel", QStringLiteral("Cancel"),
                           QStringLiteral("Cancel download"), WindowFonts::MsSansSerif(8.25),
                           modIcon::Picture::RedCross, true);
    cmdCancel->setGeometry(twipRect(design.cmdCancel));
    cmdCancel->setEnabled(false);

    Prg = new ProgressBar(FrmInfo);
    Prg->setObjectName("Prg");
    Prg->setBarColor(QColor(255, 128, 0));
    // The share done: a byte count in the bar says nothing a reader can use.
    Prg->setFormat(QStringLiteral("%p %"));
    Prg->setValue(0);
    Prg->setGeometry(twipRect(design.Prg));

    lblSize = new QLabel(QStringLiteral("File Name : "), FrmInfo);
    lblSize->setObjectName("lblSize");
    lblSize->move(Twips::ToPixels(120), Twips::ToPixels(720));
    lblSize->adjustSize();
}

void frmMain::CreateDestinationFrame() {
    const LayoutRules::MainLayout design = LayoutRules::DesignLayout();
    frmDest = new QGroupBox(QStringLiteral("Destination"), this);
    frmDest->setObjectName("frmDest");
    frmDest->setGeometry(twipRect(design.frmDest));

    txtDest = new QLineEdit(frmDest);
    txtDest->setObjectName("txtDest");
    txtDest->setGeometry(twipRect(design.txtDest));

    cmdOpen = makeButton(frmDest, "cmdOpen", QStringLiteral("Open"),
                         QStringLiteral("Open containing folder"), WindowFonts::MsSansSerif(8.25),
                         modIcon::Picture::FolderArrow, true);
    cmdOpen->setGeometry(twipRect(design.cmdOpen));
    cmdBrowse = makeButton(frmDest, "cmdBrowse", QStringLiteral("Browse"),
                           QStringLiteral("Browse for folder"), WindowFonts::MsSansSerif(8.25),
                           modIcon::Picture::FolderMagnifier, false);
    cmdBrowse->setGeometry(twipRect(design.cmdBrowse));
}

void frmMain::CreateButtonRow() {
    const QFont rowFont = WindowFonts::MsSansSerif(8.25);
    cmdAbout =
        makeButton(this, "cmdAbout", QStringLiteral("About"), QStringLiteral("About Vantelo"),
                   rowFont, modIcon::Picture::Information, true);
    cmdAbout->setGeometry(Twips::ToPixelRect(6120, 3120, 1215, 375));
    cmdHome = makeButton(this, "cmdHome", QStringLiteral("Homepage"), MakerSite::HomePage, rowFont,
                         modIcon::Picture::Globe, false);
    cmdHome->setGeometry(Twips::ToPixelRect(2760, 3120, 1215, 375));
    cmdConvert = makeButton(this, "cmdConvert", QStringLiteral("Convert"),
                            QStringLiteral("Convert YouTube Video"), rowFont,
                            modIcon::Picture::CurvedArrow, false);
    cmdConvert->setGeometry(Twips::ToPixelRect(1440, 3120, 1215, 375));
    cmdRefresh =
        makeButton(this, "cmdRefresh", QStringLiteral("Refresh"), QStringLiteral("Refresh Page"),
                   rowFont, modIcon::Picture::CirclingArrows, false);
    cmdRefresh->setGeometry(twipRect(LayoutRules::DesignLayout().cmdRefresh));
    cmdUpdate = makeButton(this, "cmdUpdate", QStringLiteral("Check for Updates"),
                           QStringLiteral("Check for updates"), WindowFonts::Tahoma(9),
                           modIcon::Picture::RedDownArrow, true);
    cmdUpdate->setGeometry(Twips::ToPixelRect(4080, 3120, 1935, 375));
}

void frmMain::SetTabOrder() {
    // The focusable controls in the order of their tab indexes.
    QWidget* const order[] = {txtSource, cmdDownload, Adds,       cmdCancel,  cmdOpen,
                              cmdBrowse, txtDest,     cmdRefresh, cmdConvert, cmdHome,
                              cmdAbout,  cmdUpdate,   Prv};
    QWidget* previous = nullptr;
    for (QWidget* control : order) {
        if (!control)
            continue; // not made yet
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }
}

void frmMain::ConnectHandlers() {
    connect(cmdDownload, &AeroButton::clicked, this, &frmMain::cmdDownload_Click);
    cmdDownload->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(cmdDownload, &QWidget::customContextMenuRequested, this, &frmMain::ShowQualityMenu);
    connect(cmdCancel, &AeroButton::clicked, this, &frmMain::cmdCancel_Click);
    connect(cmdBrowse, &AeroButton::clicked, this, &frmMain::cmdBrowse_Click);
    connect(cmdOpen, &AeroButton::clicked, this, &frmMain::cmdOpen_Click);
    connect(cmdHome, &AeroButton::clicked, this, &frmMain::cmdHome_Click);
    connect(cmdUpdate, &AeroButton::clicked, this, &frmMain::cmdUpdate_Click);
    connect(cmdRefresh, &AeroButton::clicked, this, &frmMain::cmdRefresh_Click);
    connect(cmdConvert, &AeroButton::clicked, this, &frmMain::cmdConvert_Click);
    connect(cmdAbout, &AeroButton::clicked, this, &frmMain::cmdAbout_Click);
    connect(txtSource, &QLineEdit::textChanged, this, &frmMain::txtSource_Change);
    connect(clipboard_, &ClipboardReader::TextRead, this, &frmMain::PasteVideoAddress);

    connect(Nabrix1, &Nabrix::PhaseStarted, this, &frmMain::Nabrix1_PhaseStarted);
    connect(retryCountdown_, &QTimer::timeout, this, &frmMain::CountDownRetry);
    connect(txtSource, &QLineEdit::returnPressed, this, &frmMain::txtSource_ReturnPressed);
    connect(Nabrix1, &Nabrix::DownloadProgress, this, &frmMain::Nabrix1_DownloadProgress);
    connect(Nabrix1, &Nabrix::RetryWaiting, this, &frmMain::Nabrix1_RetryWaiting);
    connect(Nabrix1, &Nabrix::VideoData, this,
            [this](const QString& title) { Nabrix1_VideoData(title); });
    connect(Nabrix1, &Nabrix::DownloadComplete, this, &frmMain::Nabrix1_DownloadComplete);
    connect(Nabrix1, &Nabrix::DownloadError, this, &frmMain::Nabrix1_DownloadError);
    connect(Nabrix1, &Nabrix::InvalidUrl, this, &frmMain::Nabrix1_InvalidUrl);
    connect(Nabrix1, &Nabrix::InfoError, this, &frmMain::Nabrix1_InfoError);
    connect(Nabrix1, &Nabrix::PreviewNavigate, this, &frmMain::Nabrix1_PreviewNavigate);
    connect(Nabrix1, &Nabrix::PreviewPaneShow, this, &frmMain::Nabrix1_PreviewPaneShow);
}

void frmMain::CentreOnScreen() {
    const QScreen* shownOn = screen();
    if (!shownOn)
        return;
    setGeometry(ScreenPlacement::Place(shownOn->availableGeometry(), size(), QMargins()));
}

// Once shown, the window manager's frame is known: a frame that sticks out of the screen (a
// large scale on a small screen) is brought onto it.
void frmMain::KeepOnScreen() {
    const QScreen* shownOn = screen();
    if (!shownOn || isMaximized() || isFullScreen())
        return;
    const QRect available = shownOn->availableGeometry();
    const QRect frame = frameGeometry();
    if (available.contains(frame))
        return;
    const QRect client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    setGeometry(ScreenPlacement::Place(available, size(), margins));
}

// What a screen reader says of each control: its label's or frame's text where the control
// has none of its own.
void frmMain::NameForScreenReaders() {
    txtSource->setAccessibleName(QStringLiteral("YouTube URL"));
    lblurl->setBuddy(txtSource);
    txtDest->setAccessibleName(QStringLiteral("Destination"));
    Prg->setAccessibleName(QStringLiteral("Download progress"));
    PicPreview->setAccessibleName(QStringLiteral("Video preview"));
    Image1->setAccessibleName(QStringLiteral("Video preview"));
    Adds->setAccessibleName(QStringLiteral("Advertisement"));
    AccessibleRoles::Set(this, QAccessible::Window);
}

frmConvert* frmMain::ConvertDialog() const {
    return convertDialog_.data();
}

void frmMain::SetBrowserPickup(std::function<QString()> pickup) {
    browserPickup_ = std::move(pickup);
}

// --- Loading, layout and unloading --------------------------------------------------------

void frmMain::Form_Load() {
    modIcon::SetWindowIcon(this, QStringLiteral("MAINICON"), true);
    setWindowTitle(QStringLiteral("%1 %2.%3.%4")
                       .arg(QLatin1String(AppVersion::Product))
                       .arg(AppVersion::Major)
                       .arg(AppVersion::Minor)
                       .arg(AppVersion::Revision));
    Form_Resize();
    const QString stored = OutputFolder::Load();
    txtDest->setText(OutputFolder::Resolved(stored).value_or(stored));
    // A stored relative folder is made nowhere: the first download asks for a full path.
    OutputFolder::MakeIfMissing(txtDest->text());
    Prg->setValue(0);
    Adds->Navigate(kBlankPage);
    // The request goes out after the first paint (AfterFirstPaint): loading the network and
    // the first look-up of the system's proxy would otherwise hold up the window.
    Adds->HoldRequests();
    Adds->Navigate(MakerSite::AdsPage);
    Adds->setVisible(true);
}

void frmMain::Form_Resize() {
    // A minimised window has no client area; the rules that would go negative then skip.
    const bool minimised = isMinimized();
    const int width = minimised ? 0 : Twips::FromPixels(this->width());
    const int height = minimised ? 0 : Twips::FromPixels(this->height());
    LayoutRules::MainLayout layout = CurrentLayout();
    LayoutRules::Apply(layout, width, height);
    ApplyLayout(layout);
}

LayoutRules::MainLayout frmMain::CurrentLayout() const {
    LayoutRules::MainLayout layout;
    layout.cmdDownload = twipsOf(cmdDownload);
    layout.txtSource = twipsOf(txtSource);
    layout.FrmInfo = twipsOf(FrmInfo);
    layout.Prg = twipsOf(Prg);
    layout.cmdCancel = twipsOf(cmdCancel);
    layout.frmDest = twipsOf(frmDest);
    layout.cmdOpen = twipsOf(cmdOpen);
    layout.cmdBrowse = twipsOf(cmdBrowse);
    layout.txtDest = twipsOf(txtDest);
    layout.cmdRefresh = twipsOf(cmdRefresh);
    layout.Adds = twipsOf(Adds);
    return layout;
}

void frmMain::ApplyLayout(const LayoutRules::MainLayout& layout) {
    cmdDownload->setGeometry(twipRect(layout.cmdDownload));
    txtSource->setGeometry(twipRect(layout.txtSource));
    FrmInfo->setGeometry(twipRect(layout.FrmInfo));
    Prg->setGeometry(twipRect(layout.Prg));
    cmdCancel->setGeometry(twipRect(layout.cmdCancel));
    frmDest->setGeometry(twipRect(layout.frmDest));
    cmdOpen->setGeometry(twipRect(layout.cmdOpen));
    cmdBrowse->setGeometry(twipRect(layout.cmdBrowse));
    txtDest->setGeometry(twipRect(layout.txtDest));
    cmdRefresh->setGeometry(twipRect(layout.cmdRefresh));
    Adds->setGeometry(twipRect(layout.Adds));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Resize();
    // A window that is not drawn (shown minimised, say) must not wait for its paint for ever.
    QTimer::singleShot(kFirstPaintWaitMs, this, &frmMain::AfterFirstPaint);
}

void frmMain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Queued: it follows the paint of the children and the window's first flush.
    if (!afterFirstPaintDone_)
        QTimer::singleShot(0, this, &frmMain::AfterFirstPaint);
}

void frmMain::AfterFirstPaint() {
    if (afterFirstPaintDone_)
        return;
    afterFirstPaintDone_ = true;
    KeepOnScreen();
    PreviewView();
    Adds->ReleaseRequests();
    emit FirstPaintDone();
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    // Events already queued (a last progress report, say) are handled before tearing down.
    QCoreApplication::processEvents();
    if (convertDialog_)
        convertDialog_->close();
    // The address under way stays kept: the next start resumes it.
    closing_ = true;
    AbortDownload();
}

// --- Keyboard and the address box ---------------------------------------------------------

void frmMain::SetDefaultButton(AeroButton* button) {
    // The button takes Enter for the whole window and the role from the other buttons.
    button->setDefault(true);
    defaultButton_ = button;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSource && event->type() == QEvent::MouseMove)
        txtSource_MouseMove();
    return QWidget::eventFilter(watched, event);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* dropped = event->mimeData();
    // Also while a download runs: the address then waits its turn.
    if (dropped->hasUrls() || dropped->hasText())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const QMimeData* dropped = event->mimeData();
    if (TakeAddress(HandedIn::DroppedAddress(dropped->urls(), dropped->text())))
        event->acceptProposedAction();
}

bool frmMain::TakeAddress(const QString& text) {
    const QString address = HandedIn::Address(text);
    if (address.isEmpty()) {
        if (HandedIn::IsTooLong(text))
            TellLeftOut(1, 0);
        return false;
    }
    if (cmdDownload->isEnabled()) {
        txtSource->setText(address);
        cmdDownload_Click();
        return true;
    }
    if (!WaitingAddresses::Add(address, WaitingAddresses::kMost + !runningAddress_.isEmpty())) {
        TellLeftOut(0, 1);
        return false;
    }
    waitingAddresses_ = WaitingCount();
    ShowBarText();
    return true;
}

// Queued, and one box for all left out meanwhile: a drop or a later start is answered first,
// and a long list makes no pile of boxes.
void frmMain::TellLeftOut(int tooLong, int beyondMost) {
    leftOutTooLong_ += tooLong;
    leftOutBeyondMost_ += beyondMost;
    if (leftOutToBeTold_ || leftOutTooLong_ + leftOutBeyondMost_ == 0)
        return;
    leftOutToBeTold_ = true;
    QTimer::singleShot(0, this, &frmMain::ShowLeftOut);
}

void frmMain::ShowLeftOut() {
    // More may be left out while the box is open: told by the next box, not one on top.
    while (leftOutTooLong_ + leftOutBeyondMost_ > 0) {
        const QString text =
            HandedIn::LeftOutText(std::exchange(leftOutTooLong_, 0),
                                  std::exchange(leftOutBeyondMost_, 0), WaitingAddresses::kMost);
        MsgBox(this, text, vbInformation);
    }
    leftOutToBeTold_ = false;
}

// Queued: the window first finishes the end it is handling (and a page refused at once does
// not start the next one from inside the click that started it).
void frmMain::StartWaitingAddressWhenIdle() {
    waitingAddresses_ = WaitingCount();
    if (waitingAddresses_ > 0)
        QTimer::singleShot(0, this, &frmMain::StartWaitingAddress);
}

void frmMain::StartWaitingAddress() {
    // The user may have started a download of their own meanwhile: the address waits on.
    if (!cmdDownload->isEnabled())
        return;
    const QString address = WaitingAddresses::TakeFirst();
    waitingAddresses_ = WaitingCount();
    if (address.isEmpty())
        return;
    txtSource->setText(address);
    cmdDownload_Click();
    ShowBarText();
}

void frmMain::txtSource_Change() {
    SetDefaultButton(cmdDownload);
}

void frmMain::txtSource_MouseMove() {
    // Only a box that could take the address asks for the clipboard; the text comes from the
    // reader at once when known, or by TextRead once read, never by waiting here.
    if (!AddressBoxTakesAPaste())
        return;
    if (const auto clipboard = clipboard_->Text())
        PasteVideoAddress(*clipboard);
}

bool frmMain::AddressBoxTakesAPaste() const {
    const QString current = txtSource->text();
    return current.isEmpty() || current == kEmptyAddress;
}

void frmMain::PasteVideoAddress(const QString& clipboard) {
    // A video page of the service, as ever, or the address of a web page of any other site.
    const QString trimmed = clipboard.trimmed();
    const bool webPage = (trimmed.startsWith(QLatin1String("https://")) ||
                          trimmed.startsWith(QLatin1String("http://"))) &&
                         !PageText::IsVideoServiceAddress(trimmed);
    if ((clipboard.contains(MakerSite::VideoServiceDomain, Qt::CaseSensitive) ||
         (webPage && !trimmed.contains(QLatin1Char('\n')))) &&
        AddressBoxTakesAPaste())
        txtSource->setText(txtSource->text() + clipboard);
}

// --- Commands -----------------------------------------------------------------------------

void frmMain::cmdDownload_Click() {
    const auto folder = OutputFolder::Resolved(txtDest->text());
    if (!folder) {
        MsgBox(this, OutputFolder::NotAFullPathText(), vbExclamation);
        return;
    }
    txtDest->setText(*folder);
    // A folder that cannot be made is reported by the fetcher when it writes the file.
    modMain::CreatePath(modMain::AddSlash(txtDest->text()));
    downloadJob_->Started();
    cmdDownload->setEnabled(false);
    cmdCancel->setEnabled(false);
    frmDest->setEnabled(false);
    if (txtSource->text().size() < kShortestAddress && browserPickup_) {
        const QString shown = browserPickup_();
        if (!shown.isEmpty())
            txtSource->setText(shown);
    }
    Nabrix1->SetOutputFolder(txtDest->text());
    Nabrix1->SetMaxHeight(
        SettingsStore()
            .LoadKey(SavedSettings::StoredName(SavedSettings::FetchSetting::MaxHeight),
                     SavedSettings::FixedDefault(SavedSettings::FetchSetting::MaxHeight))
            .toInt());
    KeepRunningAddress(txtSource->text());
    Nabrix1->GetVideoInfo(txtSource->text());
}

void frmMain::ShowQualityMenu(const QPoint& at) {
    auto* menu = new QMenu(cmdDownload);
    menu->setObjectName("QualityMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString setting = SavedSettings::StoredName(SavedSettings::FetchSetting::MaxHeight);
    const int wanted =
        SettingsStore()
            .LoadKey(setting, SavedSettings::FixedDefault(SavedSettings::FetchSetting::MaxHeight))
            .toInt();
    auto* heights = new QActionGroup(menu);
    const auto addHeight = [&](const QString& text, int height) {
        QAction* action = heights->addAction(text);
        action->setCheckable(true);
        action->setChecked(height == wanted);
        menu->addAction(action);
        connect(action, &QAction::triggered, this, [this, setting, height] {
            SettingsStore().WriteKey(setting, QString::number(height));
            Nabrix1->SetMaxHeight(height);
        });
    };
    addHeight(QStringLiteral("Best quality"), 0);
    for (const int height : {2160, 1440, 1080, 720, 480, 360})
        addHeight(QStringLiteral("Up to %1p").arg(height), height);
    addHeight(QStringLiteral("Sound only"), OfferPlan::SoundOnly);
    // The streams of the page read last, to fetch one of them instead: only while the box
    // still holds its address.
    const QList<MediaStream> streams =
        OfferPlan::IsOfAddress(Nabrix1->LastOffer(), txtSource->text())
            ? Nabrix1->LastOffer().streams
            : QList<MediaStream>();
    if (!streams.isEmpty())
        menu->addSeparator();
    for (int index = 0; index < streams.size(); ++index) {
        QAction* action = menu->addAction(OfferPlan::Label(streams[index]));
        action->setEnabled(cmdDownload->isEnabled());
        connect(action, &QAction::triggered, this, [this, index] {
            const auto folder = OutputFolder::Resolved(txtDest->text());
            if (!folder || !cmdDownload->isEnabled())
                return;
            downloadJob_->Started();
            cmdDownload->setEnabled(false);
            cmdCancel->setEnabled(true);
            frmDest->setEnabled(false);
            Nabrix1->SetOutputFolder(*folder);
            Nabrix1->DownloadStream(index);
        });
    }
    menu->popup(cmdDownload->mapToGlobal(at));
}

void frmMain::cmdCancel_Click() {
    // The transfer goes on while the question is open.
    if (MsgBox(this, QStringLiteral("Do you want to abort current download?"), vbYesNo) != vbYes)
        return;
    AbortDownload();
    // A page of today says the download is over; the 2008 caption stays as it was.
    if (Nabrix1->ReadsTodaysPage())
        SetInfoCaption(kCancelled);
    txtSource->setFocus();
    StartWaitingAddressWhenIdle();
}

void frmMain::AbortDownload() {
    progressPacer_->Flush();
    downloadJob_->Stopped();
    Prg->setValue(0);
    EndPageReading();
    ClearBarText();
    Nabrix1->ClearDownload();
    if (!closing_)
        EndRunningAddress();
    FrmInfo->setEnabled(true);
    cmdCancel->setEnabled(false);
    frmDest->setEnabled(true);
    cmdDownload->setEnabled(true);
    txtSource->setEnabled(true);
    PicPreview->setVisible(false);
}

void frmMain::cmdBrowse_Click() {
    // Stored as the folder it names, so the conversion dialog never meets a "~".
    if (const auto typed = OutputFolder::Resolved(txtDest->text()))
        txtDest->setText(*typed);
    const QString current = txtDest->text();
    const QString chosen = BrowseFolder(this, QStringLiteral("Browse for Folder"), 0, current,
                                        current, true, false, QString());
    if (!chosen.isEmpty())
        txtDest->setText(chosen);
    OutputFolder::Save(txtDest->text());
}

void frmMain::cmdOpen_Click() {
    const auto folder = OutputFolder::Resolved(txtDest->text());
    const bool shown = folder && QFileInfo(*folder).isDir() &&
                       Desktop::instance().openUrl(QUrl::fromLocalFile(*folder));
    if (!shown)
        MsgBox(this, QStringLiteral("An error occurd!"), vbCritical, QStringLiteral("Error!"));
}

void frmMain::OpenMakerPage(const QString& address) {
    // The desktop reports a failure only when no program could be started for the address.
    if (modMain::ShellOpen(address, QString(), QString()).isEmpty())
        return;
    MsgBox(this,
           QStringLiteral("An error has occured while trying to connect to the internet\r\n"
                          "Please ensure that your internet connection is functioning correctly "
                          "and try again."),
           vbInformation, QStringLiteral("Error!"));
}

void frmMain::cmdHome_Click() {
    OpenMakerPage(MakerSite::HomePage);
}

void frmMain::cmdUpdate_Click() {
    OpenMakerPage(MakerSite::ProductPage);
}

void frmMain::cmdRefresh_Click() {
    Adds->Navigate(MakerSite::AdsPage);
}

void frmMain::cmdConvert_Click() {
    // A dialog the user has closed has unloaded itself; the next press loads a fresh one.
    if (convertDialog_ && !convertDialog_->isVisible())
        delete convertDialog_;
    if (!convertDialog_) {
        convertDialog_ = new frmConvert(this);
        // Opens over the main window, also where no window manager places it.
        convertDialog_->move(geometry().center() - convertDialog_->rect().center());
    }
    convertDialog_->show();
    convertDialog_->raise();
    convertDialog_->activateWindow();
}

void frmMain::cmdAbout_Click() {
    frmAbout about(this);
    about.exec();
}

// --- The fetcher's events -----------------------------------------------------------------

void frmMain::Nabrix1_DownloadProgress(qint64 lngCurrent, qint64 lngMax) {
    progress_ = {lngCurrent, lngMax, fetchPhase_ == Nabrix::Phase::Video};
    if (progress_.transferring) {
        retryText_.clear();
        // A resumed transfer's first count already holds the bytes on disk: the pace counts
        // from the first bytes of this run.
        if (!pace_.started && lngCurrent > 0)
            pace_ = {true, lngCurrent, paceClock_()};
    }
    // A fast transfer reports hundreds of chunks a second; the eye needs far fewer showings.
    progressPacer_->Request();
}

void frmMain::ShowProgress() {
    // Bytes of a page of today say nothing of how far its reading is (yt-dlp may read on).
    if (readingPage_)
        return;
    Prg->setProgress(progress_.current, progress_.max);
    const QString prefix = progress_.transferring ? QStringLiteral("Downloading : ")
                                                  : QStringLiteral("Recieving YouTube Data : ");
    // A maximum of 0 is a total nobody announced: show what has arrived, not "/ 0 bytes".
    QString sizes = modNabrix::FormatByteSize(progress_.current);
    if (progress_.max > 0)
        sizes += QStringLiteral(" / ") + modNabrix::FormatByteSize(progress_.max);
    SetInfoCaption(prefix + sizes);
    ShowBarText();
    if (progress_.transferring)
        downloadJob_->Progress(progress_.current, progress_.max);
}

// The bar's text: the share, and during the video its speed and time left, or the retry being
// waited for; then the addresses waiting their turn. Screen readers hear the time left.
void frmMain::ShowBarText() {
    QString shown = QStringLiteral("%p %");
    QString timeLeft;
    if (readingPage_) {
        shown = kReadingPage;
    } else if (!retryText_.isEmpty()) {
        shown = retryText_;
    } else if (progress_.transferring && pace_.started) {
        const qint64 elapsed = paceClock_() - pace_.firstAtMs;
        shown = ProgressCaption::DownloadText(progress_.current, progress_.max, pace_.firstDone,
                                              elapsed);
        timeLeft =
            ProgressCaption::TimeLeft(progress_.current, progress_.max, pace_.firstDone, elapsed);
    }
    Prg->setFormat(
        ProgressCaption::Joined({shown, ProgressCaption::WaitingText(waitingAddresses_)}));
    Prg->setValueText(timeLeft);
}

void frmMain::ClearBarText() {
    progress_ = Progress();
    pace_ = Pace();
    retryText_.clear();
    ShowBarText();
}

void frmMain::Nabrix1_RetryWaiting(qint64 waitMs, int retry, int maxRetries) {
    progressPacer_->Flush();
    retryText_ = ProgressCaption::RetryText(waitMs, retry, maxRetries);
    retry_ = {waitMs, retry, maxRetries};
    retryCountdown_->start();
    // The next try may start over: its pace is its own.
    pace_ = Pace();
    ShowBarText();
}

void frmMain::SetInfoCaption(const QString& caption) {
    if (FrmInfo->title() == caption)
        return;
    // QGroupBox repaints the whole frame with the controls in it for a new title; only the
    // band that holds the title changes, so only that is repainted.
    FrmInfo->setAttribute(Qt::WA_UpdatesDisabled, true);
    FrmInfo->setTitle(caption);
    FrmInfo->setAttribute(Qt::WA_UpdatesDisabled, false);
    QStyleOptionGroupBox option;
    option.initFrom(FrmInfo);
    option.text = caption;
    option.textAlignment = FrmInfo->alignment();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label = FrmInfo->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, FrmInfo);
    FrmInfo->update(0, 0, FrmInfo->width(),
                    std::max(label.bottom() + 1, FrmInfo->contentsRect().top()));
}

void frmMain::Nabrix1_VideoData(const QString& VideoTitle) {
    progressPacer_->Flush();
    pace_ = Pace();
    retryText_.clear();
    EndPageReading();
    lblSize->setText(QStringLiteral("Name : ") + VideoTitle);
    lblSize->adjustSize();
    cmdDownload->setEnabled(false);
    cmdCancel->setEnabled(true);
    frmDest->setEnabled(false);
}

void frmMain::Nabrix1_DownloadComplete() {
    progressPacer_->Flush();
    Prg->setValue(0);
    Prg->setMax(5);
    FrmInfo->setTitle(kInformation);
    FrmInfo->setEnabled(true);
    cmdCancel->setEnabled(false);
    frmDest->setEnabled(true);
    cmdDownload->setEnabled(true);
    EndRunningAddress();
    txtSource->setFocus();
    const QString done = QStringLiteral("Download Complete");
    const auto told = downloadJob_->Finished(done, true, Nabrix1->TargetFile());
    ClearBarText();
    StartWaitingAddressWhenIdle();
    MsgBox(this, done, vbInformation);
    DesktopJob::Answered(told);
}

void frmMain::Nabrix1_DownloadError(const QString& ErrorDescription) {
    // A page of today ends every error where a failed page does: Idle, with the reason.
    if (Nabrix1->ReadsTodaysPage()) {
        ClearBarText();
        Nabrix1_InfoError(ErrorDescription);
        return;
    }
    progressPacer_->Flush();
    const QString error = QStringLiteral("Error:") + ErrorDescription;
    const auto told = downloadJob_->Finished(error, false, Nabrix1->TargetFile());
    retryText_.clear();
    ShowBarText();
    MsgBox(this, error, vbOKOnly);
    DesktopJob::Answered(told);
}

void frmMain::Nabrix1_InvalidUrl() {
    BackToIdle();
    StartWaitingAddressWhenIdle();
}

void frmMain::BackToIdle() {
    progressPacer_->Flush();
    downloadJob_->Stopped();
    EndPageReading();
    EndRunningAddress();
    FrmInfo->setTitle(kInformation);
    frmDest->setEnabled(true);
    FrmInfo->setEnabled(true);
    cmdDownload->setEnabled(true);
    cmdCancel->setEnabled(false);
}

void frmMain::Nabrix1_InfoError(const QString& ErrorDescription) {
    // The page could not be had: back to Idle, then say why.
    progressPacer_->Flush();
    Prg->setValue(0);
    const QString error = QStringLiteral("Error:") + ErrorDescription;
    const auto told = downloadJob_->Finished(error, false);
    BackToIdle();
    MsgBox(this, error, vbOKOnly);
    DesktopJob::Answered(told);
    // Only now: waiting addresses refused at once show their boxes one after another, not one
    // on top of the other.
    StartWaitingAddressWhenIdle();
}

void frmMain::Nabrix1_PhaseStarted(Nabrix::Phase phase) {
    fetchPhase_ = phase;
    if (phase == Nabrix::Phase::Page && Nabrix1->ReadsTodaysPage())
        ShowPageReading();
    else
        EndPageReading();
}

// Reading a page of today takes from a moment to many seconds (yt-dlp): the bar is busy, the
// caption says what happens, the name of the video before is gone, and Cancel ends it.
void frmMain::ShowPageReading() {
    progressPacer_->Flush();
    readingPage_ = true;
    lblSize->setText(QStringLiteral("File Name : "));
    lblSize->adjustSize();
    SetInfoCaption(kReadingPage);
    Prg->setBusy(true);
    cmdCancel->setEnabled(true);
    ShowBarText();
}

void frmMain::EndPageReading() {
    if (!readingPage_)
        return;
    readingPage_ = false;
    Prg->setBusy(false);
    SetInfoCaption(kInformation);
    ShowBarText();
}

void frmMain::CountDownRetry() {
    retry_.leftMs -= kCountdownStepMs;
    if (retryText_.isEmpty() || retry_.leftMs <= 0) {
        retryCountdown_->stop();
        return;
    }
    retryText_ = ProgressCaption::RetryText(retry_.leftMs, retry_.retry, retry_.most);
    ShowBarText();
}

void frmMain::KeepRunningAddress(const QString& address) {
    runningAddress_ = address.trimmed();
    WaitingAddresses::KeepFirst(runningAddress_);
}

void frmMain::EndRunningAddress() {
    if (!runningAddress_.isEmpty())
        WaitingAddresses::Remove(std::exchange(runningAddress_, QString()));
}

// The address under way is kept first in the list, but it is not waiting.
int frmMain::WaitingCount() const {
    return std::max(0, WaitingAddresses::Count() - !runningAddress_.isEmpty());
}

// A blank preview would hide the idle picture: the pane shows only once a picture is in it.
void frmMain::Nabrix1_PreviewNavigate(const QString& address) {
    PreviewView()->Navigate(address);
    previewBlank_ = address == PageText::BlankPreview();
    if (previewBlank_)
        PicPreview->hide();
    else if (previewWanted_)
        PicPreview->show();
}

void frmMain::Nabrix1_PreviewPaneShow() {
    previewWanted_ = true;
    if (!previewBlank_)
        PicPreview->show();
}

// Enter in the address box while a download runs: the address waits its turn, as one handed
// in does (when idle, Enter presses Download).
void frmMain::txtSource_ReturnPressed() {
    if (cmdDownload->isEnabled() || txtSource->text().trimmed() == runningAddress_)
        return;
    TakeAddress(txtSource->text());
}
