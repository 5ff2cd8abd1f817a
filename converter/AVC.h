#pragma once
#include "ConverterParameters.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

// The media converter component: holds the parameters of one conversion, builds the
// converter's command line, runs "avformat.dll" from the program's folder as a hidden child
// process, polls it on the owner's timer and reports through its events.
class AVC : public QObject {
    Q_OBJECT
public:
    // `pollTimer` is the owner's timer (the conversion dialog's Timer1); not owned.
    explicit AVC(QTimer* pollTimer, QObject* parent = nullptr);
    ~AVC() override;

    // The write-only parameters; an empty text leaves its option out.
    void SetRateControlBuffer(const QString& value);
    void SetVideoBitrateTolerance(const QString& value);
    void SetTargetFormat(const QString& value);
    void SetGroupOfPictureSize(const QString& value);
    void SetVideoQuantiserScale(const QString& value);
    void SetMaxVideoBitrate(const QString& value);
    void SetSourceFile(const QString& value);
    void SetDestFile(const QString& value);
    void SetDeInterlace(bool value);
    void SetSameQuality(bool value);
    void SetVideoSize(const QString& value);
    void SetVideoBitrate(const QString& value);
    void SetVideoFrameRate(const QString& value);
    void SetVideoCodec(const QString& value);
    void SetVideoFourCCTag(const QString& value);
    void SetVideoAspectRatio(const QString& value);
    void SetForceFormat(const QString& value);
    void SetAudioBitrate(const QString& value);
    void SetAudioCodec(const QString& value);
    void SetAudioFourCCTag(const QString& value);
    void SetAudioSamples(const QString& value);
    void SetAudioChannels(const QString& value);
    // Any one of them, by the property the setting names.
    void SetParameter(const ConverterSetting& setting);

    void ConvertMedia(bool OverWrite);
    void CancelConvert();

    // The command line of the last ConvertMedia that got past its parameter checks.
    QString CommandLine() const;
    // The same line as the converter receives it: one argument per token, never re-read by a
    // shell, so no file name can add options.
    QStringList Arguments() const;
    // The converter's arguments for these parameters.
    static QStringList ArgumentsOf(const ConverterParameters& parameters, bool overWrite);
    // Makes a converter about to start lead a process group of its own (so that an end reaches
    // its ffmpeg too) that ends with this program.
    static void PrepareChild(QProcess* process, int keptDescriptor = -1);
    // Where the last completed conversion put its result: the destination, or the free name
    // beside it that the result took when an earlier file there had to stay.
    QString ResultFile() const { return resultFile_; }

    // The folder that holds the converter program, for every instance; empty means
    // DefaultProgramFolder of the program's own folder. Tests point it at stand-in converters.
    static void SetProgramFolder(const QString& folder);
    static QString ProgramFolder();
    // Where an installed program keeps its converter (libexec/vantelo beside bin), when the
    // converter is there; otherwise the program's own folder, as in the build tree.
    static QString DefaultProgramFolder(const QString& applicationFolder);
    // The converter program: "avformat.dll" in the program folder.
    static QString ConverterPath();

signals:
    void Converting();
    // How far the running conversion is, in milliseconds of the source: raised after
    // Converting on a poll tick that brought news from the converter. Never raised while the
    // converter does not know the source's length.
    void Progress(qint64 doneMs, qint64 totalMs);
    void Complete();
    void ErrorEvent(const QString& message);

private:
    void StartConverterProcess(const QString& converterPath);
    void ReleaseProcess();
    void PollTick();
    void ConverterFinished();
    void DrainOutput();
    void DrainReports();
    void TakeReport(const QByteArray& line);
    void TakeProgress(const QByteArray& report);
    void LogExit();
    QString LastOutputLine() const;
    QString FailureMessage() const;
    QString ReadableLine(QString line) const;
    void EndConversion();
    void ClearParameters();

    ConverterParameters parameters_;

    QTimer* timer_ = nullptr;
    QProcess* process_ = nullptr;
    bool cancelled_ = false;
    bool inTick_ = false; // a tick raising its events, which may run a nested event loop
    bool exitLogged_ = false;
    qint64 doneMs_ = 0;
    qint64 totalMs_ = 0;
    bool progressNews_ = false; // a progress line came since the last tick
    QString commandLine_;
    QStringList arguments_;
    QByteArray pendingLine_;   // output after the last line break
    int reportFd_ = -1;        // the read end of the converter's report pipe
    QByteArray pendingReport_; // reports after the last line break
    QByteArray lastLine_;      // the last complete line that was not blank
    QString savedAs_; // where the converter put a result that kept away from an earlier file
    QString resultFile_;
};
