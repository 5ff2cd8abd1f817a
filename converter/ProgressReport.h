#pragma once

// While ffmpeg works, the converter program reports how far it is as lines
// "avformat.dll: progress <done>/<total>", both in seconds of the source. A result that could not
// take the destination's name (an earlier file stays there) is named in a line
// "avformat.dll: saved as <path>", the path's control characters and '%' written as "%XX". The
// reports go to the descriptor that the component names in the environment variable
// kDescriptorVariable, never among ffmpeg's text.
namespace ProgressReport {
inline constexpr char kPrefix[] = "avformat.dll: progress ";
inline constexpr char kSavedAsPrefix[] = "avformat.dll: saved as ";
inline constexpr char kDescriptorVariable[] = "VANTELO_REPORT_FD";
} // namespace ProgressReport
