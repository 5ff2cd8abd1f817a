#include "DashManifest.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cmath>
#include <memory>

using namespace Streams;

namespace DashManifest {

namespace {

constexpr int MaxElements = 200000;
constexpr int MaxDepth = 32;
// A presentation longer than a week is no file to save.
constexpr double MaxSeconds = 7 * 86400.0;

// The manifest as a small tree: element names without their namespace, attributes, text.
struct Element {
    QString name;
    QHash<QString, QString> attributes;
    QString text;
    QList<std::shared_ptr<Element>> children;

    QString Attribute(const QString& key, const QString& fallback = QString()) const {
        return attributes.value(key, fallback);
    }
    const Element* Child(const QString& childName) const {
        for (const auto& child : children)
            if (child->name == childName)
                return child.get();
        return nullptr;
    }
    QList<const Element*> Children(const QString& childName) const {
        QList<const Element*> found;
        for (const auto& child : children)
            if (child->name == childName)
                found.append(child.get());
        return found;
    }
    bool Contains(const QString& descendant) const {
        for (const auto& child : children)
            if (child->name == descendant || child->Contains(descendant))
                return true;
        return false;
    }
};

std::shared_ptr<Element> ParseTree(const QByteArray& text, QString& problem) {
    QXmlStreamReader xml(text);
    std::shared_ptr<Element> root;
    QList<Element*> open;
    int count = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++count > MaxElements || open.size() >= MaxDepth) {
                problem = QStringLiteral("it is too large");
                return nullptr;
            }
            auto element = std::make_shared<Element>();
            element->name = xml.name().toString();
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                element->attributes.insert(attribute.name().toString(),
                                           attribute.value().toString());
            if (open.isEmpty()) {
                if (root) {
                    problem = QStringLiteral("it is no manifest");
                    return nullptr;
                }
                root = element;
            } else {
                open.last()->children.append(element);
            }
            open.append(element.get());
        } else if (token == QXmlStreamReader::EndElement) {
            open.removeLast();
        } else if (token == QXmlStreamReader::Characters && !open.isEmpty()) {
            open.last()->text += xml.text();
        }
    }
    if (xml.hasError() || !root) {
        problem = QStringLiteral("it is no manifest");
        return nullptr;
    }
    return root;
}

struct Reader {
    Plan plan;

    bool Fail(const QString& problem) {
        if (plan.refusal == Refusal::None) {
            plan.refusal = Refusal::Unreadable;
            plan.problem = problem;
        }
        return false;
    }
};

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The base of an element: its first BaseURL resolved against its parent's base.
QUrl BaseOf(const Element& element, const QUrl& parentBase) {
    const Element* base = element.Child(QStringLiteral("BaseURL"));
    return base ? parentBase.resolved(QUrl(base->text.trimmed())) : parentBase;
}

qint64 ReadCount(const QString& text, qint64 fallback, bool& ok) {
    if (text.isEmpty())
        return fallback;
    bool read = false;
    const qint64 value = text.trimmed().toLongLong(&read);
    if (!read || value < 0 || value > (qint64(1) << 53))
        ok = false;
    return read ? value : fallback;
}

// The segment information of one kind (SegmentTemplate, SegmentList, SegmentBase) as it applies
// to a representation: the attributes of the levels above, overridden by those below, and the
// children of the lowest level that has them.
struct SegmentInfo {
    bool present = false;
    QHash<QString, QString> attributes;
    QHash<QString, const Element*> children;
};

SegmentInfo MergedInfo(const QString& kind, const QList<const Element*>& levels) {
    SegmentInfo info;
    for (const Element* level : levels) {
        const Element* element = level->Child(kind);
        if (!element)
            continue;
        info.present = true;
        for (auto it = element->attributes.begin(); it != element->attributes.end(); ++it)
            info.attributes.insert(it.key(), it.value());
        for (const auto& child : element->children)
            info.children.insert(child->name, child.get());
    }
    return info;
}

// "$Number%05d$" and the other identifiers of a template; nullopt for an unknown one.
std::optional<QString> Expand(const QString& pattern, const QString& representationId,
                              qint64 bandwidth, qint64 number, qint64 time) {
    static const QRegularExpression identifier(
        QStringLiteral("\\$(RepresentationID|Number|Bandwidth|Time|)(%0([0-9]{1,2})d)?\\$"));
    QString result;
    qsizetype at = 0;
    while (at < pattern.size()) {
        const qsizetype dollar = pattern.indexOf(QLatin1Char('$'), at);
        if (dollar < 0) {
            result += pattern.mid(at);
            break;
        }
        result += pattern.mid(at, dollar - at);
        const QRegularExpressionMatch match =
            identifier.match(pattern, dollar, QRegularExpression::NormalMatch,
                             QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch())
            return std::nullopt;
        const QString name = match.captured(1);
        const int width = match.captured(3).isEmpty() ? 1 : match.captured(3).toInt();
        if (name.isEmpty()) {
            result += QLatin1Char('$');
        } else if (name == QLatin1String("RepresentationID")) {
            if (match.hasCaptured(2))
                return std::nullopt;
            result += representationId;
        } else {
            const qint64 value = name == QLatin1String("Number")      ? number
                                 : name == QLatin1String("Bandwidth") ? bandwidth
                                                                      : time;
            result += QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
        }
        at = match.capturedEnd(0);
    }
    return result;
}

struct Context {
    QUrl base;
    QString id;
    qint64 bandwidth = 0;
    double periodSeconds = 0;
};

bool AddSegment(Reader& reader, Track& track, Segment segment) {
    if (track.segments.size() >= MaxSegments)
        return reader.Fail(QStringLiteral("it has too many segments"));
    if (!IsWebAddress(segment.url))
        return reader.Fail(QStringLiteral("it names an address that is not http or https"));
    track.segments.append(segment);
    return true;
}

std::optional<QUrl> TemplateUrl(Reader& reader, const Context& context, const QString& pattern,
                                qint64 number, qint64 time) {
    const auto expanded = Expand(pattern, context.id, context.bandwidth, number, time);
    if (!expanded) {
        reader.Fail(QStringLiteral("a segment address template is unreadable"));
        return std::nullopt;
    }
    return context.base.resolved(QUrl(*expanded));
}

bool ReadTemplate(Reader& reader, Track& track, const SegmentInfo& info, const Context& context) {
    bool ok = true;
    const qint64 timescale = ReadCount(info.attributes.value("timescale"), 1, ok);
    const qint64 startNumber = ReadCount(info.attributes.value("startNumber"), 1, ok);
    const qint64 offset = ReadCount(info.attributes.value("presentationTimeOffset"), 0, ok);
    const qint64 fixed = ReadCount(info.attributes.value("duration"), 0, ok);
    const QString media = info.attributes.value("media");
    if (!ok || timescale <= 0 || media.isEmpty())
        return reader.Fail(QStringLiteral("a segment template is unreadable"));
    const QString initPattern = info.attributes.value("initialization");
    if (!initPattern.isEmpty()) {
        const auto url = TemplateUrl(reader, context, initPattern, startNumber, 0);
        if (!url || !IsWebAddress(*url))
            return reader.Fail(QStringLiteral("an initialisation address is unreadable"));
        Segment init;
        init.url = *url;
        track.inits.append(init);
    }
    const int initIndex = initPattern.isEmpty() ? -1 : 0;
    const auto add = [&](qint64 number, qint64 time, qint64 duration) {
        const auto url = TemplateUrl(reader, context, media, number, time);
        if (!url)
            return false;
        Segment segment;
        segment.url = *url;
        segment.start = double(time - offset) / double(timescale);
        segment.duration = double(duration) / double(timescale);
        segment.initIndex = initIndex;
        return AddSegment(reader, track, segment);
    };
    const qint64 periodEnd = qint64(context.periodSeconds * double(timescale)) + offset;
    if (const Element* timeline = info.children.value(QStringLiteral("SegmentTimeline"))) {
        const QList<const Element*> entries = timeline->Children(QStringLiteral("S"));
        qint64 number = startNumber;
        qint64 time = offset;
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const Element& entry = *entries[i];
            time = ReadCount(entry.Attribute("t"), time, ok);
            const qint64 duration = ReadCount(entry.Attribute("d"), 0, ok);
            bool repeatOk = false;
            qint64 repeat = entry.Attribute("r", "0").toLongLong(&repeatOk);
            if (!ok || !repeatOk || duration <= 0 || repeat < -1 || repeat > MaxSegments)
                return reader.Fail(QStringLiteral("a segment timeline is unreadable"));
            if (repeat == -1) {
                // Up to the next entry's start, or to the end of the period.
                bool nextOk = true;
                const qint64 until = i + 1 < entries.size()
                                         ? ReadCount(entries[i + 1]->Attribute("t"), -1, nextOk)
                                         : periodEnd;
                if (until <= time || (until - time) / duration > MaxSegments)
                    return reader.Fail(QStringLiteral("a segment timeline is unreadable"));
                repeat = (until - time + duration - 1) / duration - 1;
            }
            for (qint64 r = 0; r <= repeat; ++r) {
                if (!add(number++, time, duration))
                    return false;
                time += duration;
            }
        }
    } else {
        if (fixed <= 0 || context.periodSeconds <= 0)
            return reader.Fail(QStringLiteral("the segments' duration is unknown"));
        const double count = std::ceil(context.periodSeconds * double(timescale) / double(fixed));
        if (count > MaxSegments)
            return reader.Fail(QStringLiteral("it has too many segments"));
        for (qint64 i = 0; i < qint64(count); ++i)
            if (!add(startNumber + i, offset + i * fixed, fixed))
                return false;
    }
    return true;
}

// "first-last" of a range attribute into the segment.
bool ReadRange(const QString& text, Segment& segment) {
    if (text.isEmpty())
        return true;
    const QStringList bounds = text.split(QLatin1Char('-'));
    bool firstOk = false, lastOk = false;
    const qint64 first = bounds.value(0).toLongLong(&firstOk);
    const qint64 last = bounds.value(1).toLongLong(&lastOk);
    if (bounds.size() != 2 || !firstOk || !lastOk || first < 0 || last < first ||
        last >= (qint64(1) << 50))
        return false;
    segment.offset = first;
    segment.length = last - first + 1;
    return true;
}

bool ReadList(Reader& reader, Track& track, const QList<const Element*>& levels,
              const Context& context) {
    // The list itself is not merged: the lowest level that has one gives its segments.
    const Element* list = nullptr;
    for (const Element* level : levels)
        if (const Element* found = level->Child(QStringLiteral("SegmentList")))
            list = found;
    bool ok = true;
    const qint64 timescale = ReadCount(list->Attribute("timescale"), 1, ok);
    const qint64 fixed = ReadCount(list->Attribute("duration"), 0, ok);
    if (!ok || timescale <= 0)
        return reader.Fail(QStringLiteral("a segment list is unreadable"));
    if (const Element* initElement = list->Child(QStringLiteral("Initialization"))) {
        Segment init;
        const QString source = initElement->Attribute("sourceURL");
        init.url = source.isEmpty() ? context.base : context.base.resolved(QUrl(source));
        if (!ReadRange(initElement->Attribute("range"), init) || !IsWebAddress(init.url))
            return reader.Fail(QStringLiteral("an initialisation segment is unreadable"));
        track.inits.append(init);
    }
    const QList<const Element*> entries = list->Children(QStringLiteral("SegmentURL"));
    if (entries.isEmpty())
        return reader.Fail(QStringLiteral("a segment list is empty"));
    const double each = fixed > 0 ? double(fixed) / double(timescale)
                                  : context.periodSeconds / double(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Segment segment;
        const QString media = entries[i]->Attribute("media");
        segment.url = media.isEmpty() ? context.base : context.base.resolved(QUrl(media));
        segment.start = double(i) * each;
        segment.duration = each;
        segment.initIndex = track.inits.isEmpty() ? -1 : 0;
        if (!ReadRange(entries[i]->Attribute("mediaRange"), segment))
            return reader.Fail(QStringLiteral("a segment's byte range is unreadable"));
        if (!AddSegment(reader, track, segment))
            return false;
    }
    return true;
}

std::optional<TrackKind> KindOf(const Element& set, const Element& representation) {
    const QString type = set.Attribute("contentType");
    const QString mime = representation.Attribute("mimeType", set.Attribute("mimeType"));
    if (type == QLatin1String("video") || mime.startsWith(QLatin1String("video/")))
        return TrackKind::Video;
    if (type == QLatin1String("audio") || mime.startsWith(QLatin1String("audio/")))
        return TrackKind::Audio;
    return std::nullopt;
}

bool ReadRepresentation(Reader& reader, const Element& period, const Element& set,
                        const Element& representation, const Context& setContext) {
    const auto kind = KindOf(set, representation);
    if (!kind)
        return true; // subtitles, thumbnails: not part of the video
    Track track;
    track.kind = *kind;
    bool ok = true;
    track.width = int(ReadCount(representation.Attribute("width", set.Attribute("width")), 0, ok));
    track.height =
        int(ReadCount(representation.Attribute("height", set.Attribute("height")), 0, ok));
    track.bandwidth = ReadCount(representation.Attribute("bandwidth"), 0, ok);
    if (!ok || track.width > 100000 || track.height > 100000)
        return reader.Fail(QStringLiteral("a representation is unreadable"));
    track.codecs = representation.Attribute("codecs", set.Attribute("codecs"));
    track.language = set.Attribute("lang");
    track.duration = setContext.periodSeconds;

    Context context = setContext;
    context.base = BaseOf(representation, setContext.base);
    context.id = representation.Attribute("id");
    context.bandwidth = track.bandwidth;
    const QList<const Element*> levels = {&period, &set, &representation};
    const SegmentInfo templateInfo = MergedInfo(QStringLiteral("SegmentTemplate"), levels);
    bool read;
    if (templateInfo.present) {
        read = ReadTemplate(reader, track, templateInfo, context);
    } else if (MergedInfo(QStringLiteral("SegmentList"), levels).present) {
        read = ReadList(reader, track, levels, context);
    } else {
        // SegmentBase, or a BaseURL alone: the representation is one file.
        Segment whole;
        whole.url = context.base;
        whole.duration = context.periodSeconds;
        read = AddSegment(reader, track, whole);
    }
    if (!read)
        return false;
    if (reader.plan.tracks.size() >= MaxTracks)
        return reader.Fail(QStringLiteral("it offers too many streams"));
    reader.plan.tracks.append(track);
    return true;
}

void ReadManifest(Reader& reader, const Element& mpd, const QUrl& address) {
    if (mpd.name != QLatin1String("MPD")) {
        reader.Fail(QStringLiteral("it is no manifest"));
        return;
    }
    // Copy protection is named before anything else that is wrong.
    if (mpd.Contains(QStringLiteral("ContentProtection"))) {
        reader.plan.refusal = Refusal::Drm;
        return;
    }
    if (mpd.Attribute("type", QStringLiteral("static")) != QLatin1String("static")) {
        reader.plan.refusal = Refusal::Live;
        return;
    }
    const QList<const Element*> periods = mpd.Children(QStringLiteral("Period"));
    if (periods.size() != 1) {
        reader.Fail(periods.isEmpty() ? QStringLiteral("it has no period")
                                      : QStringLiteral("it is made of several periods"));
        return;
    }
    const Element& period = *periods.first();
    Context context;
    const QUrl mpdBase = BaseOf(mpd, address);
    context.base = BaseOf(period, mpdBase);
    const auto whole = ParseDuration(mpd.Attribute("mediaPresentationDuration"));
    const auto start = ParseDuration(period.Attribute("start", QStringLiteral("PT0S")));
    const auto own = ParseDuration(period.Attribute("duration"));
    context.periodSeconds = own ? *own : whole && start ? *whole - *start : 0;
    if (context.periodSeconds < 0)
        context.periodSeconds = 0;
    for (const Element* set : period.Children(QStringLiteral("AdaptationSet"))) {
        Context setContext = context;
        setContext.base = BaseOf(*set, context.base);
        for (const Element* representation : set->Children(QStringLiteral("Representation")))
            if (!ReadRepresentation(reader, period, *set, *representation, setContext))
                return;
    }
    if (reader.plan.tracks.isEmpty())
        reader.Fail(QStringLiteral("it offers no stream"));
}

} // namespace

std::optional<double> ParseDuration(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        "^P(?:([0-9]{1,6})D)?(?:T(?:([0-9]{1,6})H)?(?:([0-9]{1,8})M)?(?:([0-9]{1,9}(?:\\.[0-9]{1,"
        "9})?)S)?)?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch() || text.trimmed() == QLatin1String("P") ||
        text.trimmed().endsWith(QLatin1Char('T')))
        return std::nullopt;
    const double seconds = match.captured(1).toDouble() * 86400 +
                           match.captured(2).toDouble() * 3600 + match.captured(3).toDouble() * 60 +
                           match.captured(4).toDouble();
    if (seconds > MaxSeconds)
        return std::nullopt;
    return seconds;
}

Plan Read(const QByteArray& text, const QUrl& address) {
    Reader reader;
    if (text.size() > MaxManifestBytes) {
        reader.Fail(QStringLiteral("it is too large"));
        return reader.plan;
    }
    QString problem;
    const std::shared_ptr<Element> root = ParseTree(text, problem);
    if (!root) {
        reader.Fail(problem);
        return reader.plan;
    }
    ReadManifest(reader, *root, address);
    if (!reader.plan.Ok())
        reader.plan.tracks.clear();
    return reader.plan;
}

} // namespace DashManifest
