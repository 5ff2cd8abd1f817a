#include "MediaSniff.h"

#include <array>

namespace MediaSniff {

namespace {

Media File(const char* extension, bool audioOnly = false) {
    return {StreamKind::File, QString::fromLatin1(extension), audioOnly};
}
Media Hls() {
    return {StreamKind::Hls, QStringLiteral("m3u8"), false};
}
Media Dash() {
    return {StreamKind::Dash, QStringLiteral("mpd"), false};
}

// Types whose name alone tells the container.
Media TypedFile(QByteArrayView type) {
    struct Entry {
        const char* Type;
        const char* Extension;
        bool AudioOnly;
    };
    static const Entry entries[] = {
        {"video/mp4", "mp4", false},       {"video/x-m4v", "mp4", false},
        {"video/webm", "webm", false},     {"video/x-matroska", "mkv", false},
        {"video/mp2t", "ts", false},       {"video/x-flv", "flv", false},
        {"video/quicktime", "mov", false}, {"video/ogg", "ogv", false},
        {"video/3gpp", "3gp", false},      {"video/3gpp2", "3g2", false},
        {"video/x-msvideo", "avi", false}, {"video/x-ms-wmv", "wmv", false},
        {"video/mpeg", "mpg", false},      {"application/ogg", "ogg", false},
        {"audio/mpeg", "mp3", true},       {"audio/mp3", "mp3", true},
        {"audio/mp4", "m4a", true},        {"audio/x-m4a", "m4a", true},
        {"audio/aac", "aac", true},        {"audio/aacp", "aac", true},
        {"audio/webm", "webm", true},      {"audio/ogg", "ogg", true},
        {"audio/opus", "opus", true},      {"audio/flac", "flac", true},
        {"audio/x-flac", "flac", true},    {"audio/wav", "wav", true},
        {"audio/x-wav", "wav", true},      {"audio/vnd.wave", "wav", true},
        {"audio/x-matroska", "mka", true},
    };
    for (const Entry& entry : entries)
        if (type == QByteArrayView(entry.Type))
            return File(entry.Extension, entry.AudioOnly);
    return {};
}

// Up to `length` bytes from `position`, within the bytes given (Qt 6.4's views have no mid()).
QByteArrayView Part(QByteArrayView bytes, qsizetype position, qsizetype length = -1) {
    position = qBound<qsizetype>(0, position, bytes.size());
    const qsizetype rest = bytes.size() - position;
    return bytes.sliced(position, length < 0 ? rest : qMin(length, rest));
}

bool IsHlsType(QByteArrayView type) {
    return type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl" ||
           type == "audio/mpegurl" || type == "audio/x-mpegurl";
}

// The bytes after a UTF-8 byte-order mark and leading white space.
QByteArrayView AfterBomAndSpace(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = Part(bytes, 3);
    qsizetype i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' ||
                                bytes[i] == '\n' || bytes[i] == '\f'))
        ++i;
    return Part(bytes, i);
}

// An XML document whose first element is <MPD, past the prolog, comments and doctype.
bool IsMpd(QByteArrayView bytes) {
    bytes = AfterBomAndSpace(bytes);
    while (bytes.startsWith("<?") || bytes.startsWith("<!")) {
        const char* close = bytes.startsWith("<!--") ? "-->" : ">";
        const qsizetype end = bytes.indexOf(QByteArrayView(close));
        if (end < 0)
            return false;
        bytes = AfterBomAndSpace(Part(bytes, end + qstrlen(close)));
    }
    if (!bytes.startsWith("<MPD"))
        return false;
    return bytes.size() == 4 || !QChar::isLetterOrNumber(uchar(bytes[4]));
}

bool Contains(QByteArrayView bytes, qsizetype within, QByteArrayView what) {
    return bytes.first(qMin(within, bytes.size())).indexOf(what) >= 0;
}

Media Mp4ByBrand(QByteArrayView brand) {
    if (brand == "M4A " || brand == "M4B " || brand == "M4P ")
        return File("m4a", true);
    if (brand == "qt  ")
        return File("mov");
    if (brand.startsWith("3gp"))
        return File("3gp");
    if (brand.startsWith("3g2"))
        return File("3g2");
    return File("mp4");
}

// MPEG transport packets: the sync byte 0x47 at the start of three packets in a row.
bool IsTransportStream(QByteArrayView bytes) {
    for (const qsizetype packet : {188, 192}) {
        const qsizetype first = packet == 192 ? 4 : 0;
        if (bytes.size() <= first + 2 * packet)
            continue;
        if (bytes[first] == 0x47 && bytes[first + packet] == 0x47 &&
            bytes[first + 2 * packet] == 0x47)
            return true;
    }
    return false;
}

// An MPEG audio layer III frame header: sync, a layer of III, a real bit rate and sample rate.
bool IsMp3Frame(QByteArrayView bytes) {
    if (bytes.size() < 4 || uchar(bytes[0]) != 0xFF || (uchar(bytes[1]) & 0xE0) != 0xE0)
        return false;
    const uchar version = (uchar(bytes[1]) >> 3) & 0x03;
    const uchar layer = (uchar(bytes[1]) >> 1) & 0x03;
    const uchar bitrate = uchar(bytes[2]) >> 4;
    const uchar sampleRate = (uchar(bytes[2]) >> 2) & 0x03;
    return version != 1 && layer == 1 && bitrate != 0 && bitrate != 15 && sampleRate != 3;
}

// An ADTS header of AAC: sync and a layer of 0.
bool IsAdts(QByteArrayView bytes) {
    return bytes.size() >= 7 && uchar(bytes[0]) == 0xFF && (uchar(bytes[1]) & 0xF6) == 0xF0 &&
           ((uchar(bytes[2]) >> 2) & 0x0F) < 13;
}

} // namespace

Media FromContentType(QByteArrayView contentType) {
    const qsizetype semicolon = contentType.indexOf(';');
    const QByteArray type = (semicolon < 0 ? contentType : contentType.first(semicolon))
                                .trimmed()
                                .toByteArray()
                                .toLower();
    if (IsHlsType(type))
        return Hls();
    if (type == "application/dash+xml")
        return Dash();
    if (const Media typed = TypedFile(type); typed.IsStream())
        return typed;
    if (type.startsWith("video/") && type.size() > 6)
        return {StreamKind::File, QString(), false};
    if (type.startsWith("audio/") && type.size() > 6)
        return {StreamKind::File, QString(), true};
    return {};
}

Media FromExtension(QStringView extension) {
    const QString lower = extension.toString().toLower();
    if (lower == QLatin1String("m3u8") || lower == QLatin1String("m3u"))
        return Hls();
    if (lower == QLatin1String("mpd"))
        return Dash();
    struct Entry {
        const char* Extension;
        bool AudioOnly;
    };
    static const Entry entries[] = {
        {"mp4", false}, {"m4v", false},  {"webm", false}, {"mkv", false}, {"mov", false},
        {"ts", false},  {"m2ts", false}, {"flv", false},  {"ogv", false}, {"3gp", false},
        {"3g2", false}, {"avi", false},  {"wmv", false},  {"mpg", false}, {"mpeg", false},
        {"mp3", true},  {"m4a", true},   {"aac", true},   {"ogg", true},  {"oga", true},
        {"opus", true}, {"flac", true},  {"wav", true},   {"mka", true},
    };
    for (const Entry& entry : entries)
        if (lower == QLatin1String(entry.Extension))
            return File(entry.Extension, entry.AudioOnly);
    return {};
}

Media FromAddress(const QUrl& address) {
    const QString path = address.path();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return {};
    return FromExtension(QStringView(path).mid(dot + 1));
}

Media FromBytes(QByteArrayView firstBytes) {
    const QByteArrayView bytes = firstBytes.first(qMin(firstBytes.size(), BytesToSniff));
    const QByteArrayView text = AfterBomAndSpace(bytes);
    if (text.startsWith("#EXTM3U"))
        return Hls();
    if (IsMpd(bytes))
        return Dash();
    if (bytes.size() >= 12 && Part(bytes, 4, 4) == "ftyp")
        return Mp4ByBrand(Part(bytes, 8, 4));
    if (bytes.startsWith("\x1A\x45\xDF\xA3"))
        return Contains(bytes, 64, "webm") ? File("webm") : File("mkv");
    if (bytes.startsWith("FLV\x01"))
        return File("flv");
    if (bytes.startsWith("OggS"))
        return Contains(bytes, 128, "theora") ? File("ogv") : File("ogg", true);
    if (bytes.startsWith("fLaC"))
        return File("flac", true);
    if (bytes.size() >= 12 && bytes.startsWith("RIFF")) {
        if (Part(bytes, 8, 4) == "WAVE")
            return File("wav", true);
        if (Part(bytes, 8, 4) == "AVI ")
            return File("avi");
    }
    if (IsTransportStream(bytes))
        return File("ts");
    if (bytes.startsWith("ID3") || IsMp3Frame(bytes))
        return File("mp3", true);
    if (IsAdts(bytes))
        return File("aac", true);
    return {};
}

bool LooksLikePage(QByteArrayView firstBytes) {
    const QByteArrayView text =
        AfterBomAndSpace(firstBytes.first(qMin(firstBytes.size(), BytesToSniff)));
    return text.startsWith("<") || text.startsWith("{");
}

Media Sniff(QByteArrayView contentType, QByteArrayView firstBytes) {
    if (const Media byBytes = FromBytes(firstBytes); byBytes.IsStream())
        return byBytes;
    if (LooksLikePage(firstBytes))
        return {};
    return FromContentType(contentType);
}

} // namespace MediaSniff
