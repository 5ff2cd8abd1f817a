#pragma once
#include <string>
#include <vector>

// "avformat.dll --join OUTPUT INPUT...": joins every stream of the inputs (a video and its sound,
// or MPEG-TS that belongs in an MP4) into OUTPUT by stream copy, never by encoding. The container
// follows OUTPUT's extension; a file of sound (.m4a, .mka, .ogg, .opus, .mp3) takes only the
// inputs' sound. Each input is read as the container its first bytes name (MPEG-TS,
// MP4 and the others streams arrive in) and as nothing else; one that is none is refused. The
// result is written to the run's partial file (modPartialFile)
// and takes OUTPUT's name only while no file has it: an existing file is never replaced.
namespace modJoin {

bool IsJoinCall(int argc, char** argv);

// Runs the join of the arguments after "--join" and returns the exit status; a failure is
// named in one line on standard error. `program` is this program's name, for its lines.
int Run(const char* program, const std::vector<std::string>& args);

} // namespace modJoin
