#include "AVC.h"
#include "DialogTestSupport.h"
#include "FakeDesktop.h"
#include "OutputFolder.h"
#include "ProgressBar.h"
#include "RegEdit.h"
#include "TestHome.h"
#include "ZebCheck.h"
#include "ZebOption.h"
#include "frmConvert.h"

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QSettings>
#include <memory>

namespace {
const QString k3g2 = QStringLiteral("3rd Generation Partnership Project2 (*.3g2)");
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
const QString kPspAvc = QStringLiteral("Sony PSP (PSP AVC)");
const QString kGone = QStringLiteral("Flash Format (*.swf)");

QString captionOf(const QWidget* widget) {
    if (auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    return QString();
}

QList<QComboBox*> optionLists(const frmConvert& d) {
    return {d.cmbVidFormat, d.cmbVideoSize, d.VidBitrate, d.FrameRate,
            d.cmbVidCodec,  d.cmdAudCodec,  d.cmbAudVit,  d.cmbSample};
}
} // namespace

// The dialog with no converter program where the converter looks: conversions stop at
// "Unable to locate".
class tst_frmConvert : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { AVC::SetProgramFolder(home_.path() + "/no converter"); }
    void init();
    void cleanup();

    void controlsHaveTheirCaptionsTipsAndPlaces_data();
    void controlsHaveTheirCaptionsTipsAndPlaces();
    void firstUseShows3g2AndMakesTheDocumentsFolder();
    void storedOptionsOverrideThePreset();
    void storedTextsThatDoNotFitAreSkipped();
    void storedFormatNoLongerListedLeavesListsEmpty();
    void unloadWritesTheThirteenOptionsInOrder();
    void showingAgainAfterCloseLoadsAfresh();
    void choosingAFormatAgainUndoesChanges();
    void convertWithoutSourceOpensTheFilePicker();
    void browseAndOpenFolder();
    void storedFolderIsResolvedOrRefused_data();
    void storedFolderIsResolvedOrRefused();
    void missingConverterIsShownAndReturnsToIdle();
    void declinedFormatReturnsToIdle();
    void smallScreenClampsTheDialogAndScrolls();

private:
    frmConvert& openDialog();
    void pickSource(const QString& path);

    TestHome home_;
    FakeDesktop desktop_;
    std::unique_ptr<frmConvert> dialog_;
};

void tst_frmConvert::init() {
    QFile::remove(home_.settingsFile());
    desktop_.messages.clear();
    desktop_.fileRequests.clear();
    desktop_.folderRequests.clear();
    desktop_.openedUrls.clear();
    desktop_.folderAnswer.clear();
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

void tst_frmConvert::pickSource(const QString& path) {
    desktop_.fileAnswer = path;
    dialog_->cmdSource->click();
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
    row("cmbVidFormat", "Frame3", "", "", 1320, 1800, 1695, 315);
    row("cmdAudCodec", "Frame1", "", "", 1200, 360, 1815, 315);
    row("cmbSample", "Frame1", "", "", 1200, 1080, 1815, 315);
    row("OptStereo", "Frame1", "Stereo", "", 2040, 1440, 975, 315);
    row("Prg", "Frame1", "", "", 120, 2160, 2895, 255);
}

void tst_frmConvert::controlsHaveTheirCaptionsTipsAndPlaces() {
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(QRect, twips);
    frmConvert& dialog = openDialog();
    const auto* control = dialog.findChild<QWidget*>(QString::fromUtf8(QTest::currentDataTag()));
    const QWidget* place =
        container == dialog.objectName() ? &dialog : dialog.findChild<QWidget*>(container);
    QVERIFY(control && place);
    QCOMPARE(captionOf(control), caption);
    QCOMPARE(control->toolTip(), toolTip);
    // The place inside the container, wherever the control hangs.
    const QPoint offset = control->mapTo(&dialog, QPoint()) - place->mapTo(&dialog, QPoint());
    QCOMPARE(QRect(offset, control->size()),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
}

// At scale 2 a 1024 x 768 screen is 512 x 384, less a panel: the dialog lies on it, frame and
// all, and scrolls to Convert; on a larger screen it keeps its design size.
void tst_frmConvert::smallScreenClampsTheDialogAndScrolls() {
    frmConvert& dialog = openDialog();
    const QSize design = dialog.size();
    const QRect small(0, 24, 512, 360);
    dialog.move(300, 300);
    dialog.KeepOnScreen(small);
    QVERIFY(small.contains(dialog.frameGeometry()));
    QVERIFY(dialog.height() < design.height());
    QScrollArea* scroller = dialog.Scroller();
    scroller->ensureWidgetVisible(dialog.cmdConvert);
    const QRect convert(dialog.cmdConvert->mapTo(scroller->viewport(), QPoint()),
                        dialog.cmdConvert->size());
    QVERIFY(scroller->viewport()->rect().contains(convert));
    dialog.KeepOnScreen(QRect(0, 0, 1280, 1000));
    QCOMPARE(dialog.size(), design);
}

void tst_frmConvert::firstUseShows3g2AndMakesTheDocumentsFolder() {
    const QString folder = home_.path() + "/Documents/Morvane/Vantelo";
    QDir(folder).removeRecursively();
    frmConvert& dialog = openDialog();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Convert YouTube Video"));
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(dialog.size(), QSize(6855 / 15, 6120 / 15));
    QCOMPARE(dialog.cmbFormat->count(), 25);
    QCOMPARE(dialog.cmbFormat->currentText(), k3g2);
    QCOMPARE(itemsOf(dialog.cmbVidCodec), (QStringList{"mpeg4", "xvid", "h263"}));
    QVERIFY(dialog.OptMono->value() && !dialog.OptStereo->value());
    QCOMPARE(dialog.chkQuality->value(), 1);
    QCOMPARE(dialog.txtDest->text(), folder);
    QVERIFY(QFileInfo(folder).isDir());

    QVERIFY(isIdle(dialog));
    QCOMPARE(dialog.Prg->value(), 0);
    QVERIFY(dialog.lblInfo->text().isEmpty() && dialog.txtSource->text().isEmpty());
    QVERIFY(!dialog.Timer1->isActive());
    QCOMPARE(dialog.Timer1->interval(), 200);
    QCOMPARE(dialog.tmrPrg->interval(), 30);
    QCOMPARE(dialog.OptMono->palette().color(QPalette::Window),
             dialog.Frame1->palette().color(QPalette::Window));
}

void tst_frmConvert::storedOptionsOverrideThePreset() {
    const QString folder = home_.path() + "/stored/out folder";
    const QStringList stored{folder,  kAvi,      "xvid", "120",   "mp3",  "192", "22050",
                             "29.97", "640x480", "0",    "False", "True", ".avi"};
    for (int i = 0; i < stored.size(); ++i)
        SettingsStore().WriteKey(kSavedNames.at(i), stored.at(i));

    frmConvert& dialog = openDialog();
    QCOMPARE(dialog.cmbFormat->currentText(), kAvi);
    QCOMPARE(dialog.cmbVidCodec->count(), 72);
    QStringList shown;
    for (const auto& [name, value] : dialog.SavedOptions())
        shown.append(value);
    QCOMPARE(shown, stored);
    QVERIFY(QFileInfo(folder).isDir());
    // The locks stay the preset's.
    QVERIFY(!dialog.FrameRate->isEnabled());
}

void tst_frmConvert::storedTextsThatDoNotFitAreSkipped() {
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
    QVERIFY(dialog.OptMono->value() && !dialog.OptStereo->value());

    // Both channels stored False: neither is selected.
    dialog_.reset();
    store.WriteKey("Youtube Video mode mono", "False");
    store.WriteKey("Youtube Video mode stereo", "False");
    frmConvert& second = openDialog();
    QVERIFY(!second.OptMono->value() && !second.OptStereo->value());
}

void tst_frmConvert::storedFormatNoLongerListedLeavesListsEmpty() {
    SettingsStore().WriteKey("Youtube Video format", kGone);
    SettingsStore().WriteKey("Youtube Video codec", "flv");
    frmConvert& dialog = openDialog();
    QVERIFY(dialog.cmbFormat->currentText().isEmpty());
    for (QComboBox* list : optionLists(dialog))
        QVERIFY(list->count() == 0 && list->isEnabled());
    QCOMPARE(dialog.chkQuality->value(), 1);
    // The stored channel default still applies after the missing preset.
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
    QVERIFY(!dialog.isLoaded() && !dialog.converter());
    QVERIFY(isIdle(dialog));
    QVERIFY(desktop_.messages.isEmpty());
    const QStringList expected{folder,  kAvi,      "h263", "120",   "pcm_s16le", "128", "3200",
                               "29.97", "320x240", "0",    "False", "True",      ".avi"};
    QSettings file(home_.settingsFile(), QSettings::IniFormat);
    for (int i = 0; i < kSavedNames.size(); ++i)
        QCOMPARE(file.value(kSavedNames.at(i)).toString(), expected.at(i));
}

void tst_frmConvert::showingAgainAfterCloseLoadsAfresh() {
    {
        // A closed dialog keeps no focused control.
        frmConvert& shown = openDialog();
        shown.show();
        shown.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&shown));
        shown.cmbFormat->setFocus();
        QVERIFY(shown.cmbFormat->hasFocus());
        shown.close();
        QCOMPARE(shown.focusWidget(), nullptr);
    }
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kPspAvc);
    pickSource("/videos/clip.flv");
    dialog.close();
    dialog.show();
    QVERIFY(dialog.isLoaded() && dialog.converter());
    QCOMPARE(dialog.cmbFormat->count(), 25);
    QCOMPARE(dialog.cmbFormat->currentText(), kPspAvc);
    QVERIFY(dialog.sourcePath().isEmpty() && dialog.txtSource->text().isEmpty());
}

void tst_frmConvert::choosingAFormatAgainUndoesChanges() {
    frmConvert& dialog = openDialog();
    chooseFormat(dialog, kWmv);
    chooseItem(dialog.cmbVidCodec, "wmv2");
    dialog.chkQuality->setValue(0);
    dialog.OptStereo->setValue(true);
    chooseFormat(dialog, kWmv);
    QCOMPARE(dialog.cmbVidCodec->currentText(), QStringLiteral("wmv1"));
    QCOMPARE(dialog.cmbVidCodec->count(), 2);
    QCOMPARE(dialog.chkQuality->value(), 1);
    QVERIFY(dialog.OptMono->value() && !dialog.OptStereo->value());
}

void tst_frmConvert::convertWithoutSourceOpensTheFilePicker() {
    frmConvert& dialog = openDialog();
    desktop_.fileAnswer.clear();
    dialog.cmdConvert->click();
    QCOMPARE(desktop_.fileRequests.size(), 1);
    QCOMPARE(desktop_.fileRequests.first(),
             (QStringList{"Open", dialog.txtDest->text(),
                          "Media files (*.flv *.mp4 *.m4v *.mov *.mkv *.webm *.avi *.mpg *.mpeg "
                          "*.ts *.wmv *.3gp *.3g2 *.mp3 *.m4a *.aac *.ogg *.opus *.flac *.wav);;"
                          "All files (*)"}));
    QVERIFY(isIdle(dialog) && dialog.converter()->CommandLine().isEmpty());

    pickSource("/videos/clip.flv");
    QCOMPARE(dialog.sourcePath(), QStringLiteral("/videos/clip.flv"));
    QCOMPARE(dialog.txtSource->text(), QStringLiteral("/videos/clip.flv"));
    // An empty answer forgets the source but leaves its text; Convert then asks again.
    pickSource(QString());
    QVERIFY(dialog.sourcePath().isEmpty());
    QCOMPARE(dialog.txtSource->text(), QStringLiteral("/videos/clip.flv"));
    dialog.cmdConvert->click();
    QCOMPARE(desktop_.fileRequests.size(), 4);
    QVERIFY(isIdle(dialog) && dialog.lblInfo->text().isEmpty() && desktop_.messages.isEmpty());
}

void tst_frmConvert::browseAndOpenFolder() {
    frmConvert& dialog = openDialog();
    const QString before = dialog.txtDest->text();
    dialog.cmdBrowse->click();
    QCOMPARE(desktop_.folderRequests.first(), (QStringList{"Browse for Folder", before}));
    QCOMPARE(dialog.txtDest->text(), before);
    desktop_.folderAnswer = home_.path();
    dialog.cmdBrowse->click();
    QCOMPARE(dialog.txtDest->text(), home_.path());

    dialog.cmdOpen->click();
    QCOMPARE(desktop_.openedUrls, QList<QUrl>{QUrl::fromLocalFile(home_.path())});
    QVERIFY(desktop_.messages.isEmpty());
    desktop_.openSucceeds = false;
    dialog.cmdOpen->click();
    desktop_.openSucceeds = true;
    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("An error occurd!"));
    QCOMPARE(desktop_.messages.first().title, QStringLiteral("Error!"));
    QCOMPARE(desktop_.messages.first().style, int(vbCritical));
}

void tst_frmConvert::storedFolderIsResolvedOrRefused_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("used"); // under the home folder; empty: refused
    QTest::newRow("home folder") << "~"
                                 << "";
    QTest::newRow("under the home folder") << "~/Videos"
                                           << "/Videos";
    QTest::newRow("relative") << "relative/out" << QString();
    QTest::newRow("another user's home") << "~other/out" << QString();
}

// The main window stores what was typed; the dialog never converts into a folder that depends
// on where the program was started.
void tst_frmConvert::storedFolderIsResolvedOrRefused() {
    QFETCH(QString, stored);
    QFETCH(QString, used);
    SettingsStore().WriteKey(kSavedNames.first(), stored);
    frmConvert& dialog = openDialog();
    pickSource("/videos/clip.flv");
    dialog.cmdConvert->click();
    QVERIFY(isIdle(dialog));
    const QString line = dialog.converter()->CommandLine();
    if (used.isNull()) {
        QCOMPARE(desktop_.messages.size(), 1);
        QCOMPARE(desktop_.messages.first().text, OutputFolder::NotAFullPathText());
        QVERIFY2(line.isEmpty(), qPrintable(line));
    } else {
        const QString folder = home_.path() + used;
        QCOMPARE(dialog.txtDest->text(), folder);
        QVERIFY2(line.endsWith("\"" + folder + "/clip.3g2\""), qPrintable(line));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(desktop_.messages.isEmpty());
    }
    QVERIFY(!QFileInfo::exists("~") && !QFileInfo::exists("relative") &&
            !QFileInfo::exists("~other"));
}

void tst_frmConvert::missingConverterIsShownAndReturnsToIdle() {
    frmConvert& dialog = openDialog();
    // WMV puts the bit-rate tolerance into the converter at once; PSP never sets it.
    chooseFormat(dialog, kWmv);
    chooseFormat(dialog, kPspAvc);
    pickSource("/videos/my.clip.flv");
    dialog.cmdConvert->click();
    QCOMPARE(dialog.lblInfo->text(), QStringLiteral("Unable to locate avformat.dll"));
    QVERIFY(isIdle(dialog) && !dialog.Timer1->isActive());
    QVERIFY(desktop_.messages.isEmpty());
    const QString line = dialog.converter()->CommandLine();
    QVERIFY2(line.contains("-i \"/videos/my.clip.flv\" "), qPrintable(line));
    QVERIFY(line.endsWith("\"" + dialog.txtDest->text() + "/my.clip.avi\""));
    QVERIFY(line.contains("-s 368x208 -vcodec h264 -bt 60 "));
    // The message goes with its cause: another destination is another try.
    desktop_.folderAnswer = home_.path();
    dialog.cmdBrowse->click();
    QVERIFY2(dialog.lblInfo->text().isEmpty(), qPrintable(dialog.lblInfo->text()));
}

// A format text without a row shows "Not Supported" and starts nothing; the dialog must not
// stay locked as if a conversion were running.
void tst_frmConvert::declinedFormatReturnsToIdle() {
    SettingsStore().WriteKey("Youtube Video format", kGone);
    frmConvert& dialog = openDialog();
    pickSource("/videos/clip.flv");
    dialog.cmdConvert->click();
    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("Error:  Format is not defined."));
    QCOMPARE(desktop_.messages.first().title, QStringLiteral("Not Supported"));
    QCOMPARE(desktop_.messages.first().style, int(vbExclamation | vbOKOnly));
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.converter()->CommandLine().isEmpty());
}

QTEST_MAIN(tst_frmConvert)
#include "tst_frmConvert.moc"
