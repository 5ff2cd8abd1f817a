#include "JsonLdMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cctype>
#include <cmath>

namespace JsonLdMedia {

namespace {

// Type names may come bare, prefixed ("schema:VideoObject") or as an address.
bool IsType(const QJsonValue& type, QStringView wanted) {
    if (type.isArray()) {
        for (const QJsonValue& each : type.toArray())
            if (IsType(each, wanted))
                return true;
        return false;
    }
    const QString name = type.toString();
    if (!name.endsWith(wanted))
        return false;
    const qsizetype before = name.size() - wanted.size() - 1;
    return before < 0 || name.at(before) == QLatin1Char('/') ||
           name.at(before) == QLatin1Char(':') || name.at(before) == QLatin1Char('#');
}

// A text: a string, a number, or the first usable one of an array.
QString Text(const QJsonValue& value) {
    if (value.isString())
        return value.toString().trimmed();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'f', 0);
    if (value.isArray())
        for (const QJsonValue& each : value.toArray())
            if (QString text = Text(each); !text.isEmpty())
                return text;
    return QString();
}

// An address: a string, an object's "url", "contentUrl" or "@id", or the first of an array.
QString Address(const QJsonValue& value) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (const char* key : {"url", "contentUrl", "@id"})
            if (QString text = Address(object.value(QLatin1String(key))); !text.isEmpty())
                return text;
        return QString();
    }
    if (value.isArray())
        for (const QJsonValue& each : value.toArray())
            if (QString text = Address(each); !text.isEmpty())
                return text;
    return value.isString() ? value.toString().trimmed() : QString();
}

// A person or organisation: a name, an object's "name", or the first of an array.
QString Name(const QJsonValue& value) {
    if (value.isObject())
        return Text(value.toObject().value(QLatin1String("name")));
    if (value.isArray())
        for (const QJsonValue& each : value.toArray())
            if (QString text = Name(each); !text.isEmpty())
                return text;
    return Text(value);
}

// A count or measure: a number, or the number a text starts with ("720", "720px", "1,234",
// "2.5 Mbps"), times the unit's factor; an object's "value" (QuantitativeValue). 0 when none.
qint64 Measure(const QJsonValue& value) {
    constexpr double most = 1e15;
    if (value.isObject())
        return Measure(value.toObject().value(QLatin1String("value")));
    if (value.isDouble()) {
        const double number = value.toDouble();
        return number > 0 && number < most ? qint64(number) : 0;
    }
    const QString text = value.toString().trimmed();
    QString digits;
    qsizetype i = 0;
    for (; i < text.size() && digits.size() < 20; ++i) {
        const QChar c = text.at(i);
        if (c.isDigit() || c == QLatin1Char('.'))
            digits.append(c);
        else if (c != QLatin1Char(','))
            break;
    }
    double number = digits.toDouble();
    const QString unit = text.mid(i).trimmed().toLower();
    if (unit.startsWith(QLatin1Char('k')))
        number *= 1e3;
    else if (unit.startsWith(QLatin1Char('m')))
        number *= 1e6;
    else if (unit.startsWith(QLatin1Char('g')))
        number *= 1e9;
    return number > 0 && number < most ? qint64(number) : 0;
}

int SmallMeasure(const QJsonValue& value) {
    const qint64 measure = Measure(value);
    return measure < 1000000 ? int(measure) : 0;
}

// The count of watches or views among the interaction statistics.
qint64 Views(const QJsonValue& statistics) {
    if (statistics.isArray()) {
        for (const QJsonValue& each : statistics.toArray())
            if (const qint64 views = Views(each); views >= 0)
                return views;
        return -1;
    }
    const QJsonObject statistic = statistics.toObject();
    QJsonValue type = statistic.value(QLatin1String("interactionType"));
    if (type.isObject())
        type = type.toObject().value(QLatin1String("@type"));
    if (!IsType(type, u"WatchAction") && !IsType(type, u"ViewAction"))
        return -1;
    const QJsonValue count = statistic.value(QLatin1String("userInteractionCount"));
    const QString text = Text(count);
    return !text.isEmpty() && text.at(0).isDigit() ? Measure(count) : -1;
}

Media ReadMedia(const QJsonObject& object, bool audioOnly) {
    Media media;
    media.AudioOnly = audioOnly;
    const auto value = [&object](const char* key) { return object.value(QLatin1String(key)); };
    media.ContentUrl = Address(value("contentUrl"));
    media.EmbedUrl = Address(value("embedUrl"));
    media.EncodingFormat = Text(value("encodingFormat"));
    media.Name = Text(value("name"));
    media.Description = Text(value("description"));
    media.UploadDate = Text(value("uploadDate"));
    if (media.UploadDate.isEmpty())
        media.UploadDate = Text(value("datePublished"));
    media.Author = Name(value("author"));
    if (media.Author.isEmpty())
        media.Author = Name(value("creator"));
    media.Genre = Text(value("genre"));
    media.Thumbnail = Address(value("thumbnailUrl"));
    if (media.Thumbnail.isEmpty())
        media.Thumbnail = Address(value("thumbnail"));
    media.DurationSeconds = IsoDurationSeconds(Text(value("duration")));
    media.Views = Views(value("interactionStatistic"));
    if (media.Views < 0 && value("interactionCount").isDouble())
        media.Views = Measure(value("interactionCount"));
    media.Width = SmallMeasure(value("width"));
    media.Height = SmallMeasure(value("height"));
    media.Bitrate = Measure(value("bitrate"));
    media.ByteSize = Measure(value("contentSize"));
    return media;
}

class Walker {
public:
    explicit Walker(Findings& findings) : Out(findings) {}

    void Walk(const QJsonValue& value, int depth) {
        if (depth > MaxDepth || ++Visited > MaxVisits)
            return;
        if (value.isArray()) {
            for (const QJsonValue& each : value.toArray())
                Walk(each, depth + 1);
            return;
        }
        if (!value.isObject())
            return;
        const QJsonObject object = value.toObject();
        const QJsonValue type = object.value(QLatin1String("@type"));
        const bool video = IsType(type, u"VideoObject");
        if ((video || IsType(type, u"AudioObject")) && Out.Items.size() < MaxMedia)
            Out.Items.append(ReadMedia(object, !video));
        if (Out.Author.isEmpty())
            Out.Author = Name(object.value(QLatin1String("author")));
        if (Out.Publisher.isEmpty())
            Out.Publisher = Name(object.value(QLatin1String("publisher")));
        for (auto it = object.begin(); it != object.end(); ++it)
            if (it.value().isObject() || it.value().isArray())
                Walk(it.value(), depth + 1);
    }

private:
    static constexpr int MaxVisits = 100000;
    Findings& Out;
    int Visited = 0;
};

// The block as JSON text: without a wrapping comment or CDATA section, and with raw line
// breaks and tabs (which pages leave inside strings) made blanks.
QString Unwrapped(QStringView block) {
    QStringView text = block.trimmed();
    for (const auto& [open, close] : {std::pair{u"<!--", u"-->"}, std::pair{u"<![CDATA[", u"]]>"}})
        if (text.startsWith(open) && text.endsWith(close))
            text = text.mid(qsizetype(std::char_traits<char16_t>::length(open)))
                       .chopped(qsizetype(std::char_traits<char16_t>::length(close)))
                       .trimmed();
    QString json = text.toString();
    for (QChar& c : json)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    return json;
}

// The end of the string that starts with the quote at `start` (past its closing quote).
qsizetype StringEnd(const QByteArray& json, qsizetype start) {
    for (qsizetype i = start + 1; i < json.size(); ++i) {
        if (json.at(i) == '\\')
            ++i;
        else if (json.at(i) == '"')
            return i + 1;
    }
    return json.size();
}

// A JSON number the parser cannot hold as a double ("1e309") fails the whole block; as null,
// it leaves the block's other values readable. Everything else stays as it is.
QByteArray WithUnreadableNumbersAsNull(const QByteArray& json) {
    static const QRegularExpression number(
        QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?$"));
    const auto numeric = [](char c) {
        return std::isdigit(uchar(c)) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
    };
    QByteArray out;
    out.reserve(json.size());
    for (qsizetype i = 0; i < json.size();) {
        const char c = json.at(i);
        qsizetype end = i + 1;
        if (c == '"') {
            end = StringEnd(json, i);
        } else if (c == '-' || std::isdigit(uchar(c))) {
            while (end < json.size() && numeric(json.at(end)))
                ++end;
            const QByteArray token = json.mid(i, end - i);
            bool readable = false;
            token.toDouble(&readable);
            if (!readable && number.match(QLatin1String(token)).hasMatch()) {
                out.append("null");
                i = end;
                continue;
            }
        }
        out.append(json.mid(i, end - i));
        i = end;
    }
    return out;
}

} // namespace

void Read(QStringView block, Findings& findings) {
    if (block.size() > MaxBlockChars)
        return;
    const QByteArray json = Unwrapped(block).toUtf8();
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error == QJsonParseError::IllegalNumber)
        document = QJsonDocument::fromJson(WithUnreadableNumbersAsNull(json), &error);
    if (error.error != QJsonParseError::NoError)
        return;
    Walker walker(findings);
    walker.Walk(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()),
                0);
}

int IsoDurationSeconds(QStringView duration) {
    duration = duration.trimmed();
    if (!duration.startsWith(QLatin1Char('P'), Qt::CaseInsensitive))
        return 0;
    double seconds = 0;
    bool inTime = false;
    bool any = false;
    QString number;
    for (qsizetype i = 1; i < duration.size(); ++i) {
        const QChar c = duration.at(i).toUpper();
        if (c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char(',')) {
            if (number.size() > 12)
                return 0;
            number.append(c == QLatin1Char(',') ? QLatin1Char('.') : c);
            continue;
        }
        if (c == QLatin1Char('T') && number.isEmpty()) {
            inTime = true;
            continue;
        }
        bool ok = false;
        const double value = number.toDouble(&ok);
        if (!ok)
            return 0;
        number.clear();
        double unit = 0;
        if (c == QLatin1Char('W') && !inTime)
            unit = 7 * 86400;
        else if (c == QLatin1Char('D') && !inTime)
            unit = 86400;
        else if (c == QLatin1Char('H') && inTime)
            unit = 3600;
        else if (c == QLatin1Char('M') && inTime)
            unit = 60;
        else if (c == QLatin1Char('S') && inTime)
            unit = 1;
        else
            return 0; // years and months have no fixed length
        seconds += value * unit;
        any = true;
    }
    if (!any || !number.isEmpty() || !std::isfinite(seconds) || seconds >= 1e9)
        return 0;
    return int(seconds);
}

} // namespace JsonLdMedia
