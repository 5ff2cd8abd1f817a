// Answer header fields as a server might send them, through what the transfers read of them:
// the body's length, the range of a partial answer, Retry-After, the resume validator.
// Whatever they hold, a length is a count of bytes and a range lies within its total.
#include "HttpHeaders.h"
#include "Retries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

const char* const kNames[] = {
    "Content-Length", "content-length", "Transfer-Encoding", "Content-Range",
    "Retry-After",    "ETag",           "Last-Modified",     "Date"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Http::Headers headers;
    while (input.remaining_bytes() > 0 && headers.size() < 8) {
        const char* name = input.PickValueInArray(kNames);
        const std::string value = input.ConsumeRandomLengthString(256);
        headers.append({QByteArray(name), QByteArray::fromStdString(value)});
    }

    const Http::BodyLength length = Http::ContentLength(headers);
    Require((length.kind == Http::BodyLength::Kind::Known) == (length.bytes >= 0),
            "a known length is a count, an unknown one is -1");
    if (length.kind == Http::BodyLength::Kind::Known)
        Require(Http::PlainNumber(
                    Http::Value(headers, "Content-Length").split(',').value(0).trimmed()) ==
                    length.bytes,
                "a known length is the number the server wrote");

    if (const auto range = Http::ParseContentRange(Http::Value(headers, "Content-Range"))) {
        Require(range->first >= 0 && range->first <= range->last, "a range runs forwards");
        Require(range->total == -1 || range->last < range->total, "a range lies within its total");
    }

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    if (const auto seconds = Http::RetryAfterSeconds(Http::Value(headers, "Retry-After"), now)) {
        Require(*seconds >= 0, "a wait is not negative");
        const qint64 wait = Retries::WaitMs(1, 1000, seconds);
        Require(wait >= 0 && wait <= Retries::MaxRetryAfter * 1000, "a wait is at most a minute");
    }

    const QByteArray validator = Http::ResumeValidator(headers);
    Require(validator.isEmpty() || validator == Http::Value(headers, "ETag").trimmed() ||
                validator == Http::Value(headers, "Last-Modified").trimmed(),
            "the validator is the answer's own");
    Require(!validator.startsWith("W/"), "a weak ETag never goes in If-Range");
    Require(validator.isEmpty() || !Http::Has(headers, "ETag") || validator.startsWith('"'),
            "a date never goes in If-Range where an ETag is named");
    return 0;
}
