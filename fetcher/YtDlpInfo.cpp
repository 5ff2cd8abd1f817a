#include "YtDlpInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <tuple>

namespace {

constexpr int kMaxShortText = 1000;
constexpr int kMaxDescription = 100000;

// The deepest nesting of objects and arrays, counted outside strings; stops once past `limit`.
int NestingDepth(const QByteArray& json, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : json) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit)
                break;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

QString Text(const QJsonObject& object, const char* key, int maxChars = kMaxShortText) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isString())
        return value.toString().left(maxChars);
    return QString();
}

qint64 Whole(const QJsonObject& object, const char* key) {
    const double value = object.value(QLatin1String(key)).toDouble(0);
    // Beyond 2^53 a double no longer holds whole numbers, and no real count is that large.
    if (!(value > 0) || value > 9007199254740992.0)
        return 0;
    return qint64(value);
}

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QUrl WebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return IsWebAddress(url) ? url : QUrl();
}

YtDlpFormat::Transport TransportOf(const QString& protocol) {
    if (protocol == QLatin1String("http") || protocol == QLatin1String("https"))
        return YtDlpFormat::Transport::Http;
    if (protocol == QLatin1String("m3u8") || protocol == QLatin1String("m3u8_native"))
        return YtDlpFormat::Transport::Hls;
    if (protocol == QLatin1String("http_dash_segments"))
        return YtDlpFormat::Transport::Dash;
    return YtDlpFormat::Transport::Other;
}

// A header the site wants sent: a token for a name, a value without line breaks or other
// control characters, so that nothing can be smuggled into the request.
bool IsSendableHeader(const QString& name, const QString& value) {
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]{1,64}$"));
    if (!token.match(name).hasMatch() || value.size() > 8192)
        return false;
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() > 0xff)
            return false;
    return true;
}

QList<QPair<QByteArray, QByteArray>> HeadersOf(const QJsonObject& headers) {
    QList<QPair<QByteArray, QByteArray>> list;
    for (auto it = headers.begin(); it != headers.end() && list.size() < YtDlpInfo::MaxHeaders;
         ++it) {
        const QString value = it.value().toString();
        if (it.value().isString() && IsSendableHeader(it.key(), value))
            list.append({it.key().toLatin1(), value.toLatin1()});
    }
    return list;
}

// The fragments, or nothing when one of them lies outside http(s): such a stream is left to
// yt-dlp rather than fetched with a hole.
std::optional<QList<YtDlpFormat::Fragment>> FragmentsOf(const QJsonObject& format) {
    QList<YtDlpFormat::Fragment> fragments;
    const QJsonValue list = format.value(QLatin1String("fragments"));
    if (!list.isArray())
        return fragments;
    const QJsonArray array = list.toArray();
    if (array.size() > YtDlpInfo::MaxFragments)
        return std::nullopt;
    const QUrl base = WebAddress(Text(format, "fragment_base_url", 8192));
    for (const QJsonValue& entry : array) {
        const QJsonObject fragment = entry.toObject();
        QUrl address = WebAddress(Text(fragment, "url", 8192));
        const QString path = Text(fragment, "path", 8192);
        if (address.isEmpty() && !base.isEmpty() && !path.isEmpty())
            address = base.resolved(QUrl(path));
        if (!IsWebAddress(address))
            return std::nullopt;
        fragments.append({address, fragment.value(QLatin1String("duration")).toDouble(0)});
    }
    return fragments;
}

YtDlpFormat FormatOf(const QJsonObject& object) {
    YtDlpFormat format;
    format.FormatId = Text(object, "format_id", 200);
    format.Protocol = Text(object, "protocol", 100);
    format.Via = TransportOf(format.Protocol);
    format.Address = WebAddress(Text(object, "url", 65536));
    format.Extension = Text(object, "ext", 16);
    format.VideoCodec = Text(object, "vcodec", 100);
    format.AudioCodec = Text(object, "acodec", 100);
    format.HasVideo = format.VideoCodec != QLatin1String("none");
    format.HasAudio = format.AudioCodec != QLatin1String("none");
    format.Width = int(std::min<qint64>(Whole(object, "width"), 100000));
    format.Height = int(std::min<qint64>(Whole(object, "height"), 100000));
    format.ByteSize = Whole(object, "filesize");
    if (format.ByteSize == 0) {
        format.ByteSize = Whole(object, "filesize_approx");
        format.ByteSizeApproximate = format.ByteSize > 0;
    }
    // tbr is in kbit/s.
    const double kilobits = object.value(QLatin1String("tbr")).toDouble(0);
    if (kilobits > 0 && kilobits < 1e9)
        format.BitsPerSecond = qint64(kilobits * 1000);
    format.HttpHeaders = HeadersOf(object.value(QLatin1String("http_headers")).toObject());
    if (const auto fragments = FragmentsOf(object))
        format.Fragments = *fragments;
    else
        format.Via = YtDlpFormat::Transport::Other;
    return format;
}

// "20230304" as "2023-03-04"; anything else is no date.
QString UploadDateOf(const QString& text) {
    static const QRegularExpression date(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    const QRegularExpressionMatch match = date.match(text);
    if (!match.hasMatch())
        return QString();
    return match.captured(1) + QLatin1Char('-') + match.captured(2) + QLatin1Char('-') +
           match.captured(3);
}

QString CategoriesOf(const QJsonObject& info) {
    QStringList names;
    for (const QJsonValue& name : info.value(QLatin1String("categories")).toArray())
        if (name.isString() && names.size() < 20)
            names.append(name.toString().left(100));
    return names.join(QStringLiteral(", "));
}

QUrl ThumbnailOf(const QJsonObject& info) {
    const QUrl main = WebAddress(Text(info, "thumbnail", 8192));
    if (!main.isEmpty())
        return main;
    // yt-dlp lists the thumbnails from worst to best.
    const QJsonArray thumbnails = info.value(QLatin1String("thumbnails")).toArray();
    for (qsizetype i = thumbnails.size() - 1; i >= 0; --i) {
        const QUrl url = WebAddress(Text(thumbnails.at(i).toObject(), "url", 8192));
        if (!url.isEmpty())
            return url;
    }
    return QUrl();
}

PageText::VideoPage DetailsOf(const QJsonObject& info) {
    PageText::VideoPage details;
    details.VideoTitle = Text(info, "title");
    details.VideoCat = CategoriesOf(info);
    for (const char* key : {"uploader", "channel", "uploader_id"}) {
        details.UserID = Text(info, key);
        if (!details.UserID.isEmpty())
            break;
    }
    details.UploadDate = UploadDateOf(Text(info, "upload_date", 16));
    if (info.value(QLatin1String("view_count")).isDouble())
        details.ViewCount = QString::number(Whole(info, "view_count"));
    details.VideoDesc = Text(info, "description", kMaxDescription);
    return details;
}

// What ranks a picture: height, then bit rate, then size.
auto PictureRank(const YtDlpFormat& format) {
    return std::make_tuple(format.Height, format.BitsPerSecond, format.ByteSize);
}

auto SoundRank(const YtDlpFormat& format) {
    return std::make_tuple(format.BitsPerSecond, format.ByteSize);
}

// The index of the best format that `fits`, by `rank`; later wins ties. -1 when none fits.
template <typename Fits, typename Rank>
int Best(const QList<YtDlpFormat>& formats, Fits fits, Rank rank) {
    int best = -1;
    for (int i = 0; i < formats.size(); ++i)
        if (fits(formats[i]) && (best < 0 || !(rank(formats[i]) < rank(formats[best]))))
            best = i;
    return best;
}

} // namespace

bool YtDlpFormat::FetchedByUs() const {
    return Via != Transport::Other && !Address.isEmpty();
}

bool YtDlpInfo::FromSiteReader() const {
    return !Extractor.isEmpty() && Extractor.compare(QLatin1String("generic"), Qt::CaseInsensitive);
}

std::optional<YtDlpInfo> YtDlpInfo::Parse(const QByteArray& json) {
    if (json.size() > MaxJsonBytes || NestingDepth(json, MaxJsonDepth) > MaxJsonDepth)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    YtDlpInfo info;
    info.Extractor = Text(root, "extractor", 100);
    info.ExtractorKey = Text(root, "extractor_key", 100);
    info.Details = DetailsOf(root);
    info.Thumbnail = ThumbnailOf(root);
    // Clamped before it becomes a count: any length can be written, none past 50 years is real.
    const double duration = root.value(QLatin1String("duration")).toDouble(0);
    constexpr double longestSeconds = 50.0 * 365 * 86400;
    info.DurationSeconds = duration > 0 ? int(std::min(duration, longestSeconds) + 0.5) : 0;
    const QJsonValue formats = root.value(QLatin1String("formats"));
    if (formats.isArray()) {
        for (const QJsonValue& entry : formats.toArray()) {
            if (info.Formats.size() >= MaxFormats)
                break;
            if (entry.isObject())
                info.Formats.append(FormatOf(entry.toObject()));
        }
    } else if (root.contains(QLatin1String("url"))) {
        // A video of one format only: yt-dlp puts the format's fields on the video itself.
        info.Formats.append(FormatOf(root));
    }
    return info;
}

YtDlpChoice YtDlpInfo::ChooseDefault(int maxHeight, bool ourOnly) const {
    // What yt-dlp alone fetches has an address we did not take, or none.
    const auto usable = [ourOnly](const YtDlpFormat& f) {
        return f.FetchedByUs() || (!ourOnly && f.Via == YtDlpFormat::Transport::Other);
    };
    const auto fits = [maxHeight](const YtDlpFormat& f) {
        return maxHeight <= 0 || f.Height <= maxHeight;
    };
    bool anyFits = false;
    for (const YtDlpFormat& f : Formats)
        anyFits = anyFits || (f.HasVideo && usable(f) && fits(f));
    // Nothing fits under the limit: the lowest picture there is.
    int limit = maxHeight;
    if (!anyFits) {
        const int lowest = Best(
            Formats, [&](const YtDlpFormat& f) { return f.HasVideo && usable(f); },
            [](const YtDlpFormat& f) { return std::make_tuple(-f.Height); });
        limit = lowest < 0 ? 0 : Formats[lowest].Height;
    }
    const auto within = [limit](const YtDlpFormat& f) { return limit <= 0 || f.Height <= limit; };

    const int both = Best(
        Formats,
        [&](const YtDlpFormat& f) { return f.HasVideo && f.HasAudio && usable(f) && within(f); },
        PictureRank);
    const int picture = Best(
        Formats,
        [&](const YtDlpFormat& f) { return f.HasVideo && !f.HasAudio && usable(f) && within(f); },
        PictureRank);
    const int sound = Best(
        Formats, [&](const YtDlpFormat& f) { return !f.HasVideo && f.HasAudio && usable(f); },
        SoundRank);

    const bool pairWins = picture >= 0 && sound >= 0 &&
                          (both < 0 || PictureRank(Formats[both]) < PictureRank(Formats[picture]));
    if (pairWins)
        return {picture, sound};
    if (both >= 0)
        return {both, -1};
    if (picture >= 0)
        return {picture, -1};
    return {-1, sound};
}
