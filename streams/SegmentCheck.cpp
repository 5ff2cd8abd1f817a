#include "SegmentCheck.h"

#include <QList>

namespace SegmentCheck {

namespace {

constexpr qsizetype kTsPacket = 188;
constexpr char kTsSync = 0x47;
// The top-level boxes an MP4, its initialisation segment or one of its fragments starts with.
const QList<QByteArray>& Mp4Openings() {
    static const QList<QByteArray> openings = {"ftyp", "styp", "moov", "moof", "sidx",
                                               "ssix", "emsg", "prft", "free", "skip",
                                               "wide", "mdat", "uuid"};
    return openings;
}
// EBML header, Segment, Cluster, Cues: what a WebM file or one of its pieces starts with.
const QList<QByteArray>& WebMOpenings() {
    static const QList<QByteArray> openings = {
        QByteArray("\x1A\x45\xDF\xA3", 4), QByteArray("\x18\x53\x80\x67", 4),
        QByteArray("\x1F\x43\xB6\x75", 4), QByteArray("\x1C\x53\xBB\x6B", 4)};
    return openings;
}

// What the other containers a whole file may come in start with.
const QList<QByteArray>& OtherOpenings() {
    static const QList<QByteArray> openings = {"OggS", "fLaC", QByteArray("FLV\x01", 4), "RIFF",
                                               QByteArray("\x00\x00\x01\xBA", 4)};
    return openings;
}

quint8 Byte(const QByteArray& bytes, qsizetype at) {
    return quint8(bytes.at(at));
}

quint64 BigEndian(const QByteArray& bytes, qsizetype at, int count) {
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | Byte(bytes, at + i);
    return value;
}

// Where the media starts: past any ID3 tags (10 bytes of header, a size in 7-bit bytes, and a
// footer when its flag says so). -1 when a tag runs past the bytes.
qsizetype MediaStart(const QByteArray& bytes) {
    qsizetype at = 0;
    while (bytes.size() - at >= 10 && bytes.mid(at, 3) == "ID3") {
        qsizetype size = 0;
        for (int i = 6; i < 10; ++i) {
            if (Byte(bytes, at + i) & 0x80)
                return at; // no tag after all: what follows decides
            size = (size << 7) | Byte(bytes, at + i);
        }
        const bool footer = Byte(bytes, at + 5) & 0x10;
        at += 10 + size + (footer ? 10 : 0);
        if (at > bytes.size())
            return -1;
    }
    return at;
}

bool IsPrintable(const QByteArray& type) {
    for (const char c : type)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// Walks the top-level boxes of an MP4 piece: empty when they fill the bytes exactly.
QString BoxProblem(const QByteArray& bytes, qsizetype start, bool* hasMovie = nullptr) {
    qsizetype at = start;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8)
            return QStringLiteral("it ends inside an MP4 box, cut short");
        quint64 size = BigEndian(bytes, at, 4);
        const QByteArray type = bytes.mid(at + 4, 4);
        qsizetype header = 8;
        if (size == 1) {
            if (bytes.size() - at < 16)
                return QStringLiteral("it ends inside an MP4 box, cut short");
            size = BigEndian(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = quint64(bytes.size() - at); // the last box, up to the end
        }
        if (!IsPrintable(type) || size < quint64(header))
            return QStringLiteral("its MP4 boxes are damaged");
        if (size > quint64(bytes.size() - at))
            return QStringLiteral("it ends inside an MP4 box, cut short");
        if (hasMovie && type == "moov")
            *hasMovie = true;
        at += qsizetype(size);
    }
    return QString();
}

QString PacketProblem(const QByteArray& bytes, qsizetype start) {
    for (qsizetype at = start; at < bytes.size(); at += kTsPacket)
        if (bytes.at(at) != kTsSync)
            return QStringLiteral("its MPEG-TS packets are damaged");
    if ((bytes.size() - start) % kTsPacket != 0)
        return QStringLiteral("it ends inside an MPEG-TS packet, cut short");
    return QString();
}

bool HasMovie(const QByteArray& bytes) {
    bool hasMovie = false;
    BoxProblem(bytes, MediaStart(bytes), &hasMovie);
    return hasMovie;
}

QString NameOf(Kind kind) {
    switch (kind) {
    case Kind::MpegTs:
        return QStringLiteral("MPEG-TS");
    case Kind::Mp4:
        return QStringLiteral("MP4");
    case Kind::WebM:
        return QStringLiteral("WebM");
    case Kind::PackedAudio:
        return QStringLiteral("bare sound frames");
    case Kind::Other:
        return QStringLiteral("another container");
    case Kind::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

} // namespace

Kind KindOf(const QByteArray& bytes) {
    const qsizetype start = MediaStart(bytes);
    if (start < 0 || bytes.size() - start < 4)
        return Kind::Unknown;
    const QByteArray head = bytes.mid(start, 8);
    if (head.at(0) == kTsSync)
        return Kind::MpegTs;
    if (head.size() == 8 && BigEndian(head, 0, 4) != 0 && Mp4Openings().contains(head.mid(4)))
        return Kind::Mp4;
    if (WebMOpenings().contains(head.left(4)))
        return Kind::WebM;
    if (OtherOpenings().contains(head.left(4)))
        return Kind::Other;
    // ADTS and MPEG audio frames start with 11 set bits; AC-3 and E-AC-3 with 0x0B77.
    if ((Byte(head, 0) == 0xFF && (Byte(head, 1) & 0xE0) == 0xE0) ||
        (Byte(head, 0) == 0x0B && Byte(head, 1) == 0x77))
        return Kind::PackedAudio;
    return Kind::Unknown;
}

QString TypeProblem(const QByteArray& contentType) {
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (type.startsWith("text/") || type.contains("html"))
        return QStringLiteral("the server sent text (%1), not a segment")
            .arg(QString::fromLatin1(type.left(64)));
    return QString();
}

QString Problem(const QByteArray& body, bool init) {
    if (body.isEmpty())
        return QStringLiteral("the server sent nothing");
    const Kind kind = KindOf(body);
    if (kind == Kind::Unknown)
        return QStringLiteral("the server sent something that is neither video nor sound");
    if (init && kind != Kind::Mp4 && kind != Kind::WebM)
        return QStringLiteral("it is %1, which no initialisation segment is").arg(NameOf(kind));
    if (kind == Kind::MpegTs)
        return PacketProblem(body, MediaStart(body));
    if (kind == Kind::Mp4) {
        const QString damage = BoxProblem(body, MediaStart(body));
        if (!damage.isEmpty() || !init || HasMovie(body))
            return damage;
        return QStringLiteral("it holds no MP4 header (moov)");
    }
    return QString();
}

QString SequenceProblem(Kind written, const QByteArray& next) {
    const Kind kind = KindOf(next);
    if (written == Kind::Unknown) {
        if (kind == Kind::Mp4 && !HasMovie(next))
            return QStringLiteral("it is a fragment of an MP4 without the initialisation segment "
                                  "that goes before it");
        if (kind == Kind::WebM && !next.startsWith(WebMOpenings().first()))
            return QStringLiteral("it is a piece of a WebM without the initialisation segment "
                                  "that goes before it");
        return QString();
    }
    if (kind != written)
        return QStringLiteral("it is %1, but the segments before it are %2")
            .arg(NameOf(kind), NameOf(written));
    return QString();
}

} // namespace SegmentCheck
