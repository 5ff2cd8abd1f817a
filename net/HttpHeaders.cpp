#include "HttpHeaders.h"

#include <limits>

namespace Http {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text of a field's value without the blanks around it.
QByteArrayView Trimmed(QByteArrayView text) {
    return text.trimmed();
}

} // namespace

QByteArray Value(const Headers& headers, QByteArrayView name) {
    for (const auto& header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    return QByteArray();
}

bool Has(const Headers& headers, QByteArrayView name) {
    for (const auto& header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::optional<qint64> PlainNumber(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

BodyLength ContentLength(const Headers& headers) {
    // Chunks carry their own lengths, and then any Content-Length is to be ignored.
    if (Has(headers, "Transfer-Encoding"))
        return {};
    BodyLength length;
    for (const auto& header : headers) {
        if (header.first.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        // A list of one value repeated ("5, 5") is the same length, as is a repeated field.
        for (const QByteArray& item : header.second.split(',')) {
            const std::optional<qint64> bytes = PlainNumber(Trimmed(item));
            if (!bytes || (length.kind == BodyLength::Kind::Known && length.bytes != *bytes))
                return {BodyLength::Kind::Invalid, -1};
            length = {BodyLength::Kind::Known, *bytes};
        }
    }
    return length;
}

bool IsCompressed(QByteArrayView contentEncoding) {
    const QByteArray coding = contentEncoding.trimmed().toByteArray().toLower();
    return !coding.isEmpty() && coding != "identity";
}

std::optional<ContentRange> ParseContentRange(QByteArrayView value) {
    value = Trimmed(value);
    if (!value.startsWith("bytes "))
        return std::nullopt;
    value = value.sliced(6);
    const qsizetype dash = value.indexOf('-');
    const qsizetype slash = value.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    const auto first = PlainNumber(value.first(dash));
    const auto last = PlainNumber(value.sliced(dash + 1, slash - dash - 1));
    const QByteArrayView totalText = value.sliced(slash + 1);
    const auto total = totalText == "*" ? std::optional<qint64>(-1) : PlainNumber(totalText);
    if (!first || !last || !total || *first > *last || (*total >= 0 && *last >= *total))
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

namespace {

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"); invalid when the text is none.
QDateTime HttpDate(QByteArrayView value) {
    // It ends in GMT, which Qt's reading of the mail date format does not take; "+0000" says
    // the same.
    QString text = QString::fromLatin1(value.data(), value.size());
    if (text.endsWith(QLatin1String(" GMT")))
        text = text.chopped(3) + QLatin1String("+0000");
    return QDateTime::fromString(text, Qt::RFC2822Date);
}

} // namespace

std::optional<qint64> RetryAfterSeconds(QByteArrayView value, const QDateTime& now) {
    value = Trimmed(value);
    if (const auto seconds = PlainNumber(value))
        return seconds;
    const QDateTime when = HttpDate(value);
    if (!when.isValid())
        return std::nullopt;
    return std::max<qint64>(0, (now.msecsTo(when) + 999) / 1000);
}

QByteArray ResumeValidator(const Headers& headers) {
    // If-Range takes a strong ETag, or a date that is strong itself; whoever names an ETag,
    // even a weak one, is judged by it alone, and a weak one may not stand in If-Range.
    if (Has(headers, "ETag")) {
        const QByteArray etag = Value(headers, "ETag").trimmed();
        return etag.size() >= 2 && etag.startsWith('"') && etag.endsWith('"') ? etag : QByteArray();
    }
    // A file changed twice within the second of its Last-Modified keeps that date: only an
    // answer made at least a second later vouches that the date names one content.
    const QByteArray lastModified = Value(headers, "Last-Modified").trimmed();
    const QDateTime modified = HttpDate(lastModified);
    const QDateTime answered = HttpDate(Value(headers, "Date").trimmed());
    if (!modified.isValid() || !answered.isValid() || modified.secsTo(answered) < 1)
        return QByteArray();
    return lastModified;
}

} // namespace Http
