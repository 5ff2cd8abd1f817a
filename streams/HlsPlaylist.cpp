#include "HlsPlaylist.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <cmath>

using namespace Streams;

namespace HlsPlaylist {

namespace {

// Past this a byte offset or length is no real file's.
constexpr qint64 MaxByte = qint64(1) << 50;
// A segment longer than a day is no segment.
constexpr double MaxSegmentSeconds = 86400;

using Attributes = QHash<QByteArray, QByteArray>;

// KEY=VALUE,KEY="quoted, with commas",...; quoted values lose their quotes.
Attributes ParseAttributes(const QByteArray& list) {
    Attributes attributes;
    qsizetype at = 0;
    while (at < list.size()) {
        const qsizetype equals = list.indexOf('=', at);
        if (equals < 0)
            break;
        const QByteArray name = list.mid(at, equals - at).trimmed();
        qsizetype end;
        QByteArray value;
        if (equals + 1 < list.size() && list[equals + 1] == '"') {
            const qsizetype close = list.indexOf('"', equals + 2);
            end = close < 0 ? list.size() : close + 1;
            value = list.mid(equals + 2, (close < 0 ? list.size() : close) - equals - 2);
            const qsizetype comma = list.indexOf(',', end);
            end = comma < 0 ? list.size() : comma;
        } else {
            const qsizetype comma = list.indexOf(',', equals + 1);
            end = comma < 0 ? list.size() : comma;
            value = list.mid(equals + 1, end - equals - 1).trimmed();
        }
        if (!name.isEmpty() && !attributes.contains(name))
            attributes.insert(name, value);
        at = end + 1;
    }
    return attributes;
}

qint64 ParseCount(const QByteArray& text, bool* ok) {
    const qint64 value = text.trimmed().toLongLong(ok);
    *ok = *ok && value >= 0 && value < MaxByte;
    return value;
}

// "0x0123...": up to 16 bytes, right-aligned in 16.
std::optional<QByteArray> ParseIv(const QByteArray& text) {
    if (!text.startsWith("0x") && !text.startsWith("0X"))
        return std::nullopt;
    QByteArray hex = text.mid(2);
    if (hex.isEmpty() || hex.size() > 32)
        return std::nullopt;
    for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    if (hex.size() % 2)
        hex.prepend('0');
    return QByteArray(16 - hex.size() / 2, '\0') + QByteArray::fromHex(hex);
}

QByteArray SequenceIv(qint64 sequence) {
    QByteArray iv(16, '\0');
    for (int i = 0; i < 8; ++i)
        iv[15 - i] = char((quint64(sequence) >> (8 * i)) & 0xff);
    return iv;
}

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool IsAudioCodec(const QByteArray& codec) {
    static const QList<QByteArray> audio = {"mp4a", "ac-3", "ec-3", "opus",
                                            "flac", "mp3",  "alac", "vorbis"};
    const QByteArray name = codec.trimmed().split('.').first().toLower();
    return audio.contains(name);
}

struct Reader {
    QUrl address;
    Plan plan;

    bool Fail(const QString& problem) {
        if (plan.refusal == Refusal::None) {
            plan.refusal = Refusal::Unreadable;
            plan.problem = problem;
        }
        return false;
    }
    void Drm() { plan.refusal = Refusal::Drm; }

    // An address in the playlist, resolved against the playlist's own.
    std::optional<QUrl> Resolve(const QByteArray& reference) {
        const QUrl url = address.resolved(QUrl(QString::fromUtf8(reference.trimmed())));
        if (url.scheme().compare(QLatin1String("skd"), Qt::CaseInsensitive) == 0) {
            Drm();
            return std::nullopt;
        }
        if (!IsWebAddress(url)) {
            Fail(QStringLiteral("it names an address that is not http or https"));
            return std::nullopt;
        }
        return url;
    }

    // A key the files cannot be read without: anything but plain AES-128 is copy protection.
    bool KeyIsDrm(const Attributes& key) const {
        const QByteArray method = key.value("METHOD");
        const QByteArray format = key.value("KEYFORMAT", "identity");
        return method.startsWith("SAMPLE-AES") || format != "identity" ||
               key.value("URI").toLower().startsWith("skd:");
    }
};

// A byte order mark may start the text; it is no part of the first line.
QByteArray WithoutBom(const QByteArray& text) {
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = WithoutBom(text).split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    return lines;
}

bool StartsAsPlaylist(Reader& reader, const QByteArray& text) {
    if (text.size() > MaxManifestBytes)
        return reader.Fail(QStringLiteral("it is too large"));
    if (!WithoutBom(text).startsWith("#EXTM3U"))
        return reader.Fail(QStringLiteral("it is not an HLS playlist"));
    return true;
}

Plan ReadMaster(Reader& reader, const QList<QByteArray>& lines) {
    QList<Track> renditions;
    for (qsizetype i = 0; i < lines.size() && reader.plan.Ok(); ++i) {
        const QByteArray& line = lines[i];
        if (line.startsWith("#EXT-X-SESSION-KEY:")) {
            if (reader.KeyIsDrm(ParseAttributes(line.mid(19))))
                reader.Drm();
        } else if (line.startsWith("#EXT-X-MEDIA:")) {
            const Attributes media = ParseAttributes(line.mid(13));
            // A rendition without its own playlist is carried in the variants.
            if (media.value("TYPE") != "AUDIO" || !media.contains("URI"))
                continue;
            const auto url = reader.Resolve(media.value("URI"));
            if (!url)
                break;
            Track track;
            track.kind = TrackKind::Audio;
            track.playlist = *url;
            track.audioGroup = QString::fromUtf8(media.value("GROUP-ID"));
            track.language = QString::fromUtf8(media.value("LANGUAGE"));
            track.preferred = media.value("DEFAULT") == "YES";
            renditions.append(track);
        } else if (line.startsWith("#EXT-X-STREAM-INF:")) {
            const Attributes variant = ParseAttributes(line.mid(18));
            qsizetype next = i + 1;
            while (next < lines.size() && (lines[next].isEmpty() || lines[next].startsWith('#')))
                ++next;
            if (next >= lines.size()) {
                reader.Fail(QStringLiteral("a variant has no address"));
                break;
            }
            i = next;
            const auto url = reader.Resolve(lines[next]);
            if (!url)
                break;
            Track track;
            track.playlist = *url;
            bool ok = false;
            track.bandwidth = ParseCount(variant.value("BANDWIDTH"), &ok);
            if (!ok)
                track.bandwidth = 0;
            const QList<QByteArray> size = variant.value("RESOLUTION").toLower().split('x');
            if (size.size() == 2) {
                const int width = size[0].toInt(), height = size[1].toInt();
                if (width > 0 && height > 0 && width <= 100000 && height <= 100000) {
                    track.width = width;
                    track.height = height;
                }
            }
            track.codecs = QString::fromUtf8(variant.value("CODECS"));
            track.audioGroup = QString::fromUtf8(variant.value("AUDIO"));
            const QList<QByteArray> codecs = variant.value("CODECS").split(',');
            if (track.height == 0 && !track.codecs.isEmpty() &&
                std::all_of(codecs.begin(), codecs.end(), IsAudioCodec))
                track.kind = TrackKind::Audio;
            reader.plan.tracks.append(track);
        }
        if (reader.plan.tracks.size() + renditions.size() > MaxTracks)
            reader.Fail(QStringLiteral("it offers too many streams"));
    }
    reader.plan.tracks.append(renditions);
    if (reader.plan.Ok() && reader.plan.tracks.isEmpty())
        reader.Fail(QStringLiteral("it offers no stream"));
    if (!reader.plan.Ok())
        reader.plan.tracks.clear();
    return reader.plan;
}

// The state of a media playlist between its lines: what applies to the next segment.
struct MediaState {
    qint64 sequence = 0;
    double time = 0;
    std::optional<double> duration;
    std::optional<qint64> rangeLength;
    std::optional<qint64> rangeOffset;
    // Where the last byte range ended, and in which file: an offset left out continues there.
    QUrl lastRangeUrl;
    qint64 lastRangeEnd = -1;
    int key = -1;
    std::optional<QByteArray> keyIv;
    int init = -1;
    bool discontinuity = false;
    bool ended = false;
};

// "<length>[@<offset>]".
bool ParseByteRange(const QByteArray& text, qint64& length, std::optional<qint64>& offset) {
    const QList<QByteArray> parts = text.split('@');
    bool ok = false;
    length = ParseCount(parts[0], &ok);
    if (!ok || parts.size() > 2)
        return false;
    offset.reset();
    if (parts.size() == 2) {
        offset = ParseCount(parts[1], &ok);
        if (!ok || *offset + length >= MaxByte)
            return false;
    }
    return true;
}

bool ReadKey(Reader& reader, Track& track, MediaState& state, const QByteArray& list) {
    const Attributes key = ParseAttributes(list);
    const QByteArray method = key.value("METHOD");
    if (method == "NONE") {
        state.key = -1;
        return true;
    }
    if (reader.KeyIsDrm(key)) {
        reader.Drm();
        return false;
    }
    if (method != "AES-128")
        return reader.Fail(QStringLiteral("it uses an unknown encryption"));
    if (!key.contains("URI"))
        return reader.Fail(QStringLiteral("a key has no address"));
    const auto url = reader.Resolve(key.value("URI"));
    if (!url)
        return false;
    state.keyIv.reset();
    if (key.contains("IV")) {
        state.keyIv = ParseIv(key.value("IV"));
        if (!state.keyIv)
            return reader.Fail(QStringLiteral("a key has an unreadable IV"));
    }
    // Each key is fetched once, however many segments name it.
    for (int k = 0; k < track.keys.size(); ++k) {
        if (track.keys[k].url == *url) {
            state.key = k;
            return true;
        }
    }
    if (track.keys.size() >= MaxKeys)
        return reader.Fail(QStringLiteral("it names too many keys"));
    track.keys.append(Key{*url});
    state.key = int(track.keys.size() - 1);
    return true;
}

bool ReadMap(Reader& reader, Track& track, MediaState& state, const QByteArray& list) {
    const Attributes map = ParseAttributes(list);
    const auto url = reader.Resolve(map.value("URI"));
    if (!url)
        return false;
    Segment init;
    init.url = *url;
    if (map.contains("BYTERANGE")) {
        std::optional<qint64> offset;
        if (!ParseByteRange(map.value("BYTERANGE"), init.length, offset))
            return reader.Fail(QStringLiteral("an initialisation segment has a bad byte range"));
        init.offset = offset.value_or(0);
    }
    if (state.key >= 0) {
        // No sequence number applies to it: its IV must be given.
        if (!state.keyIv)
            return reader.Fail(QStringLiteral("an encrypted initialisation segment has no IV"));
        init.keyIndex = state.key;
        init.iv = *state.keyIv;
    }
    if (track.inits.size() >= MaxSegments)
        return reader.Fail(QStringLiteral("it has too many segments"));
    track.inits.append(init);
    state.init = int(track.inits.size() - 1);
    return true;
}

bool ReadSegment(Reader& reader, Track& track, MediaState& state, const QByteArray& line) {
    if (!state.duration)
        return reader.Fail(QStringLiteral("a segment has no duration"));
    const auto url = reader.Resolve(line);
    if (!url)
        return false;
    if (track.segments.size() >= MaxSegments)
        return reader.Fail(QStringLiteral("it has too many segments"));
    Segment segment;
    segment.url = *url;
    segment.start = state.time;
    segment.duration = *state.duration;
    if (state.rangeLength) {
        segment.length = *state.rangeLength;
        if (state.rangeOffset)
            segment.offset = *state.rangeOffset;
        else if (state.lastRangeUrl == *url)
            segment.offset = state.lastRangeEnd;
        else
            return reader.Fail(QStringLiteral("a byte range has no start"));
        if (segment.offset + segment.length >= MaxByte)
            return reader.Fail(QStringLiteral("a byte range lies past any file"));
        state.lastRangeUrl = *url;
        state.lastRangeEnd = segment.offset + segment.length;
    }
    segment.keyIndex = state.key;
    if (state.key >= 0)
        segment.iv = state.keyIv ? *state.keyIv : SequenceIv(state.sequence);
    segment.initIndex = state.init;
    segment.discontinuity = state.discontinuity;
    track.segments.append(segment);

    state.time += *state.duration;
    ++state.sequence;
    state.duration.reset();
    state.rangeLength.reset();
    state.rangeOffset.reset();
    state.discontinuity = false;
    return true;
}

bool ReadMediaLine(Reader& reader, Track& track, MediaState& state, const QByteArray& line) {
    if (line.startsWith("#EXTINF:")) {
        bool ok = false;
        const double seconds = line.mid(8).split(',').first().trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > MaxSegmentSeconds)
            return reader.Fail(QStringLiteral("a segment has an unreadable duration"));
        state.duration = seconds;
    } else if (line.startsWith("#EXT-X-MEDIA-SEQUENCE:")) {
        bool ok = false;
        state.sequence = ParseCount(line.mid(22), &ok);
        if (!ok || !track.segments.isEmpty())
            return reader.Fail(QStringLiteral("its sequence number is unreadable"));
    } else if (line.startsWith("#EXT-X-BYTERANGE:")) {
        qint64 length = 0;
        if (!ParseByteRange(line.mid(17), length, state.rangeOffset))
            return reader.Fail(QStringLiteral("a segment has a bad byte range"));
        state.rangeLength = length;
    } else if (line == "#EXT-X-DISCONTINUITY") {
        state.discontinuity = true;
    } else if (line.startsWith("#EXT-X-KEY:")) {
        return ReadKey(reader, track, state, line.mid(11));
    } else if (line.startsWith("#EXT-X-MAP:")) {
        return ReadMap(reader, track, state, line.mid(11));
    } else if (line == "#EXT-X-ENDLIST") {
        state.ended = true;
    } else if (!line.isEmpty() && !line.startsWith('#')) {
        return ReadSegment(reader, track, state, line);
    }
    return true;
}

Plan ReadMediaLines(Reader& reader, const QList<QByteArray>& lines, const Track& declared) {
    Track track = declared;
    track.playlist.clear();
    track.segments.clear();
    track.inits.clear();
    track.keys.clear();
    MediaState state;
    for (const QByteArray& line : lines)
        if (!ReadMediaLine(reader, track, state, line))
            break;
    // Copy protection is named before anything else that is wrong.
    if (reader.plan.refusal == Refusal::Drm)
        return reader.plan;
    if (reader.plan.Ok() && !state.ended)
        reader.plan.refusal = Refusal::Live;
    if (reader.plan.Ok() && track.segments.isEmpty())
        reader.Fail(QStringLiteral("it has no segments"));
    if (!reader.plan.Ok())
        return reader.plan;
    track.duration = state.time;
    reader.plan.tracks = {track};
    return reader.plan;
}

} // namespace

Plan Read(const QByteArray& text, const QUrl& address) {
    Reader reader{address, {}};
    if (!StartsAsPlaylist(reader, text))
        return reader.plan;
    const QList<QByteArray> lines = Lines(text);
    const bool master = std::any_of(lines.begin(), lines.end(), [](const QByteArray& line) {
        return line.startsWith("#EXT-X-STREAM-INF:");
    });
    return master ? ReadMaster(reader, lines) : ReadMediaLines(reader, lines, Track());
}

Plan ReadMedia(const QByteArray& text, const QUrl& address, const Track& declared) {
    Reader reader{address, {}};
    if (!StartsAsPlaylist(reader, text))
        return reader.plan;
    return ReadMediaLines(reader, Lines(text), declared);
}

} // namespace HlsPlaylist
