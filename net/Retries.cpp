#include "Retries.h"

#include <algorithm>

namespace Retries {

bool IsRetryableStatus(int status) {
    return (status >= 500 && status <= 599) || status == 408 || status == 429;
}

qint64 WaitMs(int retry, qint64 baseWaitMs, std::optional<qint64> retryAfterSeconds) {
    if (retryAfterSeconds)
        return std::min(*retryAfterSeconds, MaxRetryAfter) * baseWaitMs;
    return baseWaitMs << std::clamp(retry - 1, 0, MaxRetries - 1);
}

} // namespace Retries
