#include "Nabrix.h"

#include "NabrixHost.h"

Nabrix::Nabrix(NabrixHost* host, QObject* parent) : QObject(parent), host_(host) {}

Nabrix::~Nabrix() = default;

void Nabrix::ClearDownload() {}

void Nabrix::GetVideoInfo(const QString& VideoUrl) {
    Q_UNUSED(VideoUrl);
    emit InvalidUrl();
}

void Nabrix::DownloadVideo() {}
