#include "PageText.h"

#include "modMain.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>

namespace PageText {

namespace {

const QString WatchPath = QStringLiteral("/watch?v=");

// Puts a successful extraction into the field; a failed one leaves the field alone.
void Extract(const QString& page, const QString& startMarker, int offset, const QString& endMarker,
             QString& field) {
    if (const auto value = ExtractBetween(page, startMarker, offset, endMarker))
        field = *value;
}

// The strings a title loses, in the order they are removed.
const QStringList& TitleRemovals() {
    static const QStringList removals = {
        QStringLiteral("YouTube - "), QStringLiteral("&amp;"), QStringLiteral("&quot;"),
        QStringLiteral("?"),          QStringLiteral(";"),     QStringLiteral("!"),
        QStringLiteral("@"),          QStringLiteral("#"),     QStringLiteral("$"),
        QStringLiteral("%"),          QStringLiteral("^"),     QStringLiteral("&"),
        QStringLiteral("*"),          QStringLiteral("("),     QStringLiteral(")"),
        QStringLiteral("="),          QStringLiteral("\\"),    QStringLiteral("|"),
        QStringLiteral("]"),          QStringLiteral("["),     QStringLiteral("}"),
        QStringLiteral("{"),          QStringLiteral(";"),     QStringLiteral("'"),
        QStringLiteral(":"),          QStringLiteral("\""),    QStringLiteral(","),
        QStringLiteral("<"),          QStringLiteral(">"),     QStringLiteral("/"),
        QStringLiteral("`"),          QStringLiteral("~"),
    };
    return removals;
}

// Text in a known character set; nothing when the name is not one we can decode.
std::optional<QString> DecodeAs(const QByteArray& body, const QByteArray& charset) {
    if (charset.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(charset.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return QString(decoder(body));
}

QString Decoded(const QByteArray& body, QStringConverter::Encoding encoding) {
    QStringDecoder decoder(encoding);
    return decoder(body);
}

// The UTF-16 form of a page told by its bytes: the ASCII characters of its markup leave a zero
// in every other byte. Nothing when they do not look like UTF-16.
std::optional<QStringConverter::Encoding> Utf16ByZeros(const QByteArray& body) {
    const qsizetype units = std::min<qsizetype>(body.size(), 1024) / 2;
    qsizetype little = 0;
    qsizetype big = 0;
    for (qsizetype i = 0; i < units; ++i) {
        const bool lowZero = body.at(2 * i) == 0;
        const bool highZero = body.at(2 * i + 1) == 0;
        little += !lowZero && highZero;
        big += lowZero && !highZero;
    }
    if (units < 2)
        return std::nullopt;
    if (little * 4 >= units * 3)
        return QStringConverter::Utf16LE;
    if (big * 4 >= units * 3)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

// The UTF-16 form a charset name stands for, by the names browsers know; a name without a byte
// order takes the one the bytes show, little-endian when they show none. Nothing for a name of
// another character set.
std::optional<QStringConverter::Encoding> Utf16OfCharset(const QByteArray& charset,
                                                         const QByteArray& body) {
    const QByteArray name = charset.trimmed().toLower();
    if (name == "utf-16be" || name == "unicodefffe")
        return QStringConverter::Utf16BE;
    if (name == "utf-16le")
        return QStringConverter::Utf16LE;
    static const QByteArrayList unordered = {"utf-16", "utf16",     "unicode",        "unicodefeff",
                                             "ucs-2",  "csunicode", "iso-10646-ucs-2"};
    if (!unordered.contains(name))
        return std::nullopt;
    return Utf16ByZeros(body).value_or(QStringConverter::Utf16LE);
}

// A page that declares nothing: UTF-8 when it is valid UTF-8, Latin-1 otherwise.
QString DecodeUndeclared(const QByteArray& body) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(body);
    return utf8.hasError() ? QString::fromLatin1(body) : text;
}

// Characters a name must not hold: control characters (a NUL would end the file name early,
// so that it named another file), format characters (a right-to-left override shows
// "clip\u202Egpj.exe" as "clipexe.jpg"; zero-width ones hide in a name) and line and paragraph
// separators, which break a name across lines wherever it is shown.
bool IsUnwanted(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// The text without unwanted characters and without halves of surrogate pairs, which the file
// system would show as replacement characters.
QString WholeCharacters(const QString& text) {
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const QChar low = text.at(++i);
            if (!IsUnwanted(QChar::surrogateToUcs4(c, low)))
                kept.append(c).append(low);
        } else if (!c.isSurrogate() && !IsUnwanted(c.unicode())) {
            kept.append(c);
        }
    }
    return kept;
}

// A name that starts with a dot is hidden (".bashrc", "..."), and leading spaces make names
// that look alike; both go.
QString WithoutLeadingDotsAndSpaces(const QString& name) {
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == QLatin1Char('.') || name.at(start).isSpace()))
        ++start;
    return name.mid(start);
}

// The name of a video that has nothing else to be named by.
const QString NamelessVideo = QStringLiteral("video");

// The name for a title that leaves nothing: the video id, of the characters ids are made of.
QString NameOfVideoId(const QString& videoId) {
    QString name;
    for (const QChar c : videoId)
        if (c.unicode() < 128 &&
            (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')))
            name.append(c);
    name.truncate(20);
    return name.isEmpty() ? NamelessVideo : name;
}

// A name that starts with a dash reads as an option to the programs it is handed to.
QString WithoutLeadingDotsDashesAndSpaces(const QString& name) {
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == QLatin1Char('.') ||
                                   name.at(start) == QLatin1Char('-') || name.at(start).isSpace()))
        ++start;
    return name.mid(start);
}

// At most `bytes` bytes of the text in UTF-8 (a text of whole characters), cut before a
// character that would be split.
QString LeftUtf8(const QString& text, int bytes) {
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size();
        const char32_t c = pair ? QChar::surrogateToUcs4(text.at(end), text.at(end + 1))
                                : char32_t(text.at(end).unicode());
        const int size = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (used + size > bytes)
            break;
        used += size;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

} // namespace

QString RepairDoubledScheme(const QString& address) {
    QString repaired = address;
    return repaired.replace(QStringLiteral("http://http://"), QStringLiteral("http://"));
}

bool IsVideoPageAddress(const QString& address) {
    return address.contains(VideoDomain + WatchPath);
}

bool IsVideoServiceAddress(const QString& address) {
    QString candidate = address.trimmed();
    if (!candidate.contains(QStringLiteral("://")))
        candidate.prepend(QStringLiteral("http://"));
    const QString host = QUrl(candidate).host().toLower();
    return host == VideoDomain || host.endsWith(QLatin1Char('.') + VideoDomain);
}

std::optional<QString> HostName(const QString& address) {
    const int start = 7; // the 8th character, after "http://"
    const int slash = address.indexOf(QLatin1Char('/'), start);
    if (slash < 0)
        return std::nullopt;
    return address.mid(start, slash - start);
}

QString AddressVideoId(const QString& address) {
    const int watch = address.indexOf(WatchPath);
    if (watch < 0)
        return QString();
    QString id = address.mid(watch + WatchPath.size());
    const int nextWatch = id.indexOf(WatchPath);
    if (nextWatch >= 0)
        id.truncate(nextWatch);
    const int ampersand = id.indexOf(QLatin1Char('&'));
    if (ampersand >= 0)
        id.truncate(ampersand);
    return id;
}

std::optional<QString> ExtractBetween(const QString& page, const QString& startMarker, int offset,
                                      const QString& endMarker) {
    const qint64 s = qint64(page.indexOf(startMarker)) + 1 + offset;
    if (s < 1)
        return std::nullopt;
    const qint64 e = s > page.size() ? 0 : qint64(page.indexOf(endMarker, int(s - 1))) + 1;
    if (e < s)
        return std::nullopt;
    return page.mid(int(s - 1), int(e - s));
}

QString CleanTitle(const QString& text) {
    QString cleaned = WholeCharacters(text);
    for (const QString& removal : TitleRemovals())
        cleaned.remove(removal);
    return cleaned;
}

void ReadTitle(const QString& page, VideoPage& fields) {
    if (const auto title =
            ExtractBetween(page, QStringLiteral("<title>"), 7, QStringLiteral("</title>")))
        fields.VideoTitle = CleanTitle(LeftWhole(*title, 50));
}

void ReadDetails(const QString& page, VideoPage& fields) {
    const QString span = QStringLiteral("</span>");
    Extract(page, QStringLiteral("&video_id="), 10, QStringLiteral("&"), fields.PageVideoId);
    Extract(page, QStringLiteral("&t="), 3, QStringLiteral("&"), fields.PageToken);
    Extract(page, QStringLiteral("watch-view-count\">"), 18, span, fields.ViewCount);
    Extract(page, QStringLiteral("watchUsername = '"), 17, QStringLiteral("';"), fields.UserID);
    Extract(page, QStringLiteral("Added: <span class=\"watch-stat\">"), 32, span,
            fields.UploadDate);
    Extract(page, QStringLiteral("urchinTracker('/Events/VideoWatch/VideoCategoryLink');\">"), 56,
            QStringLiteral("</a>"), fields.VideoCat);
    Extract(page, QStringLiteral(" class=\"description\">"), 21, span, fields.VideoDesc);
    fields.VideoDesc = DescriptionWithoutLinks(fields.VideoDesc);
}

QString LeftWhole(const QString& text, int length) {
    if (length <= 0)
        return QString();
    if (length >= text.size())
        return text;
    // A high surrogate at the cut would lose its partner and become a replacement character.
    return text.left(text.at(length - 1).isHighSurrogate() ? length - 1 : length);
}

QString TargetFilePath(const QString& outputFolder, const QString& videoTitle,
                       const QString& videoId, const QString& extension) {
    if (!IsPlainExtension(extension))
        return QString();
    QString name = LeftWhole(WithoutLeadingDotsAndSpaces(WholeCharacters(videoTitle)), 20);
    if (name.isEmpty())
        name = NameOfVideoId(videoId);
    return modMain::AddSlash(outputFolder) + name + QLatin1Char('.') + extension;
}

QString WholeTitleFilePath(const QString& outputFolder, const QString& title,
                           const QString& extension) {
    if (!IsPlainExtension(extension))
        return QString();
    QString name =
        LeftUtf8(WithoutLeadingDotsDashesAndSpaces(WholeCharacters(title)), MaxNameBytes);
    // A cut may leave a space before the extension.
    while (!name.isEmpty() && name.back().isSpace())
        name.chop(1);
    if (name.isEmpty())
        name = NamelessVideo;
    return modMain::AddSlash(outputFolder) + name + QLatin1Char('.') + extension;
}

QString TitleOfAddress(const QUrl& address) {
    const QString path = address.path(QUrl::FullyEncoded);
    QString name = WholeCharacters(
        QUrl::fromPercentEncoding(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toLatin1()));
    name.remove(QLatin1Char('/'));
    name.remove(QLatin1Char('\\'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && IsPlainExtension(name.mid(dot + 1).toLower()))
        name.truncate(dot);
    return name;
}

bool IsTargetFilePath(const QString& outputFolder, const QString& path, const QString& extension) {
    const QString folder = modMain::AddSlash(outputFolder);
    if (!IsPlainExtension(extension) || !path.startsWith(folder) || path.contains(QChar(0)))
        return false;
    const QString name = path.mid(folder.size());
    const QString fileExtension = QLatin1Char('.') + extension;
    return name.size() > fileExtension.size() && name.endsWith(fileExtension) &&
           WithoutLeadingDotsAndSpaces(name) == name && WholeCharacters(name) == name &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool IsPlainExtension(const QString& extension) {
    // Checked character by character: a pattern's "$" would also let a final line break through.
    if (extension.isEmpty() || extension.size() > 5)
        return false;
    return std::all_of(extension.begin(), extension.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
}

QString DescriptionWithoutLinks(const QString& description) {
    return description.toLower().contains(QStringLiteral(" href=")) ? QString() : description;
}

QString DownloadUrl(const QString& hostName, const QString& pageVideoId, const QString& pageToken) {
    return QStringLiteral("http://") + hostName + QStringLiteral("/get_video.php?video_id=") +
           pageVideoId + QStringLiteral("&t=") + pageToken;
}

QString BlankPreview() {
    return QStringLiteral("about:<html><body scroll='no'></body></html>");
}

QString ThumbnailPreview(const QString& addressVideoId) {
    const QString thumbnail = QStringLiteral("http://") + ThumbnailHost + QStringLiteral("/vi/") +
                              HtmlEscaped(addressVideoId) + QStringLiteral("/default.jpg");
    return QStringLiteral("about:<html><body scroll='no' topmargin=0 leftmargin=0><img src='") +
           thumbnail + QStringLiteral("' width=180 height=147></img></body></html>");
}

QString ImagePreview(const QString& imageAddress) {
    return QStringLiteral("about:<html><body scroll='no' topmargin=0 leftmargin=0><img src='") +
           HtmlEscaped(imageAddress) +
           QStringLiteral("' width=180 height=147></img></body></html>");
}

QString HtmlEscaped(const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QString DecodePage(const QByteArray& body, const QByteArray& contentType) {
    // A byte order mark says the most, as browsers take it.
    if (const auto marked = QStringConverter::encodingForData(body))
        return Decoded(body, *marked);
    const QByteArray declared = CharsetOfContentType(contentType);
    if (const auto utf16 = Utf16OfCharset(declared, body))
        return Decoded(body, *utf16);
    if (const auto text = DecodeAs(body, declared))
        return *text;
    // A page in UTF-16 without a mark or a header: its <meta> can only be read once decoded.
    if (const auto utf16 = Utf16ByZeros(body))
        return Decoded(body, *utf16);
    // A <meta> read from the bytes as ASCII shows that they are no UTF-16, whatever it says.
    const QByteArray meta = CharsetOfMeta(body);
    if (!Utf16OfCharset(meta, body))
        if (const auto text = DecodeAs(body, meta))
            return *text;
    return DecodeUndeclared(body);
}

QByteArray CharsetOfContentType(const QByteArray& contentType) {
    for (const QByteArray& parameter : contentType.split(';')) {
        const QByteArray trimmed = parameter.trimmed();
        if (trimmed.toLower().startsWith("charset=")) {
            QByteArray name = trimmed.mid(8).trimmed();
            if (name.size() >= 2 && (name.startsWith('"') || name.startsWith('\'')))
                name = name.mid(1, name.size() - 2);
            return name.trimmed();
        }
    }
    return QByteArray();
}

QByteArray CharsetOfMeta(const QByteArray& body) {
    // Browsers look for the declaration within the first 1024 bytes; allow a little more.
    static const QRegularExpression meta(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(body.left(4096));
    const QRegularExpressionMatch match = meta.match(head);
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

} // namespace PageText
