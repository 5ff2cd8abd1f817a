#pragma once
#include <QObject>
#include <QString>

class NabrixHost;

// The video fetcher: checks a video page address, shows the thumbnail in the host's preview,
// requests the page, extracts the video details, then downloads the stream into the output
// folder. Events are raised synchronously, in the order declared below.
class Nabrix : public QObject {
    Q_OBJECT
public:
    explicit Nabrix(NabrixHost* host, QObject* parent = nullptr);
    ~Nabrix() override;

    void ClearDownload();
    void GetVideoInfo(const QString& VideoUrl);
    void DownloadVideo();

signals:
    void DownloadProgress(qint32 lngCurrent, qint32 lngMax);
    void DownloadComplete();
    void DownloadError(const QString& ErrorDescription);
    void InvalidUrl();
    void VideoData(const QString& VideoTitle, const QString& VideoCat, const QString& UserID,
                   const QString& UploadDate, const QString& ViewCount, const QString& VideoDesc);
    void InfoError(const QString& ErrorDescription);
    void InfoProgress(qint32 lngCurrent, qint32 lngMax);

private:
    NabrixHost* host_;
};
