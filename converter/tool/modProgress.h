#pragma once
#include <string>

// ffmpeg's "-progress" output turned into the converter program's progress lines.
namespace modProgress {

// The seconds of output ffmpeg has written, from its "out_time_us=" line; negative for any
// other line, and while ffmpeg does not know ("N/A").
double OutTimeSeconds(const std::string& line);

// The line that reports `done` of `total` seconds (ProgressReport), without its line break.
std::string ReportLine(double done, double total);

} // namespace modProgress
