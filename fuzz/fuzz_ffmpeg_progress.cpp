// ffmpeg's "-progress" lines, as a broken or hostile ffmpeg might write them, against any
// length of source the converter program starts with. A line that says nothing is no report;
// a report reads back, as the dialog's side reads it, as a share no larger than the whole.
// The first bytes of the input give the length in seconds, the rest are the lines.
#include "ProgressReport.h"
#include "modProgress.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <sstream>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

void CheckReport(const std::string& report, double total) {
    const size_t prefix = std::strlen(ProgressReport::kPrefix);
    Require(report.compare(0, prefix, ProgressReport::kPrefix) == 0, "a report starts as one");
    Require(report.find('\n') == std::string::npos, "a report is one line");
    const char* numbers = report.c_str() + prefix;
    char* slash = nullptr;
    const double done = std::strtod(numbers, &slash);
    Require(slash != numbers && *slash == '/', "the seconds done come first");
    char* end = nullptr;
    const double whole = std::strtod(slash + 1, &end);
    Require(end != slash + 1 && *end == '\0', "the whole follows, and nothing after it");
    Require(done >= 0 && done <= whole, "done is no more than the whole");
    // Written to a tenth of a second, the whole reads back as it was given.
    Require(std::fabs(whole - total) <= 0.05 + std::fabs(total) * 1e-12, "the whole is whole");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const double total = input.ConsumeFloatingPoint<double>();
    std::istringstream lines(input.ConsumeRemainingBytesAsString());
    for (std::string line; std::getline(lines, line);) {
        const double done = modProgress::OutTimeSeconds(line);
        Require(done < 0 ? done == -1 : std::isfinite(done), "seconds are a number or none");
        Require(done < 0 || line.rfind("out_time_us=", 0) == 0, "only out_time_us counts");
        if (done >= 0 && total > 0) // the converter reports only against a known length
            CheckReport(modProgress::ReportLine(done, total), total);
    }
    return 0;
}
