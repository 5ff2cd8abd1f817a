#pragma once
#include <string>

// The converter program's reports to the component that started it (ProgressReport): written on
// a descriptor of their own, which the component names in the environment, and never among
// ffmpeg's text, where a file name could pass for one.
namespace modReport {

// Takes the descriptor the environment names, when it is an open pipe, and keeps it from the
// programs this one starts. Without one, progress goes nowhere and a result's place is told on
// standard error, for whoever ran the program by hand.
void Open();

// Reports how far the run is: a line of modProgress::ReportLine.
void Progress(const std::string& line);

// Reports that the result was saved as `path`.
void SavedAs(const std::string& path);

// The "saved as" line for `path`, without its line break: the path's control characters and
// '%' are written as "%XX", so that any name stays on one line.
std::string SavedAsLine(const std::string& path);

} // namespace modReport
