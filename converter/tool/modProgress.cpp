#include "modProgress.h"

#include "ProgressReport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace modProgress {

double OutTimeSeconds(const std::string& line) {
    static const std::string key = "out_time_us=";
    if (line.compare(0, key.size(), key) != 0)
        return -1;
    char* end = nullptr;
    const long long microseconds = std::strtoll(line.c_str() + key.size(), &end, 10);
    if (end == line.c_str() + key.size() || microseconds < 0)
        return -1;
    return microseconds / 1e6;
}

std::string ReportLine(double done, double total) {
    const double shown = std::clamp(done, 0.0, total);
    // "%.1f" writes every digit: the length a damaged file claims can take hundreds of them.
    const int size =
        std::snprintf(nullptr, 0, "%s%.1f/%.1f", ProgressReport::kPrefix, shown, total);
    std::string text(size_t(std::max(size, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, "%s%.1f/%.1f", ProgressReport::kPrefix, shown,
                  total);
    return text;
}

} // namespace modProgress
