#pragma once
#include <QObject>
#include <QString>

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

    void ConvertMedia(bool OverWrite);
    void CancelConvert();

    // The command line of the last ConvertMedia that got past its parameter checks.
    QString CommandLine() const;

signals:
    void Converting();
    void Complete();
    void ErrorEvent(const QString& message);
};
