#pragma once

// While ffmpeg works, the converter program writes how far it is as lines
// "avformat.dll: progress <done>/<total>", both in seconds of the source, among its output; the
// converter component reads them from the pipe it polls.
namespace ProgressReport {
inline constexpr char kPrefix[] = "avformat.dll: progress ";
} // namespace ProgressReport
