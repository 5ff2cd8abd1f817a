#include "PageReading.h"

#include "DashManifest.h"
#include "HlsPlaylist.h"
#include "MediaSniff.h"
#include "OfferPlan.h"
#include "StandardsPage.h"
#include "Transfer.h"
#include "YtDlpOutput.h"
#include "YtDlpRunner.h"

#include <algorithm>
#include <numeric>

namespace {

// Pages of today are asked for as a current browser would; the body as stored, so that the
// bytes we sniff are the answer's own.
const Http::Headers& PageRequestHeaders() {
    static const Http::Headers headers = {
        {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0"},
        {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
        {"Accept-Language", "en-US,en;q=0.5"},
        {"Accept-Encoding", "identity"},
    };
    return headers;
}

bool IsSuccess(int status) {
    return status >= 200 && status < 300;
}

QString StatusText(const Transfer* transfer) {
    const QString reason = QString::fromLatin1(transfer->ReasonPhrase()).trimmed();
    return QStringLiteral("%1 answered %2%3")
        .arg(transfer->Url().toDisplayString())
        .arg(transfer->Status())
        .arg(reason.isEmpty() ? QString() : QLatin1Char(' ') + reason);
}

// yt-dlp's text for an address it has no reader for says less than ours.
bool TellsMore(const QString& ytDlpFailure, const QUrl& page) {
    const QString unsupported = YtDlpOutput::FailureText(
        {YtDlpOutput::Failure::Unsupported, QString()}, page.toDisplayString());
    return !ytDlpFailure.isEmpty() && !ytDlpFailure.startsWith(unsupported);
}

// A field the first page left empty takes the player page's.
void FillEmpty(PageText::VideoPage& details, const PageText::VideoPage& more) {
    for (auto field : {&PageText::VideoPage::VideoTitle, &PageText::VideoPage::VideoCat,
                       &PageText::VideoPage::UserID, &PageText::VideoPage::UploadDate,
                       &PageText::VideoPage::ViewCount, &PageText::VideoPage::VideoDesc})
        if ((details.*field).isEmpty())
            details.*field = more.*field;
}

MediaStream StreamOf(const YtDlpFormat& format) {
    MediaStream stream;
    stream.formatId = format.FormatId;
    stream.headers = format.HttpHeaders;
    stream.extension = format.Extension;
    stream.hasVideo = format.HasVideo;
    stream.hasAudio = format.HasAudio;
    stream.height = format.Height;
    QStringList codecs;
    for (const QString& codec : {format.VideoCodec, format.AudioCodec})
        if (!codec.isEmpty() && codec != QLatin1String("none"))
            codecs.append(codec);
    stream.codecs = codecs.join(QLatin1Char(','));
    stream.byteSize = format.ByteSize > 0 ? format.ByteSize : -1;
    stream.bitsPerSecond = format.BitsPerSecond;
    using Transport = YtDlpFormat::Transport;
    if (!format.FetchedByUs() || (format.Via == Transport::Dash && format.Fragments.isEmpty())) {
        stream.via = MediaStream::Via::YtDlp;
        return stream;
    }
    stream.address = format.Address;
    if (format.Via == Transport::Http) {
        stream.via = MediaStream::Via::File;
    } else if (format.Via == Transport::Hls) {
        stream.via = MediaStream::Via::Hls;
    } else {
        stream.via = MediaStream::Via::Dash;
        Streams::Track track;
        track.kind = format.HasVideo ? Streams::TrackKind::Video : Streams::TrackKind::Audio;
        track.width = format.Width;
        track.height = format.Height;
        track.bandwidth = format.BitsPerSecond;
        track.codecs = stream.codecs;
        for (const YtDlpFormat::Fragment& fragment : format.Fragments) {
            Streams::Segment segment;
            segment.url = fragment.Address;
            segment.start = track.duration;
            segment.duration = fragment.DurationSeconds;
            track.duration += fragment.DurationSeconds;
            track.segments.append(segment);
        }
        stream.track = track;
    }
    return stream;
}

// The codecs a declared type names ("video/mp4; codecs=\"avc1.64001f, mp4a.40.2\"").
QString CodecsOf(const QString& declaredType) {
    for (const QString& parameter : declaredType.split(QLatin1Char(';')).mid(1)) {
        const QString name = parameter.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        if (name == QLatin1String("codecs"))
            return parameter.section(QLatin1Char('='), 1)
                .trimmed()
                .remove(QLatin1Char('"'))
                .remove(QLatin1Char('\''))
                .remove(QLatin1Char(' '));
    }
    return QString();
}

MediaStream StreamOf(const MediaCandidate& declared) {
    MediaStream stream;
    stream.via = MediaStream::Via::File;
    stream.address = declared.Address;
    stream.extension = declared.Extension.isEmpty()
                           ? MediaSniff::FromAddress(declared.Address).Extension
                           : declared.Extension;
    stream.hasVideo = !declared.AudioOnly;
    stream.height = declared.Height;
    stream.codecs = CodecsOf(declared.DeclaredType);
    stream.byteSize = declared.ByteSize > 0 ? declared.ByteSize : -1;
    stream.bitsPerSecond = declared.Bitrate;
    return stream;
}

} // namespace

PageReading::PageReading(QObject* parent) : QObject(parent), runner_(new YtDlpRunner(this)) {
    connect(runner_, &YtDlpRunner::Read, this, &PageReading::YtDlpRead);
    connect(runner_, &YtDlpRunner::Failed, this, &PageReading::YtDlpFailed);
    connect(runner_, &YtDlpRunner::Unavailable, this, &PageReading::YtDlpUnavailable);
    ytDlpStart_.setSingleShot(true);
    ytDlpStart_.setInterval(YtDlpHeadStartMs);
    connect(&ytDlpStart_, &QTimer::timeout, this, &PageReading::StartYtDlp);
}

PageReading::~PageReading() {
    Cancel();
}

qint64 PageReading::YtDlpGroup() const {
    return runner_->ProcessGroup();
}

bool PageReading::IsWebAddress(const QUrl& address) {
    const QString scheme = address.scheme();
    return address.isValid() && !address.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString PageReading::NotWebAddressText(const QString& address) {
    if (address.trimmed().startsWith(QLatin1String("blob:"), Qt::CaseInsensitive))
        return BlobText(QUrl(address.trimmed()));
    return QStringLiteral("%1 is not an http or https address. Type the whole address of the "
                          "page that shows the video, for example https://www.example.com/video")
        .arg(address);
}

QString PageReading::NoVideoText(const QUrl& page, bool ytDlpMissing) {
    QString text =
        QStringLiteral("No video was found on this page: %1").arg(page.toDisplayString());
    if (ytDlpMissing)
        text += QStringLiteral(". ") + YtDlpOutput::NotInstalledHint();
    return text;
}

QString PageReading::BlobText(const QUrl& page) {
    return QStringLiteral("The video on %1 is a blob: address, which only the page's own player "
                          "can read")
        .arg(page.toDisplayString());
}

// --- Starting and ending ---

void PageReading::Start(const QUrl& page, int maxHeight) {
    Cancel();
    running_ = true;
    unreachable_ = false;
    page_ = page;
    maxHeight_ = maxHeight;
    queue_ = {{page, 0}};
    visited_.clear();
    reads_ = 0;
    firstPage_ = true;
    fileCandidate_.reset();
    fileCandidates_.clear();
    blobSeen_ = false;
    details_ = {};
    thumbnail_.clear();
    durationSeconds_ = 0;
    pageRead_ = page;
    oursDone_ = false;
    oursRefused_ = false;
    ours_.reset();
    oursFailure_.clear();
    ytDlp_ = YtDlpState::Running;
    ytDlpOffer_ = {};
    ytDlpFailure_.clear();
    ytDlpStarted_ = false;
    ytDlpStart_.start();
    NextPage();
}

void PageReading::StartYtDlp() {
    ytDlpStart_.stop();
    if (!running_ || ytDlpStarted_)
        return;
    ytDlpStarted_ = true;
    // Its answer (or that there is none) comes from the event loop.
    runner_->ReadPage(page_);
}

void PageReading::Cancel() {
    running_ = false;
    ytDlpStart_.stop();
    DropTransfer();
    runner_->Cancel();
}

void PageReading::DropTransfer() {
    if (!transfer_)
        return;
    Transfer* dropped = transfer_;
    transfer_ = nullptr;
    disconnect(dropped, nullptr, this, nullptr);
    dropped->Abort();
    dropped->deleteLater();
}

// --- Our reader ---

void PageReading::NextPage() {
    while (!queue_.isEmpty() && reads_ < StandardsPage::MaxPageReads) {
        const Pending next = queue_.takeFirst();
        if (visited_.contains(next.address))
            continue;
        visited_.insert(next.address);
        ++reads_;
        level_ = next.level;
        Fetch(next.address, Fetching::Page);
        return;
    }
    OursFoundNothing(blobSeen_ ? BlobText(page_) : QString());
}

void PageReading::Fetch(const QUrl& address, Fetching what) {
    DropTransfer();
    fetching_ = what;
    body_.clear();
    overflowed_ = false;
    sniffed_ = false;
    Transfer::Request request;
    request.url = address;
    request.headers = PageRequestHeaders();
    request.followRedirects = true;
    transfer_ = new Transfer(request, this);
    transfer_->setStallTimeout(stallMs_);
    const qsizetype limit =
        what == Fetching::Page ? StandardsPage::MaxPageChars : Streams::MaxManifestBytes;
    transfer_->SetSink([this, limit](const char* data, qint64 size) {
        // Called from inside the transfer: collects, and leaves the decisions to Arrived.
        overflowed_ = body_.size() + size > limit;
        if (!overflowed_)
            body_.append(data, size);
        return !overflowed_;
    });
    connect(transfer_, &Transfer::ResponseStarted, this, &PageReading::Answered);
    connect(transfer_, &Transfer::Written, this, &PageReading::Arrived);
    connect(transfer_, &Transfer::Finished, this, &PageReading::Done);
    transfer_->Start();
}

void PageReading::Answered() {
    if (firstPage_ && fetching_ == Fetching::Page && IsSuccess(transfer_->Status()))
        emit PageStarted(transfer_->Length());
}

void PageReading::Arrived(qint64 received) {
    if (fetching_ != Fetching::Page)
        return;
    if (firstPage_)
        emit PageProgress(received);
    if (sniffed_ || body_.size() < MediaSniff::BytesToSniff || !transfer_)
        return;
    // An address that is a file itself is not read on: its first bytes say enough.
    sniffed_ = true;
    const MediaSniff::Media media =
        MediaSniff::Sniff(transfer_->Header("Content-Type"), body_.left(MediaSniff::BytesToSniff));
    if (media.Kind == MediaSniff::StreamKind::File) {
        const QUrl address = transfer_->Url();
        DropTransfer();
        TakeFile(address, media);
    }
}

void PageReading::Done() {
    if (!transfer_)
        return;
    const Transfer* finished = transfer_;
    QString failure;
    if (overflowed_)
        failure = QStringLiteral("%1 is larger than %2 MB, so it is not read")
                      .arg(finished->Url().toDisplayString())
                      .arg(StandardsPage::MaxPageChars / (1024 * 1024));
    else if (!finished->Result().Whole())
        failure = Unanswered(finished);
    else if (!IsSuccess(finished->Status()))
        failure = StatusText(finished);
    if (!failure.isEmpty()) {
        FetchFailed(failure);
        return;
    }
    const QUrl address = finished->Url();
    const QByteArray contentType = finished->Header("Content-Type");
    const QByteArray body = body_;
    body_.clear();
    DropTransfer();
    if (fetching_ == Fetching::Manifest) {
        ReadManifest(body, address, manifestKind_);
        return;
    }
    const MediaSniff::Media media = MediaSniff::Sniff(
        contentType, QByteArrayView(body).first(std::min(body.size(), MediaSniff::BytesToSniff)));
    if (media.Kind == MediaSniff::StreamKind::File) {
        TakeFile(address, media);
        return;
    }
    if (firstPage_)
        pageRead_ = address;
    if (media.IsStream())
        ReadManifest(body, address, media.Kind);
    else
        ReadPage(body, address, contentType);
}

QString PageReading::Unanswered(const Transfer* finished) {
    const TransferResult result = finished->Result();
    // A host that is not found, or silent, is the same for http; a refusal or a failed secure
    // connection may not be.
    if (firstPage_ && fetching_ == Fetching::Page && result.status == 0)
        unreachable_ = result.failure != TransferResult::Failure::HostNotFound &&
                       result.failure != TransferResult::Failure::TimedOut;
    return result.Words(finished->Url());
}

void PageReading::FetchFailed(const QString& text) {
    DropTransfer();
    if (fetching_ == Fetching::Manifest && fileCandidate_) {
        TakeFile(fileCandidate_->Address, {});
        return;
    }
    // A player page that cannot be had leaves the others to try; the page the user gave, or
    // the stream it names, fails the reading with its reason.
    if (fetching_ == Fetching::Page && !firstPage_) {
        NextPage();
        return;
    }
    oursDone_ = true;
    oursFailure_ = text;
    Settle();
}

void PageReading::ReadPage(const QByteArray& body, const QUrl& address,
                           const QByteArray& contentType) {
    const StandardsPage::Findings findings =
        StandardsPage::Read(PageText::DecodePage(body, contentType), address);
    const bool offersSomething = !findings.Candidates.isEmpty() || !findings.PlayerPages.isEmpty();
    if (firstPage_) {
        details_ = findings.Details;
        thumbnail_ = findings.Thumbnail;
        durationSeconds_ = findings.DurationSeconds;
    } else if (offersSomething) {
        // A frame without a video (comments, a form, an advert) tells nothing of the video.
        FillEmpty(details_, findings.Details);
        if (thumbnail_.isEmpty())
            thumbnail_ = findings.Thumbnail;
        if (durationSeconds_ == 0)
            durationSeconds_ = findings.DurationSeconds;
    }
    firstPage_ = false;
    blobSeen_ = blobSeen_ || findings.BlobSeen;
    if (!findings.Candidates.isEmpty()) {
        TakeCandidates(findings.Candidates);
        return;
    }
    if (level_ < StandardsPage::MaxEmbedLevels)
        for (const QUrl& player : findings.PlayerPages)
            queue_.append({player, level_ + 1});
    NextPage();
}

void PageReading::TakeCandidates(const QList<MediaCandidate>& candidates) {
    const MediaCandidate& best = candidates.first();
    // A preview loop is no choice beside the video itself.
    fileCandidates_.clear();
    for (const MediaCandidate& candidate : candidates)
        if (candidate.Kind == MediaSniff::StreamKind::File && (!candidate.Preview || best.Preview))
            fileCandidates_.append(candidate);
    if (best.Kind == MediaSniff::StreamKind::File) {
        const auto manifest =
            std::find_if(candidates.begin(), candidates.end(), [](const MediaCandidate& c) {
                return c.Kind != MediaSniff::StreamKind::File;
            });
        if (manifest == candidates.end()) {
            MediaSniff::Media media;
            media.Extension = best.Extension;
            media.AudioOnly = best.AudioOnly;
            fileCandidate_ = best;
            TakeFile(best.Address, media);
            return;
        }
        // The manifest may offer more than the single file: read it to know.
        fileCandidate_ = best;
        manifestKind_ = manifest->Kind;
        Fetch(manifest->Address, Fetching::Manifest);
        return;
    }
    fileCandidate_.reset();
    fileCandidates_.clear();
    manifestKind_ = best.Kind;
    Fetch(best.Address, Fetching::Manifest);
}

void PageReading::ReadManifest(const QByteArray& body, const QUrl& address,
                               MediaSniff::StreamKind kind) {
    // The answer's own bytes have the last word on what it is.
    const MediaSniff::Media media = MediaSniff::FromBytes(
        QByteArrayView(body).first(std::min(body.size(), MediaSniff::BytesToSniff)));
    if (media.Kind == MediaSniff::StreamKind::File) {
        TakeFile(address, media);
        return;
    }
    if (media.IsStream())
        kind = media.Kind;
    const bool hls = kind == MediaSniff::StreamKind::Hls;
    const Streams::Plan plan =
        hls ? HlsPlaylist::Read(body, address) : DashManifest::Read(body, address);
    if (!plan.Ok() || plan.tracks.isEmpty()) {
        if (fileCandidate_) {
            TakeFile(fileCandidate_->Address, {});
            return;
        }
        oursDone_ = true;
        oursRefused_ =
            plan.refusal == Streams::Refusal::Live || plan.refusal == Streams::Refusal::Drm;
        oursFailure_ =
            plan.Ok()
                ? Streams::RefusalText(
                      {{}, Streams::Refusal::Unreadable, QStringLiteral("it names no stream")},
                      address)
                : Streams::RefusalText(plan, address);
        Settle();
        return;
    }
    MediaOffer offer = OurOffer();
    offer.streams = StreamsOf(plan, address, hls ? MediaStream::Via::Hls : MediaStream::Via::Dash,
                              maxHeight_, offer.video, offer.audio);
    if (fileCandidate_) {
        const MediaStream& top = offer.streams.value(std::max(offer.video, 0));
        if (!MediaChoice::ManifestOffersMore(*fileCandidate_, top.height, top.bitsPerSecond)) {
            TakeFile(fileCandidate_->Address, {});
            return;
        }
    }
    OursFound(offer);
}

void PageReading::TakeFile(const QUrl& address, const MediaSniff::Media& media) {
    MediaOffer offer = OurOffer();
    if (fileCandidate_ && fileCandidate_->Address == address) {
        for (const MediaCandidate& declared : fileCandidates_)
            offer.streams.append(StreamOf(declared));
        if (!media.Extension.isEmpty())
            offer.streams.first().extension = media.Extension;
    } else {
        MediaStream stream;
        stream.address = address;
        stream.extension = media.Extension.isEmpty() ? MediaSniff::FromAddress(address).Extension
                                                     : media.Extension;
        stream.hasVideo = !media.AudioOnly;
        offer.streams = {stream};
    }
    offer.video = 0;
    offer.video = OfferPlan::Choose(offer, maxHeight_).video;
    OursFound(offer);
}

MediaOffer PageReading::OurOffer() const {
    MediaOffer offer;
    offer.asked = page_;
    offer.page = pageRead_;
    offer.details = details_;
    offer.thumbnail = thumbnail_;
    offer.durationSeconds = durationSeconds_;
    return offer;
}

QList<MediaStream> PageReading::StreamsOf(const Streams::Plan& plan, const QUrl& address,
                                          MediaStream::Via via, int maxHeight, int& video,
                                          int& audio) {
    // Best first: pictures before sound alone, then by height and bandwidth.
    QList<int> order(plan.tracks.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&plan](int a, int b) {
        const Streams::Track& x = plan.tracks[a];
        const Streams::Track& y = plan.tracks[b];
        if (x.kind != y.kind)
            return x.kind == Streams::TrackKind::Video;
        if (x.height != y.height)
            return x.height > y.height;
        return x.bandwidth > y.bandwidth;
    });
    QList<MediaStream> streams;
    for (const int index : order) {
        const Streams::Track& track = plan.tracks[index];
        MediaStream stream;
        stream.via = via;
        stream.address = address;
        stream.track = track;
        stream.hasVideo = track.kind == Streams::TrackKind::Video;
        // An HLS variant carries its sound unless it names renditions of its own; a DASH
        // representation is one or the other.
        stream.hasAudio = track.kind == Streams::TrackKind::Audio ||
                          (via == MediaStream::Via::Hls && track.audioGroup.isEmpty());
        stream.height = track.height;
        stream.codecs = track.codecs;
        stream.bitsPerSecond = track.bandwidth;
        streams.append(stream);
    }
    const Streams::Choice choice = Streams::Choose(plan, maxHeight);
    video = choice.video >= 0 ? int(order.indexOf(choice.video)) : -1;
    audio = choice.audio >= 0 ? int(order.indexOf(choice.audio)) : -1;
    if (video < 0) {
        // Sound alone.
        video = audio;
        audio = -1;
    }
    return streams;
}

MediaOffer PageReading::OfferOf(const YtDlpInfo& info, const QUrl& page, int maxHeight) {
    MediaOffer offer;
    offer.asked = page;
    offer.page = page;
    offer.details = info.Details;
    offer.thumbnail = info.Thumbnail;
    offer.durationSeconds = info.DurationSeconds;
    // yt-dlp lists the best last.
    const int count = int(info.Formats.size());
    for (int i = count - 1; i >= 0; --i)
        offer.streams.append(StreamOf(info.Formats[i]));
    const YtDlpChoice choice = info.ChooseDefault(maxHeight);
    offer.video = choice.Video >= 0 ? count - 1 - choice.Video : -1;
    offer.audio = choice.Audio >= 0 ? count - 1 - choice.Audio : -1;
    if (offer.video < 0) {
        offer.video = offer.audio;
        offer.audio = -1;
    }
    return offer;
}

// --- Settling the answer ---

void PageReading::OursFound(const MediaOffer& offer) {
    oursDone_ = true;
    ours_ = offer;
    Settle();
}

void PageReading::OursFoundNothing(const QString& why) {
    oursDone_ = true;
    oursFailure_ = why;
    Settle();
}

void PageReading::YtDlpRead(const YtDlpInfo& info) {
    ytDlpOffer_ = OfferOf(info, page_, maxHeight_);
    if (ytDlpOffer_.video < 0)
        ytDlp_ = YtDlpState::Failed;
    else
        ytDlp_ = info.FromSiteReader() ? YtDlpState::Site : YtDlpState::Generic;
    Settle();
}

void PageReading::YtDlpFailed(const QString& text) {
    ytDlp_ = YtDlpState::Failed;
    ytDlpFailure_ = text;
    Settle();
}

void PageReading::YtDlpUnavailable() {
    ytDlp_ = YtDlpState::Unavailable;
    Settle();
}

void PageReading::Settle() {
    if (!running_)
        return;
    if (ytDlp_ == YtDlpState::Site) {
        const MediaOffer offer = ytDlpOffer_;
        Finish();
        emit Offered(offer);
        return;
    }
    if (!oursDone_)
        return;
    if (ours_) {
        const MediaOffer offer = *ours_;
        Finish();
        emit Offered(offer);
        return;
    }
    // Ours read the stream and found it cannot be saved; yt-dlp's generic reader does not tell
    // (it offers a live manifest's first pieces as a whole video).
    if (oursRefused_) {
        const QString text = oursFailure_;
        Finish();
        emit Failed(text);
        return;
    }
    // Ours found nothing: yt-dlp's answer, whatever reader gave it, is all there may be.
    if (ytDlp_ == YtDlpState::Running) {
        StartYtDlp();
        return;
    }
    if (ytDlp_ == YtDlpState::Generic) {
        const MediaOffer offer = ytDlpOffer_;
        Finish();
        emit Offered(offer);
        return;
    }
    QString text = oursFailure_;
    if (text.isEmpty())
        text = TellsMore(ytDlpFailure_, page_)
                   ? ytDlpFailure_
                   : NoVideoText(page_, ytDlp_ == YtDlpState::Unavailable);
    Finish();
    emit Failed(text);
}

void PageReading::Finish() {
    Cancel();
}
