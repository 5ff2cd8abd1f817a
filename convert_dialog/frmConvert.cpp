#include "frmConvert.h"

#include "AVC.h"
#include "AccessibleRoles.h"
#include "AeroButton.h"
#include "ConversionMapping.h"
#include "Desktop.h"
#include "DesktopJob.h"
#include "FormatKey.h"
#include "FormatPreset.h"
#include "HandedIn.h"
#include "MsgBox.h"
#include "NamedLists.h"
#include "OutputFolder.h"
#include "ProgressBar.h"
#include "ProgressCaption.h"
#include "RegEdit.h"
#include "SavedSettings.h"
#include "ScreenPlacement.h"
#include "StatusLabel.h"
#include "StreamPlan.h"
#include "Twips.h"
#include "WindowFonts.h"
#include "ZebCheck.h"
#include "ZebCommonDialog.h"
#include "ZebLabel.h"
#include "ZebOption.h"
#include "modBrowse.h"
#include "modIcon.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <array>
#include <optional>

namespace {

const QColor kOrange(255, 128, 0);

// The dialog is designed in twips.
void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(Twips::ToPixelRect(left, top, width, height));
}

QComboBox* newList(QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    return list;
}

ZebLabel* newLabel(const QString& caption, QWidget* parent) {
    auto* label = new ZebLabel(caption, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

ZebLabel* newHeading(const QString& caption, QWidget* parent) {
    ZebLabel* heading = newLabel(caption, parent);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    return heading;
}

AeroButton* newButton(const QString& caption, const QString& toolTip, modIcon::Picture picture,
                      QWidget* parent) {
    auto* button = new AeroButton(caption, parent);
    button->setToolTip(toolTip);
    button->setPicture(modIcon::ButtonPicture(picture), modIcon::kPictureTransparentColor);
    return button;
}

QGroupBox* newFrame(const QString& caption, QWidget* parent) {
    return new QGroupBox(caption, parent);
}

// Selects the item whose text is exactly `text`; a list cannot show a text it does not hold.
bool setListText(QComboBox* list, const QString& text) {
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    list->setCurrentIndex(index);
    return true;
}

OptionList readList(const QComboBox* list) {
    OptionList read;
    for (int i = 0; i < list->count(); ++i)
        read.items.append(list->itemText(i));
    read.selected = list->currentIndex();
    read.enabled = list->isEnabled();
    return read;
}

void showList(QComboBox* list, const OptionList& shown) {
    list->clear();
    list->addItems(shown.items);
    list->setEnabled(shown.enabled);
    list->setCurrentIndex(shown.selected);
}

QString truthText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// Reads a stored truth value the way it was written ("True"/"False"), or as a number.
std::optional<bool> parseTruth(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (!isNumber)
        return std::nullopt;
    return number != 0;
}

// The control that shows each saved option: the output folder box, a list, the check box or an
// option button.
QWidget* controlOf(const frmConvert& dialog, SavedSetting key) {
    switch (key) {
    case SavedSetting::OutputFolder:
        return dialog.txtDest;
    case SavedSetting::Format:
        return dialog.cmbFormat;
    case SavedSetting::VideoCodec:
        return dialog.cmbVidCodec;
    case SavedSetting::VideoBitrate:
        return dialog.VidBitrate;
    case SavedSetting::AudioCodec:
        return dialog.cmdAudCodec;
    case SavedSetting::AudioBitrate:
        return dialog.cmbAudVit;
    case SavedSetting::AudioSampleRate:
        return dialog.cmbSample;
    case SavedSetting::FrameRate:
        return dialog.FrameRate;
    case SavedSetting::VideoSize:
        return dialog.cmbVideoSize;
    case SavedSetting::SameQuality:
        return dialog.chkQuality;
    case SavedSetting::Mono:
        return dialog.OptMono;
    case SavedSetting::Stereo:
        return dialog.OptStereo;
    case SavedSetting::VideoExtension:
        return dialog.cmbVidFormat;
    }
    return nullptr;
}

// The control's value as the settings store keeps it: a list's text, the check value as a
// number, an option's True or False.
QString storedText(const QWidget* control) {
    if (const auto* box = qobject_cast<const QLineEdit*>(control))
        return box->text();
    if (const auto* list = qobject_cast<const QComboBox*>(control))
        return list->currentText();
    if (const auto* check = qobject_cast<const ZebCheck*>(control))
        return QString::number(check->value());
    if (const auto* option = qobject_cast<const ZebOption*>(control))
        return truthText(option->value());
    return QString();
}

// Shows a stored value; a value the control cannot take leaves it as it is.
void restoreStoredText(QWidget* control, const QString& text) {
    if (auto* list = qobject_cast<QComboBox*>(control)) {
        setListText(list, text);
    } else if (auto* check = qobject_cast<ZebCheck*>(control)) {
        bool isNumber = false;
        const int value = text.trimmed().toInt(&isNumber);
        if (isNumber)
            check->setValue(value);
    } else if (auto* option = qobject_cast<ZebOption*>(control)) {
        if (const auto selected = parseTruth(text))
            option->setValue(*selected);
    }
}

constexpr int kDefaultFormatIndex = 1;

// Every media file the program reads, by name; partial downloads (".part") are not offered.
const QString kOpenFilter = QStringLiteral(
    "Media files|*.flv;*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.avi;*.mpg;*.mpeg;*.ts;*.wmv;*.3gp;*.3g2;"
    "*.mp3;*.m4a;*.aac;*.ogg;*.opus;*.flac;*.wav|All files|*");
constexpr int kBusyWrap = 100;

// The status text's font, and the smallest it shrinks to for a message that would not fit.
QFont statusFont() {
    QFont font = WindowFonts::Tahoma(9.75);
    font.setBold(true);
    return font;
}
constexpr qreal kSmallestStatusPoints = 7;
constexpr qreal kStatusShrinkStep = 0.75;

const QStringList& statusTexts() {
    static const QStringList texts{"Please Wait Converting...", "Please Wait Converting>..",
                                   "Please Wait Converting.>.", "Please Wait Converting..>"};
    return texts;
}

} // namespace

frmConvert::frmConvert(QWidget* owner)
    : QWidget(owner, Qt::Dialog), paceClock_([] { return QDeadlineTimer::current().deadline(); }) {
    setObjectName(QStringLiteral("frmConvert"));
    CreateControls();
    PutControlsOnScrollingPage();
    NameControls();
    ConnectControls();
    NameForScreenReaders();
    convertJob_ = new DesktopJob(this, DesktopJob::Kind::Conversion);
    // A media file dropped on the dialog becomes its source.
    setAcceptDrops(true);
    txtSource->setAcceptDrops(false);
    // Escape closes the dialog as its close button does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    Form_Load();
}

frmConvert::~frmConvert() = default;

// ---------------------------------------------------------------------------------------------
// Controls

void frmConvert::CreateControls() {
    setWindowTitle(QStringLiteral("Convert YouTube Video"));
    setFont(WindowFonts::Tahoma(8.25));
    const QSize design(Twips::ToPixels(6855), Twips::ToPixels(6120));
    resize(design);
    setMaximumSize(design);

    frmSource = newFrame(QStringLiteral("Source"), this);
    place(frmSource, 120, 120, 6615, 855);
    txtSource = new QLineEdit(frmSource);
    txtSource->setReadOnly(true);
    QPalette sourcePalette = txtSource->palette();
    sourcePalette.setColor(QPalette::Base, Qt::white);
    sourcePalette.setColor(QPalette::Text, QColor(64, 64, 64));
    txtSource->setPalette(sourcePalette);
    place(txtSource, 120, 360, 5175, 315);
    cmdSource = newButton(QStringLiteral("Open"), QStringLiteral("Select souce file"),
                          modIcon::Picture::FolderArrow, frmSource);
    place(cmdSource, 5400, 360, 1095, 315);

    FrmOptions = newFrame(QStringLiteral("Options"), this);
    place(FrmOptions, 120, 1080, 6615, 3495);
    cmbFormat = newList(FrmOptions);
    place(cmbFormat, 120, 360, 6375, 315);
    CreateVideoPanel();
    CreateAudioPanel();
    CreateStatusDisplay();
    CreateDestinationFrame();

    btnCancel = newButton(QStringLiteral("Cancel"), QStringLiteral("Cancel conversion"),
                          modIcon::Picture::RedCross, this);
    place(btnCancel, 4680, 5640, 975, 315);
    btnCancel->setEnabled(false);
    cmdConvert = newButton(QStringLiteral("Convert"), QStringLiteral("Click to convert"),
                           modIcon::Picture::CurvedArrow, this);
    place(cmdConvert, 5760, 5640, 975, 315);

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    tmrPrg = new QTimer(this);
    tmrPrg->setInterval(30);
}

void frmConvert::CreateVideoPanel() {
    Frame3 = new QFrame(FrmOptions);
    Frame3->setFrameShape(QFrame::NoFrame);
    place(Frame3, 120, 840, 3375, 2535);

    lblVideo = newHeading(QStringLiteral("Video"), Frame3);
    place(lblVideo, 120, 120, 1095, 240);
    const auto row = [this](ZebLabel*& label, QComboBox*& list, const QString& caption, int top) {
        label = newLabel(caption, Frame3);
        place(label, 120, top, 1140, 315);
        list = newList(Frame3);
        place(list, 1320, top, 1695, 315);
    };
    row(lblVidCodec, cmbVidCodec, QStringLiteral("Codec"), 360);
    row(lblVidBitRate, VidBitrate, QStringLiteral("Bitrate"), 720);
    row(lblVidFrameRate, FrameRate, QStringLiteral("Framerate"), 1080);
    row(lblVidSize, cmbVideoSize, QStringLiteral("Video Size"), 1440);
    row(lblFormat, cmbVidFormat, QStringLiteral("Format"), 1800);

    chkQuality = new ZebCheck(QStringLiteral("Same quality"), Frame3);
    chkQuality->setValue(0);
    place(chkQuality, 120, 2160, 1695, 255);
    chkQuality->resize(chkQuality->sizeHint().width(), chkQuality->height());

    Line1 = new QFrame(Frame3);
    Line1->setFrameShape(QFrame::VLine);
    Line1->setFrameShadow(QFrame::Sunken);
    place(Line1, 3240 - 15, 240, 30, 2280 - 240);
}

void frmConvert::CreateAudioPanel() {
    Frame1 = new QFrame(FrmOptions);
    Frame1->setFrameShape(QFrame::NoFrame);
    place(Frame1, 3480, 840, 3015, 2535);

    lblAudio = newHeading(QStringLiteral("Audio"), Frame1);
    place(lblAudio, 120, 120, 1035, 240);
    const auto row = [this](ZebLabel*& label, QComboBox*& list, const QString& caption, int top) {
        label = newLabel(caption, Frame1);
        place(label, 120, top, 1065, 315);
        list = newList(Frame1);
        place(list, 1200, top, 1815, 315);
    };
    row(lblCodec, cmdAudCodec, QStringLiteral("Codec"), 360);
    row(lblBitrate, cmbAudVit, QStringLiteral("Bitrate"), 720);
    row(lblSample, cmbSample, QStringLiteral("Samplerate"), 1080);

    lblChannel = newLabel(QStringLiteral("Channels"), Frame1);
    place(lblChannel, 120, 1440, 1065, 315);
    OptMono = new ZebOption(QStringLiteral("Mono"), Frame1);
    place(OptMono, 1200, 1440, 810, 315);
    OptMono->setValue(true);
    OptStereo = new ZebOption(QStringLiteral("Stereo"), Frame1);
    place(OptStereo, 2040, 1440, 975, 315);
}

// The status text and the busy bar belong to the audio panel, but they must stay lit while
// the options are locked during a conversion: they sit on the dialog, over the panel.
void frmConvert::CreateStatusDisplay() {
    const QPoint panel = Frame1->mapTo(this, QPoint(0, 0));
    const auto placeOnPanel = [&](QWidget* widget, int left, int top, int width, int height) {
        place(widget, left, top, width, height);
        widget->move(panel + widget->pos());
    };

    lblInfo = new StatusLabel(this);
    lblInfo->setFont(statusFont());
    QPalette infoPalette = lblInfo->palette();
    infoPalette.setColor(QPalette::WindowText, kOrange);
    lblInfo->setPalette(infoPalette);
    lblInfo->setAttribute(Qt::WA_TranslucentBackground);
    placeOnPanel(lblInfo, 120, 1800, 0, 0);
    // A long message wraps within the panel's width, above the busy bar.
    lblInfo->setMaximumWidth(Twips::ToPixels(2895));
    lblInfo->adjustSize();

    Prg = new ProgressBar(this);
    Prg->setBarColor(kOrange);
    Prg->setValue(0);
    placeOnPanel(Prg, 120, 2160, 2895, 255);
}

void frmConvert::CreateDestinationFrame() {
    frmDest = newFrame(QStringLiteral("Destination"), this);
    place(frmDest, 120, 4680, 6615, 855);
    txtDest = new QLineEdit(frmDest);
    txtDest->setReadOnly(true);
    place(txtDest, 120, 360, 4215, 315);
    cmdBrowse = newButton(QStringLiteral("Browse"), QStringLiteral("Browes for Folder"),
                          modIcon::Picture::FolderMagnifier, frmDest);
    place(cmdBrowse, 4440, 360, 975, 345);
    cmdOpen = newButton(QStringLiteral("Open"), QStringLiteral("Open Folder"),
                        modIcon::Picture::FolderArrow, frmDest);
    place(cmdOpen, 5520, 360, 975, 345);
}

// Every control carries its name, so that it can be found by it.
void frmConvert::NameControls() {
    const std::pair<QObject*, const char*> names[] = {
        {frmSource, "frmSource"},
        {txtSource, "txtSource"},
        {cmdSource, "cmdSource"},
        {FrmOptions, "FrmOptions"},
        {cmbFormat, "cmbFormat"},
        {Frame3, "Frame3"},
        {lblVideo, "lblVideo"},
        {lblVidCodec, "lblVidCodec"},
        {cmbVidCodec, "cmbVidCodec"},
        {lblVidBitRate, "lblVidBitRate"},
        {VidBitrate, "VidBitrate"},
        {lblVidFrameRate, "lblVidFrameRate"},
        {FrameRate, "FrameRate"},
        {lblVidSize, "lblVidSize"},
        {cmbVideoSize, "cmbVideoSize"},
        {lblFormat, "lblFormat"},
        {cmbVidFormat, "cmbVidFormat"},
        {chkQuality, "chkQuality"},
        {Line1, "Line1"},
        {Frame1, "Frame1"},
        {lblAudio, "lblAudio"},
        {lblCodec, "lblCodec"},
        {cmdAudCodec, "cmdAudCodec"},
        {lblBitrate, "lblBitrate"},
        {cmbAudVit, "cmbAudVit"},
        {lblSample, "lblSample"},
        {cmbSample, "cmbSample"},
        {lblChannel, "lblChannel"},
        {OptMono, "OptMono"},
        {OptStereo, "OptStereo"},
        {lblInfo, "lblInfo"},
        {Prg, "Prg"},
        {frmDest, "frmDest"},
        {txtDest, "txtDest"},
        {cmdBrowse, "cmdBrowse"},
        {cmdOpen, "cmdOpen"},
        {btnCancel, "btnCancel"},
        {cmdConvert, "cmdConvert"},
        {Timer1, "Timer1"},
        {tmrPrg, "tmrPrg"},
    };
    for (const auto& [control, name] : names)
        control->setObjectName(QLatin1String(name));
}

// What a screen reader says of each list and box: its label with its panel ("Video codec",
// "Audio codec"), where the list alone would be named by its current value.
void frmConvert::NameForScreenReaders() {
    const std::pair<QWidget*, const char*> names[] = {
        {txtSource, "Source"},
        {cmbFormat, "Target format"},
        {cmbVidCodec, "Video codec"},
        {VidBitrate, "Video bitrate"},
        {FrameRate, "Video framerate"},
        {cmbVideoSize, "Video size"},
        {cmbVidFormat, "Video format"},
        {cmdAudCodec, "Audio codec"},
        {cmbAudVit, "Audio bitrate"},
        {cmbSample, "Audio samplerate"},
        {lblInfo, "Status"},
        {Prg, "Conversion activity"},
        {txtDest, "Destination"},
        // Two buttons say "Open" and two panels hold "Codec" and "Bitrate": told apart.
        {cmdSource, "Open source file"},
        {cmdOpen, "Open destination folder"},
        {Frame3, "Video options"},
        {Frame1, "Audio options"},
    };
    for (const auto& [control, name] : names)
        NamedLists::Name(control, QLatin1String(name));
    AccessibleRoles::Set(this, QAccessible::Dialog);
    // Plain frames would be heard as windows of their own.
    AccessibleRoles::Set(Frame3, QAccessible::Grouping);
    AccessibleRoles::Set(Frame1, QAccessible::Grouping);
    AccessibleRoles::Set(Line1, QAccessible::Separator);
}

void frmConvert::ConnectControls() {
    connect(cmdSource, &QPushButton::clicked, this, &frmConvert::cmdSource_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmConvert::cmdBrowse_Click);
    connect(cmdOpen, &QPushButton::clicked, this, &frmConvert::cmdOpen_Click);
    connect(cmdConvert, &QPushButton::clicked, this, &frmConvert::cmdConvert_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmConvert::btnCancel_Click);
    // Picking an item applies its preset, also when it is the item already shown.
    connect(cmbFormat, qOverload<int>(&QComboBox::activated), this, &frmConvert::cmbFormat_Click);
    connect(tmrPrg, &QTimer::timeout, this, &frmConvert::tmrPrg_Timer);
    // What becomes of each stream is told again whenever a choice changes.
    for (QComboBox* list : {cmbVideoSize, VidBitrate, FrameRate, cmbAudVit, cmbSample})
        connect(list, qOverload<int>(&QComboBox::activated), this, &frmConvert::ExplainStreams);
    for (QAbstractButton* button :
         std::initializer_list<QAbstractButton*>{chkQuality, OptMono, OptStereo})
        connect(button, &QAbstractButton::clicked, this, &frmConvert::ExplainStreams);
    streamPlan_ = new StreamPlan(this);
    connect(streamPlan_, &StreamPlan::Answered, this, &frmConvert::ShowStreamPlan);
}

// ---------------------------------------------------------------------------------------------
// Load and unload

void frmConvert::PutControlsOnScrollingPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("page"));
    page->setFixedSize(maximumSize());
    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect placed = control->geometry();
        const bool shown = !control->isHidden();
        control->setParent(page);
        control->setGeometry(placed);
        control->setVisible(shown);
    }
    scroller_ = new QScrollArea(this);
    scroller_->setObjectName(QStringLiteral("scroller"));
    scroller_->setFrameStyle(QFrame::NoFrame);
    scroller_->setLineWidth(0);
    // Tab reaches the controls, and the page scrolls to the one that takes the focus.
    scroller_->setFocusPolicy(Qt::NoFocus);
    scroller_->setWidget(page);
    FitScroller();
    // The page keeps the window's background, as the dialog had it.
    scroller_->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
}

void frmConvert::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (scroller_)
        FitScroller();
}

void frmConvert::FitScroller() {
    scroller_->setGeometry(rect());
    // Lays the page out now: a dialog not yet shown would otherwise place it only on showing.
    QResizeEvent laidOut(scroller_->size(), scroller_->size());
    QCoreApplication::sendEvent(scroller_, &laidOut);
}

void frmConvert::KeepOnScreen(const QRect& available) {
    const QRect client = geometry();
    const QRect frame = frameGeometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    if (available.contains(QRect(pos(), size().grownBy(margins))) && size() == maximumSize())
        return;
    setGeometry(ScreenPlacement::Place(available, maximumSize(), margins));
}

void frmConvert::showEvent(QShowEvent* event) {
    if (!loaded_)
        Form_Load();
    QWidget::showEvent(event);
    if (const QScreen* shownOn = screen())
        KeepOnScreen(shownOn->availableGeometry());
}

void frmConvert::closeEvent(QCloseEvent* event) {
    if (loaded_)
        Form_Unload();
    // The hidden dialog keeps no focused control for a screen reader to find.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    event->accept();
}

void frmConvert::dragEnterEvent(QDragEnterEvent* event) {
    if (cmdConvert->isEnabled() && !HandedIn::MediaFile(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void frmConvert::dropEvent(QDropEvent* event) {
    const QString file = HandedIn::MediaFile(event->mimeData()->urls());
    if (file.isEmpty() || !cmdConvert->isEnabled())
        return;
    SourcePath = file;
    txtSource->setText(file);
    event->acceptProposedAction();
    ExplainStreams();
}

void frmConvert::Form_Load() {
    // A dialog shown again after closing starts from its design state.
    SourcePath.clear();
    txtSource->clear();

    modIcon::SetWindowIcon(this, QStringLiteral("MAINICON"), false);
    BusyCounter = 0;
    Prg->setValue(0);
    const QColor audioPanelColor = Frame1->palette().color(QPalette::Window);
    chkQuality->setBackColor(audioPanelColor);
    OptMono->setBackColor(audioPanelColor);
    OptStereo->setBackColor(audioPanelColor);

    AVC1 = std::make_unique<AVC>(Timer1);
    connect(AVC1.get(), &AVC::Converting, this, &frmConvert::AVC1_Converting);
    connect(AVC1.get(), &AVC::Complete, this, &frmConvert::AVC1_Complete);
    connect(AVC1.get(), &AVC::ErrorEvent, this, &frmConvert::AVC1_ErrorEvent);

    connect(AVC1.get(), &AVC::Progress, this, &frmConvert::AVC1_Progress);

    StatusStep = 0;
    FillFormatList();
    RestoreSavedOptions();
    loaded_ = true;
}

void frmConvert::FillFormatList() {
    cmbFormat->clear();
    for (const Format format : kFormatListOrder)
        cmbFormat->addItem(FormatKey(format));
    // Filling a list selects nothing.
    cmbFormat->setCurrentIndex(-1);
}

// One reading of the store for all thirteen: the stored format chooses the preset, the stored
// options then go over it, and the output folder comes last.
void frmConvert::RestoreSavedOptions() {
    const auto& table = SavedSettings::Table();
    RegEdit::NamedTexts wanted;
    for (const SavedSettings::Row& row : table)
        wanted.emplace_back(QString::fromLatin1(row.storedName),
                            QString::fromLatin1(row.fixedDefault));
    const QStringList stored = SettingsStore().LoadKeys(wanted);
    const auto storedFor = [&](SavedSetting key) {
        for (size_t row = 0; row < table.size(); ++row)
            if (table[row].key == key)
                return stored.at(int(row));
        return QString();
    };
    RestoreFormat(storedFor(SavedSetting::Format));
    for (const SavedSettings::Row& row : table)
        if (row.key != SavedSetting::Format && row.key != SavedSetting::OutputFolder &&
            !storedFor(row.key).isEmpty())
            restoreStoredText(controlOf(*this, row.key), storedFor(row.key));
    RestoreOutputFolder(storedFor(SavedSetting::OutputFolder));
}

void frmConvert::RestoreFormat(const QString& stored) {
    if (stored.isEmpty())
        cmbFormat->setCurrentIndex(kDefaultFormatIndex);
    else
        setListText(cmbFormat, stored);
    cmbFormat_Click();
}

void frmConvert::RestoreOutputFolder(const QString& stored) {
    const QString folder = stored.isEmpty() ? OutputFolder::Default(nullptr) : stored;
    // "~/Videos" typed in the main window is shown and used as the folder it names.
    txtDest->setText(OutputFolder::Resolved(folder).value_or(folder));
    // A folder that cannot be made is not reported; the conversion's own checks follow later.
    OutputFolder::MakeIfMissing(txtDest->text());
}

RegEdit::NamedTexts frmConvert::SavedOptions() const {
    RegEdit::NamedTexts saved;
    for (const SavedSettings::Row& row : SavedSettings::Table())
        saved.emplace_back(QString::fromLatin1(row.storedName),
                           storedText(controlOf(*this, row.key)));
    return saved;
}

void frmConvert::Form_Unload() {
    SettingsStore().WriteKeys(SavedOptions());
    // Ends every converter process, whether or not this dialog started it.
    AVC1->CancelConvert();
    convertJob_->Stopped();
    AVC1.reset();
    QCoreApplication::processEvents();
    Timer1->stop();
    SetInputsEnabled(true);
    ShowStatus(QString());
    // The busy bar's timer ends with the dialog.
    StopBusyBar();
    loaded_ = false;
}

// ---------------------------------------------------------------------------------------------
// Option lists

OptionChoices frmConvert::ReadChoices() const {
    OptionChoices choices;
    choices.cmbVidFormat = readList(cmbVidFormat);
    choices.cmbVideoSize = readList(cmbVideoSize);
    choices.VidBitrate = readList(VidBitrate);
    choices.FrameRate = readList(FrameRate);
    choices.cmbVidCodec = readList(cmbVidCodec);
    choices.cmdAudCodec = readList(cmdAudCodec);
    choices.cmbAudVit = readList(cmbAudVit);
    choices.cmbSample = readList(cmbSample);
    choices.OptMono = OptMono->value();
    choices.OptStereo = OptStereo->value();
    choices.chkQuality = chkQuality->value();
    choices.chkQualityEnabled = chkQuality->isEnabled();
    return choices;
}

void frmConvert::ShowChoices(const OptionChoices& choices) {
    showList(cmbAudVit, choices.cmbAudVit);
    showList(cmdAudCodec, choices.cmdAudCodec);
    showList(cmbSample, choices.cmbSample);
    showList(cmbVidCodec, choices.cmbVidCodec);
    showList(cmbVidFormat, choices.cmbVidFormat);
    showList(cmbVideoSize, choices.cmbVideoSize);
    showList(VidBitrate, choices.VidBitrate);
    showList(FrameRate, choices.FrameRate);
    chkQuality->setValue(choices.chkQuality);
    chkQuality->setEnabled(choices.chkQualityEnabled);
    Frame3->setEnabled(choices.videoPanelEnabled);
    OptMono->setValue(false);
    OptStereo->setValue(false);
    OptMono->setValue(choices.OptMono);
    OptStereo->setValue(choices.OptStereo);
}

void frmConvert::cmbFormat_Click() {
    OptionChoices choices;
    PresetCatalogue::Apply(cmbFormat->currentText(), choices,
                           [this](const ConverterSetting& setting) {
                               if (AVC1)
                                   AVC1->SetParameter(setting);
                           });
    ShowChoices(choices);
    ExplainStreams();
}

// Asks the converter what it would copy and what it would encode of the chosen source (the
// sixteen always encode), and whether a source with sound alone loses its picture.
void frmConvert::ExplainStreams() {
    if (noteShown_) {
        ShowStatus(QString());
        noteShown_ = false;
    }
    const auto request = ConversionMapping::BuildRequest(cmbFormat->currentText(), ReadChoices(),
                                                         txtDest->text(), SourcePath);
    if (!request || SourcePath.isEmpty()) {
        streamPlan_->Ask({}); // drops a question still open
        return;
    }
    streamPlan_->Ask(request->settings);
}

void frmConvert::ShowStreamPlan(const QString& text) {
    // A conversion that started meanwhile owns the status line.
    if (text.isEmpty() || !cmdConvert->isEnabled())
        return;
    ShowStatus(text);
    noteShown_ = true;
}

// ---------------------------------------------------------------------------------------------
// Commands

void frmConvert::cmdSource_Click() {
    const QString chosen =
        ZebCommonDialog::ShowOpen(this, kOpenFilter, QStringLiteral("Open"), txtDest->text());
    SourcePath = chosen;
    if (!chosen.isEmpty())
        txtSource->setText(chosen);
    ExplainStreams();
}

void frmConvert::cmdBrowse_Click() {
    const QString folder = BrowseFolder(this, QStringLiteral("Browse for Folder"), 0,
                                        txtDest->text(), txtDest->text(), true, false, QString());
    if (!folder.isEmpty()) {
        txtDest->setText(folder);
        ExplainStreams();
    }
}

void frmConvert::cmdOpen_Click() {
    const auto folder = OutputFolder::Resolved(txtDest->text());
    if (!folder || !Desktop::instance().openUrl(QUrl::fromLocalFile(*folder)))
        MsgBox(this, QStringLiteral("An error occurd!"), vbCritical, QStringLiteral("Error!"));
}

void frmConvert::cmdConvert_Click() {
    if (SourcePath.isEmpty()) {
        cmdSource_Click();
        return;
    }
    SetInputsEnabled(false);
    noteShown_ = false;
    // A declined request raises no converter event, so the dialog goes back to idle itself.
    if (!ConvertFLV(SourcePath))
        SetInputsEnabled(true);
}

bool frmConvert::ConvertFLV(const QString& SrcPath) {
    // A relative folder would land wherever the program was started.
    const auto folder = OutputFolder::Resolved(txtDest->text());
    if (!folder) {
        MsgBox(this, OutputFolder::NotAFullPathText(), vbExclamation);
        return false;
    }
    const auto request =
        ConversionMapping::BuildRequest(cmbFormat->currentText(), ReadChoices(), *folder, SrcPath);
    if (!request) {
        MsgBox(this, QStringLiteral("Error: ") + QStringLiteral(" Format is not defined."),
               vbExclamation | vbOKOnly, QStringLiteral("Not Supported"));
        return false;
    }
    QString destination;
    for (const ConverterSetting& setting : request->settings) {
        AVC1->SetParameter(setting);
        if (setting.property == ConverterProperty::DestFile)
            destination = setting.text;
    }
    convertJob_->Started(destination);
    AVC1->ConvertMedia(true);
    return true;
}

void frmConvert::btnCancel_Click() {
    if (MsgBox(this, QStringLiteral("Do you want to abort current conversion?"), vbYesNo,
               kProductName) != vbYes)
        return;
    if (AVC1)
        AVC1->CancelConvert();
    convertJob_->Stopped();
    Timer1->stop();
    SetInputsEnabled(true);
    ShowStatus(QString());
    StatusStep = 0;
    StopBusyBar();
}

// ---------------------------------------------------------------------------------------------
// Converter events and the busy bar

void frmConvert::AVC1_Converting() {
    // The busy cycle stands in for progress until the converter reports any.
    if (!tmrPrg->isActive() && !progressShown_)
        tmrPrg->start();
    ShowStatus(statusTexts().at(StatusStep));
    StatusStep = (StatusStep + 1) % statusTexts().size();
}

void frmConvert::AVC1_Complete() {
    ShowStatus(QString());
    Timer1->stop();
    SetInputsEnabled(true);
    StatusStep = 0;
    StopBusyBar();
    const QString done = QStringLiteral("Conversion Completed");
    const auto told = convertJob_->Finished(done, true, AVC1 ? AVC1->ResultFile() : QString());
    MsgBox(this, done, vbInformation, kProductName);
    DesktopJob::Answered(told);
}

void frmConvert::AVC1_ErrorEvent(const QString& message) {
    ShowStatus(message);
    noteShown_ = true;
    convertJob_->Finished(message, false);
    Timer1->stop();
    SetInputsEnabled(true);
    StatusStep = 0;
    // A run can now fail after it has started; the idle dialog never keeps a moving bar.
    StopBusyBar();
}

// The bar shows how far the conversion is: its percentage as value and text, and the time left
// once the pace is known. Reports come at most once per poll tick, so the bar is repainted a
// few times a second at most.
void frmConvert::AVC1_Progress(qint64 doneMs, qint64 totalMs) {
    if (!progressShown_) {
        progressShown_ = true;
        tmrPrg->stop();
        firstDoneMs_ = doneMs;
        firstReportAtMs_ = paceClock_();
    }
    Prg->setValue(ProgressCaption::Percent(doneMs, totalMs));
    const qint64 elapsedMs = paceClock_() - firstReportAtMs_;
    Prg->setFormat(ProgressCaption::Text(doneMs, totalMs, firstDoneMs_, elapsedMs));
    Prg->setValueText(ProgressCaption::TimeLeft(doneMs, totalMs, firstDoneMs_, elapsedMs));
    convertJob_->Progress(doneMs, totalMs);
}

void frmConvert::tmrPrg_Timer() {
    ++BusyCounter;
    if (BusyCounter == kBusyWrap)
        BusyCounter = 1;
    Prg->setValue(BusyCounter);
}

// ---------------------------------------------------------------------------------------------
// Helpers

// Shows the status text above the busy bar, which stays in sight: in the status font when it
// fits there, else in a smaller one. A text that does not fit even so shows its first lines,
// cut with "…", and whole in its tool tip; screen readers get it whole as the description.
void frmConvert::ShowStatus(const QString& text) {
    StatusLabel* label = lblInfo;
    label->setText(text);
    label->setAccessibleDescription(text);
    const int room = Prg->y() - Twips::ToPixels(30) - label->y();
    QFont font = statusFont();
    label->setFont(font);
    while (label->sizeHint().height() > room && font.pointSizeF() > kSmallestStatusPoints) {
        font.setPointSizeF(font.pointSizeF() - kStatusShrinkStep);
        label->setFont(font);
    }
    const QSize wanted = label->sizeHint();
    label->resize(wanted.width(), std::min(wanted.height(), room));
    label->setToolTip(label->showsAll() ? QString() : text);
}

// Idle: the three frames and Convert open, Cancel closed; converting: the other way round.
void frmConvert::SetInputsEnabled(bool enabled) {
    frmSource->setEnabled(enabled);
    FrmOptions->setEnabled(enabled);
    frmDest->setEnabled(enabled);
    cmdConvert->setEnabled(enabled);
    btnCancel->setEnabled(!enabled);
}

void frmConvert::StopBusyBar() {
    tmrPrg->stop();
    Prg->setValue(0);
    // The next run starts with the busy cycle again, its value as the text.
    progressShown_ = false;
    Prg->setFormat(QStringLiteral("%v"));
    Prg->setValueText(QString());
}
