#pragma once

// While ffmpeg works, the converter program writes how far it is as lines
// "avformat.dll: progress <done>/<total>", both in seconds of the source, among its output; the
// converter component reads them from the pipe it polls. A result that could not take the
// destination's name (an earlier file stays there) is named in a line
// "avformat.dll: saved as <path>".
namespace ProgressReport {
inline constexpr char kPrefix[] = "avformat.dll: progress ";
inline constexpr char kSavedAsPrefix[] = "avformat.dll: saved as ";
} // namespace ProgressReport
