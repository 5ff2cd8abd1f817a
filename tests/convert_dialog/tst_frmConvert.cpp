#include "AVC.h"
#include "AeroButton.h"
#include "DialogTestSupport.h"
#include "FakeDesktop.h"
#include "FormatPreset.h"
#include "ProgressBar.h"
#include "RegEdit.h"
#include "TestHome.h"
#include "ZebCheck.h"
#include "ZebOption.h"
#include "frmConvert.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <memory>

namespace {
const QString k3g2 = QStringLiteral("3rd Generation Partnership Project2 (*.3g2)");
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
const QString kPspAvc = QStringLiteral("Sony PSP (PSP AVC)");

const QStringList kSavedNames{
    "Youtube Video output path", "Youtube Video format",    "Youtube Video codec",
    "Youtube Video bitrate",     "Youtube Audio codec",     "Youtube Audio bitrate",
    "Youtube Audio samplerate",  "Youtube Video framerate", "Youtube Video size",
    "Youtube Video quality",     "Youtube Video mode mono", "Youtube Video mode stereo",
    "Youtube Video extension"};

QString captionOf(const QWidget* widget) {
    if (auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return QString();
}
} // namespace

// The dialog with no converter program where the converter looks: conversions stop at
// "Unable to locate".
class tst_frmConvert : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsHaveTheirCaptionsTipsAndPlaces_data();
    void controlsHaveTheirCaptionsTipsAndPlaces();
    void firstUseShows3g2AndMakesTheDocumentsFolder();
    void storedOptionsOverrideThePreset();
    void storedTextsTheListsDoNotHoldLeaveThePreset();
    void storedFormatNoLongerListedLeavesListsEmpty();
    void unloadWritesTheThirteenOptionsInOrder();
    void showingAgainAfterCloseLoadsAfresh();
    void choosingAFormatAgainUndoesChanges();
    void convertWithoutSourceOpensTheFilePicker();
    void emptyFilePickerAnswerForgetsTheSource();
    void browseReplacesTheFolderOnlyWhenChosen();
    void openFolderReportsFailure();
    void missingConverterIsShownAndReturnsToIdle();
    void immediateParametersStayForTheNextConversion();
    void declinedFormatReturnsToIdle();

private:
    frmConvert& openDialog();

    TestHome home_;
    FakeDesktop desktop_;
    std::unique_ptr<frmConvert> dialog_;
};

void tst_frmConvert::initTestCase() {
    AVC::SetProgramFolder(home_.path() + "/no converter");
}

void tst_frmConvert::init() {
    QFile::remove(home_.settingsFile());
    desktop_.messages.clear();
    desktop_.fileRequests.clear();
    desktop_.folderRequests.clear();
    desktop_.openedUrls.clear();
    desktop_.fileAnswer.clear();
    desktop_.folderAnswer.clear();
    desktop_.openSucceeds = true;
    desktop_.answer = vbYes;
}

void tst_frmConvert::cleanup() {
    if (dialog_)
        dialog_->close();
    dialog_.reset();
}

frmConvert& tst_frmConvert::openDialog() {
    dialog_ = std::make_unique<frmConvert>();
    return *dialog_;
}

void tst_frmConvert::controlsHaveTheirCaptionsTipsAndPlaces_data() {
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char* name, const char* container, const char* caption,
                        const char* tip, int l, int t, int w, int h) {
        QTest::newRow(name) << QString(container) << QString(caption) << QString(tip)
                            << QRect(l, t, w, h);
    };
    row("frmSource", "frmConvert", "Source", "", 120, 120, 6615, 855);
    row("txtSource", "frmSource", "", "", 120, 360, 5175, 315);
    row("cmdSource", "frmSource", "Open", "Select souce file", 5400, 360, 1095, 315);
    row("FrmOptions", "frmConvert", "Options", "", 120, 1080, 6615, 3495);
    row("cmbFormat", "FrmOptions", "", "", 120, 360, 6375, 315);
    row("Frame3", "FrmOptions", "", "", 120, 840, 3375, 2535);
    row("Frame1", "FrmOptions", "", "", 3480, 840, 3015, 2535);
    row("frmDest", "frmConvert", "Destination", "", 120, 4680, 6615, 855);
    row("txtDest", "frmDest", "", "", 120, 360, 4215, 315);
    row("cmdBrowse", "frmDest", "Browse", "Browes for Folder", 4440, 360, 975, 345);
    row("cmdOpen", "frmDest", "Open", "Open Folder", 5520, 360, 975, 345);
    row("btnCancel", "frmConvert", "Cancel", "Cancel conversion", 4680, 5640, 975, 315);
    row("cmdConvert", "frmConvert", "Convert", "Click to convert", 5760, 5640, 975, 315);
    row("cmbVidCodec", "Frame3", "", "", 1320, 360, 1695, 315);
    row("VidBitrate", "Frame3", "", "", 1320, 720, 1695, 315);
    row("FrameRate", "Frame3", "", "", 1320, 1080, 1695, 315);
    row("cmbVideoSize", "Frame3", "", "", 1320, 1440, 1695, 315);
    row("cmbVidFormat", "Frame3", "", "", 1320, 1800, 1695, 315);
    row("cmdAudCodec", "Frame1", "", "", 1200, 360, 1815, 315);
    row("cmbAudVit", "Frame1", "", "", 1200, 720, 1815, 315);
    row("cmbSample", "Frame1", "", "", 1200, 1080, 1815, 315);
    row("Prg", "Frame1", "", "", 120, 2160, 2895, 255);
}

void tst_frmConvert::controlsHaveTheirCaptionsTipsAndPlaces() {
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(QRect, twips);
    frmConvert& dialog = openDialog();
    const auto* control = dialog.findChild<QWidget*>(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(captionOf(control), caption);
    QCOMPARE(control->toolTip(), toolTip);
    QCOMPARE(control->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
}

void tst_frmConvert::firstUseShows3g2AndMakesTheDocumentsFolder() {
    const QString folder = home_.path() + "/Documents/Morvane/Vantelo";
    QDir(folder).removeRecursively();
    frmConvert& dialog = openDialog();

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Convert YouTube Video"));
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(dialog.size(), QSize(457, 408));
    QCOMPARE(dialog.cmbFormat->count(), 16);
    QCOMPARE(dialog.cmbFormat->currentText(), k3g2);
    QCOMPARE(itemsOf(dialog.cmbVidCodec), (QStringList{"mpeg4", "xvid", "h263"}));
    QCOMPARE(dialog.cmbVidFormat->currentText(), QStringLiteral(".3g2"));
    QVERIFY(!dialog.cmbVidFormat->isEnabled());
    QVERIFY(dialog.OptMono->value());
    QVERIFY(!dialog.OptStereo->value());
    QCOMPARE(dialog.chkQuality->value(), 1);
    QCOMPARE(dialog.txtDest->text(), folder);
    QVERIFY(QFileInfo(folder).isDir());

    QVERIFY(isIdle(dialog));
    QCOMPARE(dialog.Prg->value(), 0);
    QCOMPARE(dialog.Prg->barColor(), QColor(255, 128, 0));
    QVERIFY(dialog.lblInfo->text().isEmpty());
    QVERIFY(dialog.txtSource->text().isEmpty());
    QVERIFY(dialog.sourcePath().isEmpty());
    QVERIFY(!dialog.Timer1->isActive());
    QCOMPARE(dialog.Timer1->interval(), 200);
    QCOMPARE(dialog.tmrPrg->interval(), 30);
    QVERIFY(dialog.converter());
    QVERIFY(dialog.txtSource->isReadOnly());
    QVERIFY(dialog.txtDest->isReadOnly());
    // The channel options and the check box take the audio panel's colour.
    const QColor panel = dialog.Frame1->palette().color(QPalette::Window);
    QCOMPARE(dialog.OptMono->palette().color(QPalette::Window), panel);
    QCOMPARE(dialog.chkQuality->palette().color(QPalette::Window), panel);
}

void tst_frmConvert::storedOptionsOverrideThePreset() {
    const QString folder = home_.path() + "/stored/out folder";
    RegEdit& store = SettingsStore();
    const QList<QPair<QString, QString>> stored{
        {"Youtube Video output path", folder}, {"Youtube Video format", kAvi},
        {"Youtube Video codec", "xvid"},       {"Youtube Video bitrate", "120"},
        {"Youtube Audio codec", "mp3"},        {"Youtube Audio bitrate", "192"},
        {"Youtube Audio samplerate", "22050"}, {"Youtube Video framerate", "29.97"},
        {"Youtube Video size", "640x480"},     {"Youtube Video quality", "0"},
        {"Youtube Video mode mono", "False"},  {"Youtube Video mode stereo", "True"},
        {"Youtube Video extension", ".avi"}};
    for (const auto& [name, value] : stored)
        store.WriteKey(name, value);

    frmConvert& dialog = openDialog();
    QCOMPARE(dialog.cmbFormat->currentText(), kAvi);
    QCOMPARE(dialog.cmbVidCodec->count(), 72);
    QCOMPARE(dialog.cmbVidCodec->currentText(), QStringLiteral("xvid"));
    QCOMPARE(dialog.cmdAudCodec->currentText(), QStringLiteral("mp3"));
    QCOMPARE(dialog.cmbAudVit->currentText(), QStringLiteral("192"));
    QCOMPARE(dialog.cmbSample->currentText(), QStringLiteral("22050"));
    QCOMPARE(dialog.cmbVideoSize->currentText(), QStringLiteral("640x480"));
    QCOMPARE(dialog.chkQuality->value(), 0);
    QVERIFY(!dialog.OptMono->value());
    QVERIFY(dialog.OptStereo->value());
    QCOMPARE(dialog.txtDest->text(), folder);
    QVERIFY(QFileInfo(folder).isDir());
    // The locks stay the preset's.
    QVERIFY(!dialog.FrameRate->isEnabled());
}

void tst_frmConvert::storedTextsTheListsDoNotHoldLeaveThePreset() {
    RegEdit& store = SettingsStore();
    store.WriteKey("Youtube Video format", kWmv);
    store.WriteKey("Youtube Video codec", "h264");
    store.WriteKey("Youtube Audio bitrate", "999");
    store.WriteKey("Youtube Video quality", "many");
    store.WriteKey("Youtube Video mode mono", "perhaps");
    store.WriteKey("Youtube Video mode stereo", "   ");

    frmConvert& dialog = openDialog();
    QCOMPARE(dialog.cmbVidCodec->currentText(), QStringLiteral("wmv1"));
    QCOMPARE(dialog.cmbAudVit->currentText(), QStringLiteral("128"));
    QCOMPARE(dialog.chkQuality->value(), 1);
    // An unreadable mono value keeps the preset's Mono; blank stereo reads as its default.
    QVERIFY(dialog.OptMono->value());
    QVERIFY(!dialog.OptStereo->value());

    // Neither channel: possible when both are stored False.
    dialog_.reset();
    store.WriteKey("Youtube Video mode mono", "False");
    store.WriteKey("Youtube Video mode stereo", "False");
    frmConvert& second = openDialog();
    QVERIFY(!second.OptMono->value());
    QVERIFY(!second.OptStereo->value());
}

void tst_frmConvert::storedFormatNoLongerListedLeavesListsEmpty() {
    SettingsStore().WriteKey("Youtube Video format", "Flash Format (*.swf)");
    SettingsStore().WriteKey("Youtube Video codec", "flv");
    frmConvert& dialog = openDialog();
    QVERIFY(dialog.cmbFormat->currentText().isEmpty());
    QCOMPARE(dialog.cmbFormat->count(), 16);
    for (QComboBox* list :
         {dialog.cmbVidFormat, dialog.cmbVideoSize, dialog.VidBitrate, dialog.FrameRate,
          dialog.cmbVidCodec, dialog.cmdAudCodec, dialog.cmbAudVit, dialog.cmbSample}) {
        QCOMPARE(list->count(), 0);
        QVERIFY(list->isEnabled());
    }
    QCOMPARE(dialog.chkQuality->value(), 1);
    // The stored channel default applies after the (missing) preset.
    QVERIFY(dialog.OptMono->value());
}

void tst_frmConvert::unloadWritesTheThirteenOptionsInOrder() {
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kAvi);
    chooseItem(dialog.cmbVidCodec, "h263");
    chooseItem(dialog.cmbSample, "3200");
    dialog.chkQuality->setValue(0);
    dialog.OptStereo->setValue(true);
    const QString folder = home_.path() + "/elsewhere";
    dialog.txtDest->setText(folder);

    QStringList names;
    for (const auto& [name, value] : dialog.SavedOptions())
        names.append(name);
    QCOMPARE(names, kSavedNames);

    dialog.close();
    QVERIFY(!dialog.isLoaded());
    QVERIFY(!dialog.converter());
    QVERIFY(isIdle(dialog));
    QVERIFY(desktop_.messages.isEmpty());

    // What the settings file holds now.
    QSettings file(home_.settingsFile(), QSettings::IniFormat);
    const QStringList expected{folder,  kAvi,      "h263", "120",   "pcm_s16le", "128", "3200",
                               "29.97", "320x240", "0",    "False", "True",      ".avi"};
    for (int i = 0; i < kSavedNames.size(); ++i)
        QCOMPARE(file.value(kSavedNames.at(i)).toString(), expected.at(i));
}

void tst_frmConvert::showingAgainAfterCloseLoadsAfresh() {
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kPspAvc);
    desktop_.fileAnswer = "/videos/clip.flv";
    dialog.cmdSource->click();
    dialog.close();
    QVERIFY(!dialog.isLoaded());

    dialog.show();
    QVERIFY(dialog.isLoaded());
    QVERIFY(dialog.converter());
    QCOMPARE(dialog.cmbFormat->count(), 16);
    QCOMPARE(dialog.cmbFormat->currentText(), kPspAvc);
    QCOMPARE(dialog.cmbVideoSize->currentText(), QStringLiteral("368x208"));
    QVERIFY(dialog.sourcePath().isEmpty());
    QVERIFY(dialog.txtSource->text().isEmpty());
}

void tst_frmConvert::choosingAFormatAgainUndoesChanges() {
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kWmv);
    chooseItem(dialog.cmbVidCodec, "wmv2");
    chooseItem(dialog.cmbAudVit, "320");
    dialog.chkQuality->setValue(0);
    dialog.OptStereo->setValue(true);
    QVERIFY(!dialog.OptMono->value());

    chooseFormat(dialog, kWmv);
    QCOMPARE(dialog.cmbVidCodec->currentText(), QStringLiteral("wmv1"));
    QCOMPARE(dialog.cmbAudVit->currentText(), QStringLiteral("128"));
    QCOMPARE(dialog.chkQuality->value(), 1);
    QVERIFY(dialog.chkQuality->isEnabled());
    QVERIFY(dialog.OptMono->value());
    QVERIFY(!dialog.OptStereo->value());
    QCOMPARE(itemsOf(dialog.cmbAudVit), PresetCatalogue::AudioBitrateList());
}

void tst_frmConvert::convertWithoutSourceOpensTheFilePicker() {
    frmConvert& dialog = openDialog();
    dialog.cmdConvert->click();
    QCOMPARE(desktop_.fileRequests.size(), 1);
    const QStringList request = desktop_.fileRequests.first();
    QCOMPARE(request.at(0), QStringLiteral("Open"));
    QCOMPARE(request.at(1), dialog.txtDest->text());
    QCOMPARE(request.at(2), QStringLiteral("Flash live video (*.FLV*) (*.flv*)"));
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.converter()->CommandLine().isEmpty());
    QVERIFY(desktop_.messages.isEmpty());
    QVERIFY(dialog.lblInfo->text().isEmpty());
}

void tst_frmConvert::emptyFilePickerAnswerForgetsTheSource() {
    frmConvert& dialog = openDialog();
    desktop_.fileAnswer = "/videos/clip.flv";
    dialog.cmdSource->click();
    QCOMPARE(dialog.sourcePath(), QStringLiteral("/videos/clip.flv"));
    QCOMPARE(dialog.txtSource->text(), QStringLiteral("/videos/clip.flv"));

    desktop_.fileAnswer.clear();
    dialog.cmdSource->click();
    QVERIFY(dialog.sourcePath().isEmpty());
    QCOMPARE(dialog.txtSource->text(), QStringLiteral("/videos/clip.flv"));

    // With no source the next Convert asks for a file again and starts nothing.
    dialog.cmdConvert->click();
    QCOMPARE(desktop_.fileRequests.size(), 3);
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.lblInfo->text().isEmpty());
}

void tst_frmConvert::browseReplacesTheFolderOnlyWhenChosen() {
    frmConvert& dialog = openDialog();
    const QString before = dialog.txtDest->text();
    dialog.cmdBrowse->click();
    QCOMPARE(desktop_.folderRequests.size(), 1);
    QCOMPARE(desktop_.folderRequests.first(), (QStringList{"Browse for Folder", before}));
    QCOMPARE(dialog.txtDest->text(), before);

    desktop_.folderAnswer = home_.path();
    dialog.cmdBrowse->click();
    QCOMPARE(dialog.txtDest->text(), home_.path());
}

void tst_frmConvert::openFolderReportsFailure() {
    frmConvert& dialog = openDialog();
    dialog.cmdOpen->click();
    QCOMPARE(desktop_.openedUrls.size(), 1);
    QCOMPARE(desktop_.openedUrls.first(), QUrl::fromLocalFile(dialog.txtDest->text()));
    QVERIFY(desktop_.messages.isEmpty());

    desktop_.openSucceeds = false;
    dialog.cmdOpen->click();
    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("An error occurd!"));
    QCOMPARE(desktop_.messages.first().title, QStringLiteral("Error!"));
    QCOMPARE(desktop_.messages.first().style, int(vbCritical));
}

void tst_frmConvert::missingConverterIsShownAndReturnsToIdle() {
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kAvi);
    desktop_.fileAnswer = "/videos/my.clip.flv";
    dialog.cmdSource->click();
    dialog.cmdConvert->click();

    QCOMPARE(dialog.lblInfo->text(), QStringLiteral("Unable to locate avformat.dll"));
    QVERIFY(isIdle(dialog));
    QCOMPARE(dialog.statusStep(), 0);
    QVERIFY(!dialog.Timer1->isActive());
    QVERIFY(desktop_.messages.isEmpty());
    const QString line = dialog.converter()->CommandLine();
    QVERIFY2(line.contains("-i \"/videos/my.clip.flv\" "), qPrintable(line));
    QVERIFY2(line.endsWith("\"" + dialog.txtDest->text() + "/my.clip.avi\""), qPrintable(line));
    QVERIFY(line.contains("-vcodec mpeg4 "));
    QVERIFY(line.contains("-acodec pcm_s16le -ab 128 -ar 44100 -ac 1 "));
}

void tst_frmConvert::immediateParametersStayForTheNextConversion() {
    frmConvert& dialog = openDialog();
    // WMV puts the bit-rate tolerance into the converter at once; PSP never sets it.
    chooseFormat(dialog, kWmv);
    chooseFormat(dialog, kPspAvc);
    desktop_.fileAnswer = "/videos/clip.flv";
    dialog.cmdSource->click();
    dialog.cmdConvert->click();
    const QString line = dialog.converter()->CommandLine();
    QVERIFY2(line.contains("-bt 60 "), qPrintable(line));
    QVERIFY(line.contains("-s 368x208 -vcodec h264 "));
    QVERIFY(line.contains("-ac 2 "));
    QVERIFY(line.endsWith("/clip.avi\""));
}

// The request for a format text without a row shows "Not Supported" and starts nothing; the
// dialog must not stay locked as if a conversion were running.
void tst_frmConvert::declinedFormatReturnsToIdle() {
    SettingsStore().WriteKey("Youtube Video format", "Flash Format (*.swf)");
    frmConvert& dialog = openDialog();
    desktop_.fileAnswer = "/videos/clip.flv";
    dialog.cmdSource->click();
    dialog.cmdConvert->click();

    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("Error:  Format is not defined."));
    QCOMPARE(desktop_.messages.first().title, QStringLiteral("Not Supported"));
    QCOMPARE(desktop_.messages.first().style, int(vbExclamation | vbOKOnly));
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.converter()->CommandLine().isEmpty());
    QVERIFY(dialog.lblInfo->text().isEmpty());
}

QTEST_MAIN(tst_frmConvert)
#include "tst_frmConvert.moc"
