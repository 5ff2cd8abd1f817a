#include "AVC.h"

AVC::AVC(QTimer* pollTimer, QObject* parent) : QObject(parent) { Q_UNUSED(pollTimer); }
AVC::~AVC() = default;

void AVC::SetRateControlBuffer(const QString&) {}
void AVC::SetVideoBitrateTolerance(const QString&) {}
void AVC::SetTargetFormat(const QString&) {}
void AVC::SetGroupOfPictureSize(const QString&) {}
void AVC::SetVideoQuantiserScale(const QString&) {}
void AVC::SetMaxVideoBitrate(const QString&) {}
void AVC::SetSourceFile(const QString&) {}
void AVC::SetDestFile(const QString&) {}
void AVC::SetDeInterlace(bool) {}
void AVC::SetSameQuality(bool) {}
void AVC::SetVideoSize(const QString&) {}
void AVC::SetVideoBitrate(const QString&) {}
void AVC::SetVideoFrameRate(const QString&) {}
void AVC::SetVideoCodec(const QString&) {}
void AVC::SetVideoFourCCTag(const QString&) {}
void AVC::SetVideoAspectRatio(const QString&) {}
void AVC::SetForceFormat(const QString&) {}
void AVC::SetAudioBitrate(const QString&) {}
void AVC::SetAudioCodec(const QString&) {}
void AVC::SetAudioFourCCTag(const QString&) {}
void AVC::SetAudioSamples(const QString&) {}
void AVC::SetAudioChannels(const QString&) {}
void AVC::ConvertMedia(bool) { emit ErrorEvent(QStringLiteral("No source filename defined")); }
void AVC::CancelConvert() {}
QString AVC::CommandLine() const { return QString(); }
