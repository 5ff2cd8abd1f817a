#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <optional>

// Reading the header fields of an HTTP answer. Outside text: anything that is not exactly what
// the field's grammar allows counts as not there, or as invalid where that matters.
namespace Http {

// Header fields in the order sent or received.
using Headers = QList<QPair<QByteArray, QByteArray>>;

// The first field of that name (any letter case); empty when absent.
QByteArray Value(const Headers& headers, QByteArrayView name);
bool Has(const Headers& headers, QByteArrayView name);

// A count of bytes written as plain decimal digits ("1234"): no sign, no blanks, no other
// characters, and within 64 bits.
std::optional<qint64> PlainNumber(QByteArrayView text);

// The length of the body as the answer announces it.
struct BodyLength {
    enum class Kind {
        Absent,  // no Content-Length, or the body is framed in chunks (Transfer-Encoding)
        Known,   // bytes holds it
        Invalid, // a value that is not a count, or two different ones: the body's end is unknown
    };
    Kind kind = Kind::Absent;
    qint64 bytes = -1;
};
BodyLength ContentLength(const Headers& headers);

// A Content-Encoding that says the body is compressed ("gzip", "br"), not sent as stored.
bool IsCompressed(QByteArrayView contentEncoding);

// "Content-Range: bytes first-last/total"; total is -1 for "*".
struct ContentRange {
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = -1;
};
std::optional<ContentRange> ParseContentRange(QByteArrayView value);

// "Retry-After": seconds to wait from `now`, given as seconds or as an HTTP date (a date in the
// past gives 0).
std::optional<qint64> RetryAfterSeconds(QByteArrayView value, const QDateTime& now);

// What a later range request may send in If-Range to be sure it continues the same file: the
// ETag when it is a strong one; without an ETag, Last-Modified when the answer's Date is at
// least a second later; else empty (the file cannot be continued safely).
QByteArray ResumeValidator(const Headers& headers);

} // namespace Http
