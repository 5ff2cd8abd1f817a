#pragma once
#include <QtGlobal>
#include <optional>

// When a broken transfer is tried again, and after how long.
namespace Retries {

// Tries after the first one.
constexpr int MaxRetries = 5;
// The most of a server's Retry-After that is waited, in units of the base wait (seconds).
constexpr qint64 MaxRetryAfter = 60;

// Answers that say "not now" rather than "no": server errors, 408 Request Timeout, 429 Too
// Many Requests.
bool IsRetryableStatus(int status);

// The wait before retry number `retry` (1 for the first): 1, 2, 4, 8, 16 base waits, or the
// server's Retry-After (in seconds, counted in base waits) up to MaxRetryAfter of them.
qint64 WaitMs(int retry, qint64 baseWaitMs, std::optional<qint64> retryAfterSeconds);

} // namespace Retries
