#pragma once
#include "OptionChoices.h"
#include "RegEdit.h"
#include "StatusLabel.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class AVC;
class AeroButton;
class DesktopJob;
class ProgressBar;
class StreamPlan;
class QComboBox;
class QFrame;
class QScrollArea;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;
class ZebCheck;
class ZebLabel;
class ZebOption;

// The conversion dialog "Convert YouTube Video": the user picks a source file, a target
// format with its options and an output folder, converts with a busy indicator, and can
// cancel. Modeless, owned by the main window. Constructing it loads it; closing it unloads it
// (saves the options, ends any conversion, releases the converter); showing it again after a
// close loads it afresh.
class frmConvert : public QWidget {
    Q_OBJECT
public:
    explicit frmConvert(QWidget* owner = nullptr);
    ~frmConvert() override;

    // Sets the converter's parameters from the current choices and starts converting SrcPath.
    // Returns false when the chosen format is not one the dialog knows (nothing starts then).
    bool ConvertFLV(const QString& SrcPath);

    // The thirteen saved options, in the order they are written when the dialog closes.
    RegEdit::NamedTexts SavedOptions() const;

    const QString& sourcePath() const { return SourcePath; }
    int busyCounter() const { return BusyCounter; }
    int statusStep() const { return StatusStep; }
    // The clock the time left is paced by, in milliseconds (a steady one unless replaced).
    void SetPaceClock(std::function<qint64()> nowMs) { paceClock_ = std::move(nowMs); }
    AVC* converter() const { return AVC1.get(); }
    bool isLoaded() const { return loaded_; }

    // The controls.
    QGroupBox* frmSource;
    QLineEdit* txtSource;
    AeroButton* cmdSource;
    QGroupBox* FrmOptions;
    QComboBox* cmbFormat;
    QFrame* Frame3; // the video options panel (the designer numbered its frames)
    ZebLabel* lblVideo;
    ZebLabel* lblVidCodec;
    QComboBox* cmbVidCodec;
    ZebLabel* lblVidBitRate;
    QComboBox* VidBitrate;
    ZebLabel* lblVidFrameRate;
    QComboBox* FrameRate;
    ZebLabel* lblVidSize;
    QComboBox* cmbVideoSize;
    ZebLabel* lblFormat;
    QComboBox* cmbVidFormat; // output file extension
    ZebCheck* chkQuality;
    QFrame* Line1;
    QFrame* Frame1; // the audio options panel
    ZebLabel* lblAudio;
    ZebLabel* lblCodec;
    QComboBox* cmdAudCodec; // the audio codec list, whatever its button prefix says
    ZebLabel* lblBitrate;
    QComboBox* cmbAudVit;
    ZebLabel* lblSample;
    QComboBox* cmbSample;
    ZebLabel* lblChannel;
    ZebOption* OptMono;
    ZebOption* OptStereo;
    StatusLabel* lblInfo;
    ProgressBar* Prg;
    QGroupBox* frmDest;
    QLineEdit* txtDest;
    AeroButton* cmdBrowse;
    AeroButton* cmdOpen;
    AeroButton* btnCancel;
    AeroButton* cmdConvert;
    QTimer* Timer1; // the converter's poll timer
    QTimer* tmrPrg; // the busy bar

public slots:
    void cmdSource_Click();
    void cmdBrowse_Click();
    void cmdOpen_Click();
    void cmdConvert_Click();
    void btnCancel_Click();
    void cmbFormat_Click();
    void AVC1_Converting();
    void AVC1_Complete();
    void AVC1_ErrorEvent(const QString& message);
    void AVC1_Progress(qint64 doneMs, qint64 totalMs);
    void tmrPrg_Timer();
    void ExplainStreams();
    // Brings the dialog, frame and all, onto `available` (the screen less its panels): a dialog
    // too large for it (a large scale on a small screen) is made smaller and scrolls.
    void KeepOnScreen(const QRect& available);
    QScrollArea* Scroller() const { return scroller_; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void PutControlsOnScrollingPage();
    void FitScroller();
    void CreateVideoPanel();
    void CreateAudioPanel();
    void CreateStatusDisplay();
    void CreateDestinationFrame();
    void NameControls();
    void ConnectControls();
    void NameForScreenReaders();

    void Form_Load();
    void Form_Unload();
    void FillFormatList();
    void RestoreSavedOptions();
    void RestoreFormat(const QString& stored);
    void RestoreOutputFolder(const QString& stored);

    OptionChoices ReadChoices() const;
    void ShowChoices(const OptionChoices& choices);
    void SetInputsEnabled(bool enabled);
    void StopBusyBar();
    void ShowStatus(const QString& text);
    void ShowStreamPlan(const QString& text);

    QString SourcePath;
    int BusyCounter = 0;
    int StatusStep = 0;
    std::unique_ptr<AVC> AVC1;
    bool loaded_ = false;
    bool progressShown_ = false; // the bar shows the converter's progress, not the busy cycle
    // The first progress report of the run: how far it said, and when it came.
    qint64 firstDoneMs_ = 0;
    qint64 firstReportAtMs_ = 0;
    std::function<qint64()> paceClock_;
    DesktopJob* convertJob_ = nullptr;
    StreamPlan* streamPlan_ = nullptr;
    // The status line speaks of the current choices (what becomes of each stream, or why the
    // last run failed): it goes when they change.
    bool noteShown_ = false;
    // The dialog's controls lie on one page of the design size, which scrolls where the screen
    // is too small for it.
    QScrollArea* scroller_ = nullptr;
};
