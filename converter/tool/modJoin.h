#pragma once
#include <string>
#include <vector>

// "avformat.dll --join OUTPUT INPUT...": joins every stream of the inputs (a video and its sound,
// or MPEG-TS that belongs in an MP4) into OUTPUT by stream copy, never by encoding. The container
// follows OUTPUT's extension. The result is written to the run's partial file (modPartialFile)
// and takes OUTPUT's name only while no file has it: an existing file is never replaced.
namespace modJoin {

bool IsJoinCall(int argc, char** argv);

// Runs the join of the arguments after "--join" and returns the exit status; a failure is
// named in one line on standard error. `program` is this program's name, for its lines.
int Run(const char* program, const std::vector<std::string>& args);

// The muxer that writes a joined file of this name ("clip.m4a" -> "ipod"); empty when the
// extension names no container a join writes.
std::string MuxerForFile(const std::string& path);

// ffmpeg's arguments for the join of `inputUrls` into `outputUrl` (ffmpeg URLs) with `muxer`:
// the video and sound of every input, copied, and the progress report on descriptor 3.
std::vector<std::string> CommandLine(const std::vector<std::string>& inputUrls,
                                     const std::string& outputUrl, const std::string& muxer);

} // namespace modJoin
