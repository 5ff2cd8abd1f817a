#include "OfferPlan.h"

#include "ByteSize.h"
#include "MediaSniff.h"

#include <QPair>
#include <QStringList>

namespace OfferPlan {

namespace {

bool IsSoundAlone(const MediaStream& stream) {
    return stream.hasAudio && !stream.hasVideo;
}

bool IsValid(const MediaOffer& offer, int index) {
    return index >= 0 && index < offer.streams.size();
}

// Streams are listed best first: the first stream of sound alone is the best.
int BestSound(const MediaOffer& offer) {
    if (IsValid(offer, offer.audio) && IsSoundAlone(offer.streams[offer.audio]))
        return offer.audio;
    for (int i = 0; i < offer.streams.size(); ++i)
        if (IsSoundAlone(offer.streams[i]))
            return i;
    return -1;
}

Choice WithSound(const MediaOffer& offer, int video) {
    const MediaStream& stream = offer.streams[video];
    return {video, stream.hasVideo && !stream.hasAudio ? BestSound(offer) : -1};
}

// A known media container's extension, in lower case; empty for anything else.
QString KnownContainer(const QString& extension) {
    const MediaSniff::Media media = MediaSniff::FromExtension(extension);
    return media.Kind == MediaSniff::StreamKind::File ? media.Extension : QString();
}

QString ContainerOfAddress(const QUrl& address) {
    const MediaSniff::Media media = MediaSniff::FromAddress(address);
    return media.Kind == MediaSniff::StreamKind::File ? media.Extension : QString();
}

enum class Family { Unknown, Mp4, WebM, Other };

// The family of a codec as RFC 6381 writes it ("avc1.64001f", "mp4a.40.2", "opus").
Family FamilyOfCodec(const QString& codec, bool& fitsBoth) {
    const QString name = codec.trimmed().toLower().section(QLatin1Char('.'), 0, 0);
    static const QStringList mp4 = {"avc1", "avc3", "hvc1", "hev1", "h264", "hevc",
                                    "mp4a", "mp3",  "ac-3", "ec-3", "aac"};
    static const QStringList webm = {"vp8", "vp9", "vp09", "opus", "vorbis"};
    fitsBoth = name == QLatin1String("av01");
    if (fitsBoth)
        return Family::WebM;
    if (mp4.contains(name))
        return Family::Mp4;
    if (webm.contains(name))
        return Family::WebM;
    return name.isEmpty() ? Family::Unknown : Family::Other;
}

Family FamilyOfContainer(const QString& container) {
    static const QStringList mp4 = {"mp4", "m4v", "m4a", "mov", "ts", "m2ts", "aac", "mp3"};
    if (mp4.contains(container))
        return Family::Mp4;
    if (container == QLatin1String("webm"))
        return Family::WebM;
    return container.isEmpty() ? Family::Unknown : Family::Other;
}

// Whether the stream's codecs (else its container) go into an MP4, and into a WebM.
struct Fits {
    bool mp4 = true;
    bool webm = true;
};

Fits FitsOf(const MediaStream& stream) {
    Fits fits;
    bool anyCodec = false;
    for (const QString& codec : stream.codecs.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool both = false;
        const Family family = FamilyOfCodec(codec, both);
        anyCodec = true;
        fits.mp4 &= both || family == Family::Mp4;
        fits.webm &= both || family == Family::WebM;
    }
    if (anyCodec)
        return fits;
    // Nothing says which codecs: the container they came in tells where they fit.
    const Family family = FamilyOfContainer(ArrivingContainer(stream));
    return {family == Family::Mp4 || family == Family::Unknown, family == Family::WebM};
}

bool IsTransportStream(const QString& container) {
    return container == QLatin1String("ts") || container == QLatin1String("m2ts");
}

} // namespace

Choice Choose(const MediaOffer& offer, int maxHeight) {
    const Choice given{IsValid(offer, offer.video) ? offer.video : -1,
                       IsValid(offer, offer.audio) ? offer.audio : -1};
    if (maxHeight == SoundOnly) {
        const int sound = BestSound(offer);
        if (sound >= 0)
            return {sound, -1};
        if (given.video < 0 || given.audio >= 0)
            return given;
        const MediaStream& stream = offer.streams[given.video];
        return {given.video, -1,
                stream.hasVideo && stream.hasAudio && stream.via != MediaStream::Via::YtDlp};
    }
    if (maxHeight <= 0 || given.video < 0 || offer.streams[given.video].height <= maxHeight)
        return given;
    // Streams are listed best first: of one height, the first.
    const auto height = [&offer](int i) {
        const MediaStream& stream = offer.streams[i];
        return stream.hasVideo && stream.height > 0 ? stream.height : -1;
    };
    const int video =
        Streams::WithinHeight(int(offer.streams.size()), maxHeight, height,
                              [&height](int a, int b) { return height(a) > height(b); });
    return video >= 0 ? WithSound(offer, video) : given;
}

Choice Pick(const MediaOffer& offer, int index) {
    if (!IsValid(offer, index))
        return Choose(offer, 0);
    return WithSound(offer, index);
}

QString ArrivingContainer(const MediaStream& stream) {
    if (const QString given = KnownContainer(stream.extension); !given.isEmpty())
        return given;
    if (stream.via == MediaStream::Via::File)
        return ContainerOfAddress(stream.address);
    if (stream.track &&
        (stream.via == MediaStream::Via::Hls || stream.via == MediaStream::Via::Dash)) {
        const Streams::Track& track = *stream.track;
        // Fragmented MP4 (or WebM) behind an initialisation segment.
        if (!track.inits.isEmpty())
            return ContainerOfAddress(track.inits.first().url) == QLatin1String("webm")
                       ? QStringLiteral("webm")
                       : QStringLiteral("mp4");
        if (!track.segments.isEmpty()) {
            const QString named = ContainerOfAddress(track.segments.first().url);
            if (!named.isEmpty())
                return named;
        }
        // HLS segments without a map are MPEG-TS; DASH's are MP4 files.
        return stream.via == MediaStream::Via::Hls ? QStringLiteral("ts") : QStringLiteral("mp4");
    }
    return QString();
}

Layout For(const MediaStream& video, const MediaStream* audio) {
    if (audio) {
        const Fits picture = FitsOf(video), sound = FitsOf(*audio);
        if (picture.webm && sound.webm && !(picture.mp4 && sound.mp4))
            return {QStringLiteral("webm"), true};
        if (picture.mp4 && sound.mp4)
            return {QStringLiteral("mp4"), true};
        return {QStringLiteral("mkv"), true};
    }
    const QString container = ArrivingContainer(video);
    if (IsTransportStream(container)) {
        // MPEG-TS plays as it is, but an MP4 is what players and editors take everywhere.
        if (FitsOf(video).mp4)
            return {video.hasVideo ? QStringLiteral("mp4") : QStringLiteral("m4a"), true};
        return {container, false};
    }
    if (container == QLatin1String("mp4") && !video.hasVideo)
        return {QStringLiteral("m4a"), false};
    if (!container.isEmpty())
        return {container, false};
    const Fits fits = FitsOf(video);
    if (fits.webm && !fits.mp4)
        return {QStringLiteral("webm"), false};
    return {video.hasVideo ? QStringLiteral("mp4") : QStringLiteral("m4a"), false};
}

bool IsOfAddress(const MediaOffer& offer, const QString& typed) {
    if (offer.asked.isEmpty())
        return false;
    const QUrl address = QUrl::fromUserInput(typed.trimmed());
    const auto same = [](const QUrl& url) {
        return url.adjusted(QUrl::RemoveScheme | QUrl::NormalizePathSegments |
                            QUrl::StripTrailingSlash);
    };
    return address.isValid() && same(address) == same(offer.asked);
}

Layout SoundOf(const MediaStream& stream) {
    static const QList<QPair<QString, QString>> soundFiles = {
        {"mp4a", "m4a"}, {"aac", "m4a"}, {"opus", "opus"}, {"vorbis", "ogg"}, {"mp3", "mp3"}};
    for (const QString& codec : stream.codecs.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = codec.trimmed().toLower().section(QLatin1Char('.'), 0, 0);
        for (const auto& [known, extension] : soundFiles)
            if (name == known)
                return {extension, true};
    }
    switch (FamilyOfContainer(ArrivingContainer(stream))) {
    case Family::Mp4:
        return {QStringLiteral("m4a"), true};
    case Family::WebM:
        // Opus or Vorbis: Ogg takes either.
        return {QStringLiteral("ogg"), true};
    default:
        return {QStringLiteral("mka"), true};
    }
}

QString Label(const MediaStream& stream) {
    QStringList parts;
    if (stream.hasVideo)
        parts << (stream.height > 0 ? QString::number(stream.height) + QLatin1Char('p')
                                    : QStringLiteral("Video"));
    else
        parts << QStringLiteral("Sound only");
    if (const QString codec =
            stream.codecs.section(QLatin1Char(','), 0, 0).section(QLatin1Char('.'), 0, 0).trimmed();
        !codec.isEmpty())
        parts << codec;
    if (stream.byteSize > 0)
        parts << modNabrix::FormatByteSize(stream.byteSize);
    return parts.join(QStringLiteral(" · "));
}

} // namespace OfferPlan
