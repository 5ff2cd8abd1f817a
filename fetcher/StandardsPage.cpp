#include "StandardsPage.h"

#include "HtmlScanner.h"
#include "JsonLdMedia.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

namespace StandardsPage {

namespace {

using MediaSniff::StreamKind;

// One og:video or og:audio with the properties that follow it.
struct OgMedia {
    bool AudioOnly = false;
    QString Url;
    QString SecureUrl;
    QString Type;
    int Width = 0;
    int Height = 0;
};

struct MediaElement {
    struct Source {
        QString Src;
        QString Type;
        int Height = 0;
    };
    bool AudioOnly = false;
    bool Preview = false;
    QString Src;
    QString Poster;
    QList<Source> Sources;
};

// How much of each kind one page may offer. Pages carry a handful; the bounds keep a hostile
// page's cost in proportion to its length (every new candidate is compared with those kept).
constexpr int MaxOffers = 64;

// A positive whole number as pages write sizes and seconds; 0 when it is not one.
int Dimension(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value > 0 && value < 100000000 ? value : 0;
}

// An <iframe> the page shows.
struct Frame {
    QString Src;
    bool PlayerLike = false;
};

// A width or height of at most one pixel ("0", "1", "1px"); a percentage is no such thing.
bool Tiny(QString value) {
    value = value.trimmed().toLower();
    if (value.endsWith(QLatin1String("px")))
        value.chop(2);
    bool ok = false;
    const double pixels = value.trimmed().toDouble(&ok);
    return ok && pixels <= 1;
}

// Frames no one is meant to see: the pixels and hidden frames of ads and trackers.
bool Unseen(const HtmlScanner::Tag& tag) {
    if (tag.Has(u"hidden"))
        return true;
    for (const QStringView side : {u"width", u"height"})
        if (tag.Has(side) && Tiny(tag.Value(side)))
            return true;
    for (const QString& declaration : tag.Value(u"style").split(QLatin1Char(';'))) {
        const qsizetype colon = declaration.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString property = declaration.left(colon).trimmed().toLower();
        QString value = declaration.mid(colon + 1).toLower();
        value.remove(QLatin1String("!important"));
        value = value.trimmed();
        if ((property == QLatin1String("display") && value == QLatin1String("none")) ||
            (property == QLatin1String("visibility") && value == QLatin1String("hidden")) ||
            ((property == QLatin1String("width") || property == QLatin1String("height")) &&
             Tiny(value)))
            return true;
    }
    return false;
}

// A frame that lets its content play full screen or start by itself, or whose address says
// so, is more likely the video's player than a frame of comments or a newsletter form.
bool LooksLikePlayer(const HtmlScanner::Tag& tag, const QString& src) {
    const QString allow = tag.Value(u"allow").toLower();
    const QString address = src.toLower();
    return tag.Has(u"allowfullscreen") || allow.contains(QLatin1String("autoplay")) ||
           allow.contains(QLatin1String("fullscreen")) ||
           address.contains(QLatin1String("embed")) || address.contains(QLatin1String("player")) ||
           address.contains(QLatin1String("video"));
}

// A picture height as players' attributes and file names write it: "720", "720p", "HD 720p";
// 0 when none is there or it is no height of a video.
int HeightIn(const QString& text) {
    static const QRegularExpression height(
        QStringLiteral("(?:^|[^0-9])([1-9][0-9]{2,3})p?(?![0-9a-oq-z])"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = height.match(text);
    const int value = match.hasMatch() ? match.captured(1).toInt() : 0;
    return value >= 100 && value <= 4320 ? value : 0;
}

// The height a <source> declares: players' own attributes, else the width of a media query
// ("(min-width: 1280px)"), taken as 16:9, else a height in its file name ("clip_720p.mp4").
int SourceHeight(const HtmlScanner::Tag& tag) {
    for (const QStringView name : {u"size", u"res", u"data-res", u"label", u"data-quality"})
        if (const int height = HeightIn(tag.Value(name)); height > 0)
            return height;
    static const QRegularExpression minWidth(QStringLiteral("min-width\\s*:\\s*([0-9]{3,4})px"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = minWidth.match(tag.Value(u"media")); match.hasMatch())
        return (match.captured(1).toInt() * 9 + 8) / 16;
    static const QRegularExpression inName(QStringLiteral("[^0-9]([1-9][0-9]{2,3})p(?![0-9a-z])"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString file =
        tag.Value(u"src").section(QLatin1Char('?'), 0, 0).section(QLatin1Char('/'), -1);
    if (const QRegularExpressionMatch match = inName.match(file); match.hasMatch())
        return HeightIn(match.captured(1));
    return 0;
}

// What one pass over the tags gathers, in the page's order.
class TagHarvest {
public:
    QString BaseHref;
    QString Title;
    QHash<QString, QString> Meta; // the first content of every other name
    QList<OgMedia> Og;
    QString TwitterStream;
    QString TwitterStreamType;
    QString TwitterPlayer;
    QList<MediaElement> Media;
    QList<QStringView> JsonLd;
    QList<Frame> Frames;

    void Take(const HtmlScanner::Tag& tag) {
        if (tag.Closing) {
            if (tag.Name == QLatin1String("video") || tag.Name == QLatin1String("audio"))
                InMedia = false;
            else if (tag.Name == QLatin1String("picture"))
                InPicture = false;
            return;
        }
        if (tag.Name == QLatin1String("meta"))
            TakeMeta(tag);
        else if (tag.Name == QLatin1String("video") || tag.Name == QLatin1String("audio"))
            TakeMediaElement(tag);
        else if (tag.Name == QLatin1String("source") && InMedia && !InPicture &&
                 Media.last().Sources.size() < MaxOffers)
            Media.last().Sources.append({tag.Value(u"src"), tag.Value(u"type"), SourceHeight(tag)});
        else if (tag.Name == QLatin1String("picture"))
            InPicture = true;
        else if (tag.Name == QLatin1String("iframe") && Frames.size() < MaxOffers)
            TakeFrame(tag);
        else if (tag.Name == QLatin1String("base") && BaseHref.isEmpty())
            BaseHref = tag.Value(u"href").trimmed();
        else if (tag.Name == QLatin1String("title") && Title.isEmpty())
            Title = HtmlScanner::DecodeEntities(tag.Text).simplified();
        else if (tag.Name == QLatin1String("script") && JsonLd.size() < MaxOffers &&
                 tag.Value(u"type").trimmed().toLower().startsWith(
                     QLatin1String("application/ld+json")))
            JsonLd.append(tag.Text);
    }

private:
    void TakeFrame(const HtmlScanner::Tag& tag) {
        if (Unseen(tag))
            return;
        // Frames that load late name their page in data-src until a script moves it to src.
        QString src = tag.Value(u"src");
        if (src.trimmed().isEmpty())
            src = tag.Value(u"data-src");
        Frames.append({src, LooksLikePlayer(tag, src)});
    }

    void TakeMediaElement(const HtmlScanner::Tag& tag) {
        if (Media.size() >= MaxOffers)
            return;
        MediaElement element;
        element.AudioOnly = tag.Name == QLatin1String("audio");
        element.Preview = tag.Has(u"muted") && tag.Has(u"autoplay") && tag.Has(u"loop");
        element.Src = tag.Value(u"src");
        element.Poster = tag.Value(u"poster");
        Media.append(element);
        InMedia = true;
    }

    void TakeMeta(const HtmlScanner::Tag& tag) {
        const QString content = tag.Value(u"content").trimmed();
        for (const QStringView key : {u"property", u"name", u"itemprop"})
            if (tag.Has(key))
                TakeMetaValue(tag.Value(key).trimmed().toLower(), content);
    }

    void TakeMetaValue(const QString& key, const QString& content) {
        if (key.startsWith(QLatin1String("og:video")) ||
            key.startsWith(QLatin1String("og:audio"))) {
            const bool audio = key.startsWith(QLatin1String("og:audio"));
            const QString property = key.mid(8);
            if (property.isEmpty() || property == QLatin1String(":url"))
                OgAddress(audio, false, content);
            else if (property == QLatin1String(":secure_url"))
                OgAddress(audio, true, content);
            else if (property == QLatin1String(":type"))
                FillOnce(CurrentOg(audio).Type, content);
            else if (property == QLatin1String(":width") && CurrentOg(audio).Width == 0)
                CurrentOg(audio).Width = Dimension(content);
            else if (property == QLatin1String(":height") && CurrentOg(audio).Height == 0)
                CurrentOg(audio).Height = Dimension(content);
            else if (!Meta.contains(key))
                Meta.insert(key, content);
        } else if (key == QLatin1String("twitter:player:stream")) {
            FillOnce(TwitterStream, content);
        } else if (key == QLatin1String("twitter:player:stream:content_type")) {
            FillOnce(TwitterStreamType, content);
        } else if (key == QLatin1String("twitter:player")) {
            FillOnce(TwitterPlayer, content);
        } else if (!Meta.contains(key)) {
            Meta.insert(key, content);
        }
    }

    static void FillOnce(QString& field, const QString& value) {
        if (field.isEmpty())
            field = value;
    }

    // og:video (or og:video:url) starts a new video unless the current one still lacks that
    // address; the same for og:audio and for secure_url.
    void OgAddress(bool audio, bool secure, const QString& address) {
        int& current = audio ? CurrentOgAudio : CurrentOgVideo;
        if (current < 0 || !(secure ? Og[current].SecureUrl : Og[current].Url).isEmpty()) {
            if (Og.size() >= MaxOffers)
                return;
            Og.append(OgMedia{audio, {}, {}, {}, 0, 0});
            current = int(Og.size() - 1);
        }
        (secure ? Og[current].SecureUrl : Og[current].Url) = address;
    }

    OgMedia& CurrentOg(bool audio) {
        int& current = audio ? CurrentOgAudio : CurrentOgVideo;
        if (current < 0) {
            Og.append(OgMedia{audio, {}, {}, {}, 0, 0});
            current = int(Og.size() - 1);
        }
        return Og[current];
    }

    bool InMedia = false;
    bool InPicture = false;
    int CurrentOgVideo = -1;
    int CurrentOgAudio = -1;
};

// What an address with its declared type is: a stream, a page that holds the player, or
// neither (a Flash player, a picture).
enum class Verdict { Stream, PlayerPage, Neither };

Verdict Judge(const QUrl& address, const QString& declaredType, bool surelyMedia,
              MediaSniff::Media& media) {
    media = MediaSniff::FromAddress(address);
    if (media.IsStream())
        return Verdict::Stream;
    const QString type = declaredType.trimmed().toLower();
    if (!type.isEmpty()) {
        media = MediaSniff::FromContentType(type.toLatin1());
        if (media.IsStream())
            return Verdict::Stream;
        if (type.startsWith(QLatin1String("text/html")) ||
            type.startsWith(QLatin1String("application/xhtml+xml")))
            return Verdict::PlayerPage;
        if (!surelyMedia)
            return Verdict::Neither;
    }
    if (!surelyMedia)
        return Verdict::PlayerPage; // its answer will tell
    media = {StreamKind::File, QString(), false};
    return Verdict::Stream;
}

void Merge(MediaCandidate& kept, const MediaCandidate& other) {
    kept.Preview = kept.Preview && other.Preview;
    kept.AudioOnly = kept.AudioOnly && other.AudioOnly;
    if (kept.Extension.isEmpty()) {
        kept.Extension = other.Extension;
        kept.Kind = other.Kind;
    }
    if (kept.DeclaredType.isEmpty())
        kept.DeclaredType = other.DeclaredType;
    kept.Width = std::max(kept.Width, other.Width);
    kept.Height = std::max(kept.Height, other.Height);
    kept.Bitrate = std::max(kept.Bitrate, other.Bitrate);
    kept.ByteSize = std::max(kept.ByteSize, other.ByteSize);
    kept.DurationSeconds = std::max(kept.DurationSeconds, other.DurationSeconds);
}

// Gathers the candidates and player pages, resolving and judging each address once.
class Gathering {
public:
    Gathering(const QUrl& base, const QUrl& page)
        : Base(base), Page(page.adjusted(QUrl::RemoveFragment)) {}

    // Adds an address the page offers; `details` carries the declared values.
    void Offer(const QString& text, const QString& declaredType, bool surelyMedia,
               MediaCandidate details) {
        const QUrl address = Followable(text, Base, Out.BlobSeen);
        if (address.isEmpty())
            return;
        MediaSniff::Media media;
        switch (Judge(address, declaredType, surelyMedia, media)) {
        case Verdict::Stream:
            details.Address = address;
            details.Kind = media.Kind;
            details.Extension = media.Extension;
            details.DeclaredType = declaredType.trimmed();
            details.AudioOnly = details.AudioOnly || media.AudioOnly;
            AddCandidate(details);
            break;
        case Verdict::PlayerPage:
            OfferPlayerPage(address);
            break;
        case Verdict::Neither:
            break;
        }
    }

    void OfferPlayerPage(const QUrl& address) {
        if (address.adjusted(QUrl::RemoveFragment) != Page && Out.PlayerPages.size() < MaxOffers &&
            !Out.PlayerPages.contains(address))
            Out.PlayerPages.append(address);
    }

    Findings Out;
    QUrl Base;

private:
    void AddCandidate(const MediaCandidate& candidate) {
        for (MediaCandidate& kept : Out.Candidates)
            if (kept.Address == candidate.Address) {
                Merge(kept, candidate);
                return;
            }
        if (Out.Candidates.size() < MaxOffers)
            Out.Candidates.append(candidate);
    }

    QUrl Page;
};

MediaCandidate Declared(MediaCandidate::Origin from, bool audioOnly, int width = 0,
                        int height = 0) {
    MediaCandidate candidate;
    candidate.From = from;
    candidate.AudioOnly = audioOnly;
    candidate.Width = width;
    candidate.Height = height;
    return candidate;
}

QString FirstOf(std::initializer_list<QString> texts) {
    for (const QString& text : texts)
        if (!text.trimmed().isEmpty())
            return text.trimmed();
    return QString();
}

// The date of an ISO 8601 date and time ("2024-03-01T10:00:00Z" gives "2024-03-01").
QString DateOnly(const QString& text) {
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (moment.isValid())
        return moment.date().toString(Qt::ISODate);
    const QDate date = QDate::fromString(text.left(10), Qt::ISODate);
    return date.isValid() ? date.toString(Qt::ISODate) : text;
}

void ReadDetails(const TagHarvest& tags, const JsonLdMedia::Findings& jsonLd,
                 Gathering& gathering) {
    const JsonLdMedia::Media* main = nullptr;
    for (const JsonLdMedia::Media& media : jsonLd.Items)
        if (!media.ContentUrl.isEmpty() || !media.EmbedUrl.isEmpty()) {
            main = &media;
            break;
        }
    if (!main && !jsonLd.Items.isEmpty())
        main = &jsonLd.Items.first();
    const JsonLdMedia::Media none;
    const JsonLdMedia::Media& video = main ? *main : none;
    const auto meta = [&tags](const char* key) { return tags.Meta.value(QLatin1String(key)); };

    PageText::VideoPage& details = gathering.Out.Details;
    details.VideoTitle =
        FirstOf({meta("og:title"), video.Name, meta("twitter:title"), tags.Title}).simplified();
    details.VideoCat = FirstOf({video.Genre, meta("article:section")});
    details.UserID = FirstOf(
        {video.Author, jsonLd.Author, meta("author"), meta("og:site_name"), jsonLd.Publisher});
    details.UploadDate =
        DateOnly(FirstOf({video.UploadDate, meta("article:published_time"),
                          meta("og:video:release_date"), meta("video:release_date")}));
    details.ViewCount = video.Views >= 0 ? QString::number(video.Views) : QString();
    details.VideoDesc = FirstOf({meta("og:description"), video.Description,
                                 meta("twitter:description"), meta("description")});

    QString poster;
    for (const MediaElement& element : tags.Media)
        if (poster.isEmpty())
            poster = element.Poster;
    bool ignored = false;
    for (const QString& thumbnail :
         {meta("og:image"), meta("og:image:url"), meta("og:image:secure_url"), video.Thumbnail,
          meta("twitter:image"), meta("twitter:image:src"), poster}) {
        gathering.Out.Thumbnail = Followable(thumbnail, gathering.Base, ignored);
        if (!gathering.Out.Thumbnail.isEmpty())
            break;
    }
    // Open Graph gives whole seconds.
    gathering.Out.DurationSeconds =
        video.DurationSeconds > 0
            ? video.DurationSeconds
            : Dimension(FirstOf({meta("og:video:duration"), meta("video:duration")}));
}

} // namespace

QUrl Followable(const QString& text, const QUrl& base, bool& blobSeen) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QUrl();
    const QUrl given(trimmed);
    if (!given.isValid())
        return QUrl();
    const QUrl address = given.isRelative() ? base.resolved(given) : given;
    const QString scheme = address.scheme().toLower();
    if (scheme == QLatin1String("blob"))
        blobSeen = true;
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        address.host().isEmpty())
        return QUrl();
    return address;
}

Findings Read(const QString& html, const QUrl& pageAddress) {
    const QStringView text = QStringView(html).first(std::min(html.size(), MaxPageChars));
    TagHarvest tags;
    HtmlScanner scanner(text);
    HtmlScanner::Tag tag;
    while (scanner.Next(tag))
        tags.Take(tag);

    bool ignored = false;
    const QUrl base = Followable(tags.BaseHref, pageAddress, ignored);
    Gathering gathering(base.isEmpty() ? pageAddress : base, pageAddress);

    JsonLdMedia::Findings jsonLd;
    for (const QStringView block : tags.JsonLd)
        JsonLdMedia::Read(block, jsonLd);
    ReadDetails(tags, jsonLd, gathering);

    using Origin = MediaCandidate::Origin;
    for (const JsonLdMedia::Media& media : jsonLd.Items) {
        MediaCandidate declared =
            Declared(Origin::JsonLd, media.AudioOnly, media.Width, media.Height);
        declared.Bitrate = media.Bitrate;
        declared.ByteSize = media.ByteSize;
        declared.DurationSeconds = media.DurationSeconds;
        const QString type =
            media.EncodingFormat.contains(QLatin1Char('/')) ? media.EncodingFormat : QString();
        gathering.Offer(media.ContentUrl, type, true, declared);
        if (media.ContentUrl.isEmpty())
            gathering.Offer(media.EmbedUrl, QStringLiteral("text/html"), false, declared);
    }
    for (const OgMedia& og : tags.Og) {
        MediaCandidate declared = Declared(Origin::OpenGraph, og.AudioOnly, og.Width, og.Height);
        declared.DurationSeconds = gathering.Out.DurationSeconds;
        const QUrl secure = Followable(og.SecureUrl, gathering.Base, gathering.Out.BlobSeen);
        gathering.Offer(secure.isEmpty() ? og.Url : og.SecureUrl, og.Type, false, declared);
    }
    gathering.Offer(tags.TwitterStream, tags.TwitterStreamType, true,
                    Declared(Origin::TwitterCard, false));
    for (const MediaElement& element : tags.Media) {
        MediaCandidate declared = Declared(Origin::Html5, element.AudioOnly);
        declared.Preview = element.Preview;
        gathering.Offer(element.Src, QString(), true, declared);
        for (const MediaElement::Source& source : element.Sources) {
            MediaCandidate sourceDeclared = declared;
            sourceDeclared.Height = source.Height;
            gathering.Offer(source.Src, source.Type, true, sourceDeclared);
        }
    }
    bool blob = false;
    const QUrl player = Followable(tags.TwitterPlayer, gathering.Base, blob);
    if (!player.isEmpty())
        gathering.OfferPlayerPage(player);
    // Frames are read like players the page names, after them; those that look like a player
    // first, so that the reads a page is allowed go to them.
    for (const bool playerLike : {true, false})
        for (const Frame& frame : tags.Frames)
            if (frame.PlayerLike == playerLike)
                gathering.Offer(frame.Src, QString(), false, Declared(Origin::Html5, false));

    Findings findings = gathering.Out;
    // An address the page also declares as a stream needs no reading as a page.
    for (const MediaCandidate& candidate : findings.Candidates)
        findings.PlayerPages.removeAll(candidate.Address);
    findings.Candidates = MediaChoice::Ranked(findings.Candidates);
    return findings;
}

} // namespace StandardsPage
