// The download of a page of today once read: its file, its streams in pieces (joined when they
// come separate), or a format that only yt-dlp fetches.
#include "Nabrix.h"

#include "FinishedFile.h"
#include "HlsPlaylist.h"
#include "PartFile.h"
#include "Retries.h"
#include "SegmentedDownload.h"
#include "Transfer.h"
#include "YtDlpRunner.h"
#include "modNabrix.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

QString CannotFile(const char* action, const QString& path, int reason) {
    return QStringLiteral("Cannot %1 %2: %3")
        .arg(QLatin1String(action), QDir::toNativeSeparators(path),
             modNabrix::FileErrorText(reason, QString::fromLocal8Bit(std::strerror(reason))));
}

// A stream of one file is one piece: fetched with the others and joined to them.
Streams::Track WholeFileTrack(const MediaStream& stream) {
    Streams::Track track;
    track.kind = stream.hasVideo ? Streams::TrackKind::Video : Streams::TrackKind::Audio;
    Streams::Segment whole;
    whole.url = stream.address;
    track.segments.append(whole);
    return track;
}

// What a stream is: its address, or the page and format that yt-dlp fetches it by.
QByteArray StreamAddress(const QUrl& page, const MediaStream& stream) {
    return stream.via == MediaStream::Via::YtDlp ? page.toEncoded() + ' ' + stream.formatId.toUtf8()
                                                 : stream.address.toEncoded();
}

// What a .part or a finished file of these streams belongs to, so that only the same streams
// continue or replace it.
QString StreamIdentity(const QUrl& page, const MediaStream& video, const MediaStream* audio) {
    QByteArray what = StreamAddress(page, video);
    if (audio)
        what += '\n' + StreamAddress(page, *audio);
    return QString::fromLatin1(
        QCryptographicHash::hash(what, QCryptographicHash::Sha256).toHex().left(32));
}

// "<name>.joining.<ext>" beside the finished file, or the first free name after it.
QString JoiningPathFor(const QString& finalPath, const QString& extension) {
    const QFileInfo target(finalPath);
    const QString path =
        target.dir().filePath(target.completeBaseName() + QStringLiteral(".joining.") + extension);
    return FinishedFile::Exists(path) ? FinishedFile::FreeName(path) : path;
}

} // namespace

MediaOffer Nabrix::Titled(MediaOffer offer) {
    QString& title = offer.details.VideoTitle;
    if (title.trimmed().isEmpty() && offer.video >= 0 && offer.video < offer.streams.size())
        title = PageText::TitleOfAddress(offer.streams[offer.video].address);
    if (title.trimmed().isEmpty())
        title = PageText::TitleOfAddress(offer.page);
    return offer;
}

void Nabrix::DownloadOffer(const MediaOffer& offer) {
    const MediaOffer taken = Titled(offer);
    ClearDownload();
    Offer = taken;
    StartOffer(OfferPlan::Choose(Offer, MaxHeight));
}

void Nabrix::DownloadStream(int index) {
    ClearDownload();
    StartOffer(OfferPlan::Pick(Offer, index));
}

void Nabrix::StartOffer(const OfferPlan::Choice& choice) {
    TodaysPage = true;
    Details = Offer.details;
    if (HandedFolder)
        TargetFolder = *HandedFolder;
    SavedFilePath.clear();
    OfferReceived = OfferTotal = 0;
    SoundOut = choice.soundOnly;
    if (choice.video < 0 || choice.video >= Offer.streams.size()) {
        emit PhaseStarted(Phase::Video);
        FailOffer(QStringLiteral("No video was found on this page"));
        return;
    }
    const MediaStream& video = Offer.streams[choice.video];
    const MediaStream* audio = choice.audio >= 0 && choice.audio < Offer.streams.size()
                                   ? &Offer.streams[choice.audio]
                                   : nullptr;
    Details.PageVideoId = StreamIdentity(Offer.page, video, audio);
    if (video.via == MediaStream::Via::YtDlp) {
        StartYtDlp(video);
        return;
    }
    if (video.via == MediaStream::Via::File && !audio && !SoundOut) {
        StartOfferFile(video);
        return;
    }
    emit PhaseStarted(Phase::Video);
    if (audio && audio->via == MediaStream::Via::YtDlp) {
        FailOffer(QStringLiteral("The sound of this video can only be fetched by yt-dlp."));
        return;
    }
    OfferHeaders = video.headers;
    for (const MediaStream* stream : {&video, audio}) {
        if (!stream)
            continue;
        OfferTrack track;
        track.stream = *stream;
        if (stream->via == MediaStream::Via::File) {
            track.stream.track = WholeFileTrack(*stream);
        } else if (!stream->track && stream->via == MediaStream::Via::Hls) {
            // A playlist named by the page alone: read as the media playlist of its stream.
            track.stream.track = WholeFileTrack(*stream);
            track.stream.track->segments.clear();
            track.stream.track->playlist = stream->address;
        } else if (!stream->track) {
            FailOffer(QStringLiteral("The manifest %1 names no segments.")
                          .arg(stream->address.toString()));
            return;
        }
        OfferTracks.append(track);
    }
    // The container is known once the media playlists are read; they come first.
    PlaylistTrack = -1;
    FetchNextPlaylist();
}

void Nabrix::StartOfferFile(const MediaStream& stream) {
    // The single-stream download of the 2008 pages, with the stream's headers and container.
    OfferHeaders = stream.headers;
    DownloadUrl = stream.address.toString(QUrl::FullyEncoded);
    if (!NameOfferFile(OfferPlan::For(stream, nullptr).extension)) {
        emit PhaseStarted(Phase::Video);
        FailOffer(QStringLiteral("The video's title does not make a usable file name"));
        return;
    }
    DownloadVideo();
}

bool Nabrix::NameOfferFile(const QString& extension) {
    TargetExtension = extension;
    FilePath = PageText::WholeTitleFilePath(TargetFolder, PageText::CleanTitle(Details.VideoTitle),
                                            extension);
    return PageText::IsTargetFilePath(TargetFolder, FilePath, extension);
}

// --- Streams in pieces ---

void Nabrix::FetchNextPlaylist() {
    while (++PlaylistTrack < OfferTracks.size() &&
           OfferTracks[PlaylistTrack].stream.track->playlist.isEmpty()) {
    }
    if (PlaylistTrack >= OfferTracks.size()) {
        StartTracks();
        return;
    }
    Transfer::Request request;
    request.url = OfferTracks[PlaylistTrack].stream.track->playlist;
    request.headers = OfferHeaders;
    request.followRedirects = true;
    request.maxRetries = Retries::MaxRetries;
    PlaylistBody.clear();
    PlaylistFetch = new Transfer(request, this);
    PlaylistFetch->setStallTimeout(StallTimeoutMs);
    PlaylistFetch->setRetryWait(RetryWaitMs);
    PlaylistFetch->SetBodyStart([this](qint64 offset) { PlaylistBody.truncate(offset); });
    PlaylistFetch->SetSink([this](const char* data, qint64 size) {
        if (PlaylistBody.size() + size > Streams::MaxManifestBytes)
            return false;
        PlaylistBody.append(data, size);
        return true;
    });
    connect(PlaylistFetch, &Transfer::Finished, this, &Nabrix::PlaylistFinished);
    PlaylistFetch->Start();
}

void Nabrix::PlaylistFinished() {
    if (!PlaylistFetch)
        return;
    Transfer* fetch = PlaylistFetch;
    PlaylistFetch = nullptr;
    fetch->deleteLater();
    const int status = fetch->Status();
    if (!fetch->Result().Whole() || status < 200 || status >= 300) {
        const QString why = fetch->Result().Whole()
                                ? QString::number(status) + QLatin1Char(' ') +
                                      QString::fromLatin1(fetch->ReasonPhrase()).trimmed()
                                : fetch->Result().Words(fetch->Url());
        FailOffer(QStringLiteral("The playlist %1 could not be fetched: %2")
                      .arg(fetch->Url().toString(), why));
        return;
    }
    Streams::Track& track = *OfferTracks[PlaylistTrack].stream.track;
    const Streams::Plan plan = HlsPlaylist::ReadMedia(PlaylistBody, fetch->Url(), track);
    PlaylistBody.clear();
    if (!plan.Ok() || plan.tracks.isEmpty() || plan.tracks.first().segments.isEmpty()) {
        FailOffer(
            plan.Ok()
                ? QStringLiteral("The playlist %1 names no segments.").arg(fetch->Url().toString())
                : Streams::RefusalText(plan, fetch->Url()));
        return;
    }
    track = plan.tracks.first();
    FetchNextPlaylist();
}

void Nabrix::StartTracks() {
    // The finished file's container, now that the segments are known.
    OfferLayout = OfferPlan::For(OfferTracks.first().stream,
                                 OfferTracks.size() > 1 ? &OfferTracks.last().stream : nullptr);
    if (SoundOut)
        KeepOnlySound();
    if (!NameOfferFile(OfferLayout.extension)) {
        FailOffer(QStringLiteral("The video's title does not make a usable file name"));
        return;
    }
    for (int i = 0; i < OfferTracks.size(); ++i) {
        OfferTrack& track = OfferTracks[i];
        const QString kind = i == 0 ? QStringLiteral(".video") : QStringLiteral(".audio");
        track.partPath = PartFile::PathFor(OfferLayout.join ? FilePath + kind : FilePath);
        track.fd = PartFile::OpenForWriting(track.partPath);
        if (track.fd < 0 && PartFile::IsLeftAlone(errno))
            track.fd = PartFile::CreateBeside(track.partPath);
        if (track.fd < 0) {
            FailOffer(CannotFile("create", track.partPath, errno));
            return;
        }
    }
    emit DownloadProgress(0, 0);
    SegmentedDownload::Options options;
    options.headers = OfferHeaders;
    options.retryWaitMs = RetryWaitMs;
    options.stallTimeoutMs = StallTimeoutMs;
    options.maxRetries = Retries::MaxRetries;
    for (OfferTrack& track : OfferTracks) {
        track.download = new SegmentedDownload(*track.stream.track, track.partPath, options, this);
        connect(track.download, &SegmentedDownload::Progress, this, &Nabrix::TrackProgressed);
        connect(track.download, &SegmentedDownload::Finished, this, &Nabrix::TrackFinished);
    }
    // Started only once all exist: a track that fails at once cancels the others.
    for (int i = 0; i < OfferTracks.size(); ++i)
        if (i < OfferTracks.size() && OfferTracks[i].download)
            OfferTracks[i].download->Start();
}

void Nabrix::KeepOnlySound() {
    OfferLayout = OfferPlan::SoundOf(OfferTracks.first().stream);
    // The file read back must hold the sound, and need hold no picture.
    Streams::Track& track = *OfferTracks.first().stream.track;
    track.kind = Streams::TrackKind::Audio;
    track.width = track.height = 0;
}

void Nabrix::TrackProgressed() {
    qint64 received = 0, total = 0;
    for (const OfferTrack& track : OfferTracks) {
        if (!track.download)
            continue;
        received += track.download->Received();
        total += track.download->EstimatedTotal();
    }
    ReportOfferProgress(received, total);
}

void Nabrix::ReportOfferProgress(qint64 received, qint64 total) {
    // Neither the count nor the total goes back: a track whose total is still unknown adds
    // nothing, and the total never falls below what has come.
    received = std::max(received, OfferReceived);
    total = std::max({total, OfferTotal, received});
    if (received == OfferReceived && total == OfferTotal)
        return;
    OfferReceived = received;
    OfferTotal = total;
    emit DownloadProgress(received, total);
}

void Nabrix::TrackFinished() {
    for (const OfferTrack& track : OfferTracks)
        if (track.download && !track.download->Succeeded() &&
            !track.download->ErrorString().isEmpty()) {
            FailOffer(track.download->ErrorString());
            return;
        }
    for (const OfferTrack& track : OfferTracks)
        if (!track.download || !track.download->Succeeded())
            return;
    if (!OfferLayout.join) {
        const OfferTrack& track = OfferTracks.first();
        CheckOffer(track.partPath, [this, track] { PlaceOffer(track.partPath, track.fd); });
        return;
    }
    if (!Joiner) {
        FailOffer(SoundOut ? QStringLiteral("The sound cannot be taken out of the video here.")
                           : QStringLiteral("The video and its sound cannot be joined here."));
        return;
    }
    QStringList inputs;
    for (const OfferTrack& track : OfferTracks)
        inputs << track.partPath;
    JoinPath = JoiningPathFor(FilePath, OfferLayout.extension);
    Joining = true;
    connect(Joiner, &MediaJoiner::Joined, this, &Nabrix::TracksJoined, Qt::UniqueConnection);
    Joiner->Join(inputs, JoinPath);
}

void Nabrix::TracksJoined(const QString& error) {
    if (!Joining)
        return;
    Joining = false;
    disconnect(Joiner, &MediaJoiner::Joined, this, &Nabrix::TracksJoined);
    if (!error.isEmpty()) {
        QFile::remove(JoinPath);
        if (SoundOut) {
            FailOffer(
                QStringLiteral("The sound could not be taken out of the video: %1").arg(error));
            return;
        }
        // MPEG-TS whose codecs an MP4 does not take stays as it came.
        if (OfferTracks.size() == 1 && NameOfferFile(QStringLiteral("ts"))) {
            const OfferTrack& track = OfferTracks.first();
            CheckOffer(track.partPath, [this, track] { PlaceOffer(track.partPath, track.fd); });
            return;
        }
        FailOffer(error);
        return;
    }
    CheckOffer(JoinPath, [this] { PlaceJoined(); });
}

void Nabrix::PlaceJoined() {
    const QByteArray video = Details.PageVideoId.toUtf8();
    PartFile::WriteMark(JoinPath, video);
    const FinishedFile::Placed placed =
        FinishedFile::IntoPlace(JoinPath, FilePath, PartFile::IsSameVideo(video));
    if (placed.path.isEmpty()) {
        FailOffer(CannotFile("finish", FilePath, placed.error));
        return;
    }
    SavedFilePath = placed.path;
    // The pieces are in the joined file now; only the .part files written go.
    for (const OfferTrack& track : OfferTracks)
        if (FinishedFile::IsOpenFile(track.partPath, track.fd))
            QFile::remove(track.partPath);
    CompleteOffer();
}

void Nabrix::CheckOffer(const QString& file, const std::function<void()>& place) {
    // Without a joiner nothing reads files back here: the segments' own checks stand alone.
    if (!Joiner) {
        place();
        return;
    }
    Checking = true;
    CheckPath = file;
    AfterCheck = place;
    connect(Joiner, &MediaJoiner::ReadBackDone, this, &Nabrix::OfferChecked, Qt::UniqueConnection);
    Joiner->ReadBack(file);
}

void Nabrix::OfferChecked(const QString& error, int video, int audio, double seconds) {
    if (!Checking)
        return;
    Checking = false;
    disconnect(Joiner, &MediaJoiner::ReadBackDone, this, &Nabrix::OfferChecked);
    QList<Streams::Track> tracks;
    for (const OfferTrack& track : OfferTracks)
        if (track.stream.track)
            tracks.append(*track.stream.track);
    const QString problem =
        error.isEmpty() ? Streams::ResultProblem(tracks, {video, audio, seconds})
                        : QStringLiteral("The downloaded file cannot be read back: %1").arg(error);
    if (problem.isEmpty()) {
        AfterCheck();
        return;
    }
    if (CheckPath == JoinPath)
        QFile::remove(JoinPath);
    FailOffer(problem);
}

void Nabrix::PlaceOffer(const QString& finished, int heldFd) {
    const QByteArray video = Details.PageVideoId.toUtf8();
    PartFile::WriteMark(heldFd, video);
    const FinishedFile::Placed placed =
        FinishedFile::OpenFileIntoPlace(heldFd, finished, FilePath, PartFile::IsSameVideo(video));
    if (placed.path.isEmpty()) {
        FailOffer(CannotFile("finish", placed.error == ESTALE ? finished : FilePath, placed.error));
        return;
    }
    SavedFilePath = placed.path;
    CompleteOffer();
}

void Nabrix::CompleteOffer() {
    CancelOffer();
    emit DownloadProgress(0, 1);
    emit DownloadComplete();
}

// --- Formats only yt-dlp fetches ---

void Nabrix::StartYtDlp(const MediaStream& stream) {
    emit PhaseStarted(Phase::Video);
    if (!YtDlp) {
        YtDlp = new YtDlpRunner(this);
        connect(YtDlp, &YtDlpRunner::Progress, this, [this](const YtDlpOutput::Progress& p) {
            ReportOfferProgress(p.Bytes, std::max<qint64>(p.Total, 0));
        });
        connect(YtDlp, &YtDlpRunner::Downloaded, this, &Nabrix::PlaceYtDlpFile);
        connect(YtDlp, &YtDlpRunner::Failed, this, &Nabrix::FailOffer);
        connect(YtDlp, &YtDlpRunner::Unavailable, this, [this] {
            FailOffer(QStringLiteral("This video can only be downloaded by yt-dlp, which is not "
                                     "installed."));
        });
    }
    TargetExtension = stream.extension;
    emit DownloadProgress(0, 0);
    YtDlp->DownloadFormat(Offer.page, stream.formatId, TargetFolder);
}

void Nabrix::PlaceYtDlpFile(const QString& path) {
    // yt-dlp names the container it wrote; an extension we do not know takes the format's.
    const QString written = QFileInfo(path).suffix().toLower();
    const QString extension = PageText::IsPlainExtension(written) ? written : TargetExtension;
    if (!NameOfferFile(extension)) {
        FailOffer(QStringLiteral("The video's title does not make a usable file name"));
        return;
    }
    const QByteArray video = Details.PageVideoId.toUtf8();
    PartFile::WriteMark(path, video);
    const FinishedFile::Placed placed =
        FinishedFile::IntoPlace(path, FilePath, PartFile::IsSameVideo(video));
    if (placed.path.isEmpty()) {
        FailOffer(CannotFile("finish", FilePath, placed.error));
        return;
    }
    SavedFilePath = placed.path;
    CompleteOffer();
}

// --- Ending ---

void Nabrix::FailOffer(const QString& description) {
    CancelOffer();
    emit DownloadError(description);
}

void Nabrix::CancelOffer() {
    if (PlaylistFetch) {
        Transfer* fetch = PlaylistFetch;
        PlaylistFetch = nullptr;
        disconnect(fetch, nullptr, this, nullptr);
        fetch->Abort();
        fetch->deleteLater();
    }
    PlaylistBody.clear();
    PlaylistTrack = -1;
    if (Joining && Joiner) {
        disconnect(Joiner, &MediaJoiner::Joined, this, &Nabrix::TracksJoined);
        Joiner->Cancel();
    }
    Joining = false;
    if (Checking && Joiner) {
        disconnect(Joiner, &MediaJoiner::ReadBackDone, this, &Nabrix::OfferChecked);
        Joiner->Cancel();
    }
    Checking = false;
    if (YtDlp)
        YtDlp->Cancel();
    // The .part files stay, to be continued by the next download of the page.
    for (OfferTrack& track : OfferTracks) {
        if (track.download) {
            disconnect(track.download, nullptr, this, nullptr);
            track.download->Abort();
            track.download->deleteLater();
        }
        if (track.fd >= 0)
            ::close(track.fd);
    }
    OfferTracks.clear();
    OfferHeaders.clear();
    TargetExtension = QStringLiteral("flv");
}
