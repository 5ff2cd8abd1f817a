#pragma once
#include <string>
#include <vector>

// The ffmpeg command line of a join ("avformat.dll --join"): every input read with the demuxer
// its first bytes name and nothing else (modInput), its video and sound copied into the
// container of the output's extension.
namespace modJoinCommand {

// One input of a join: its full path and the demuxer that reads it.
struct Input {
    std::string path;
    std::string demuxer;
};

// The muxer that writes a joined file of this name ("clip.m4a" -> "ipod"); empty when the
// extension names no container a join writes.
std::string MuxerForFile(const std::string& path);

// Whether a file of this name holds sound alone ("clip.m4a", "clip.opus", "clip.mka"): a join
// into it takes only the inputs' sound, so that the sound of a video is had by stream copy.
bool IsSoundFile(const std::string& path);

// ffmpeg's arguments for the join of `inputs` into `outputUrl` (an ffmpeg URL) with `muxer`:
// the video (unless `soundOnly`) and sound of every input, copied, and the progress report on
// descriptor 3.
std::vector<std::string> CommandLine(const std::vector<Input>& inputs, const std::string& outputUrl,
                                     const std::string& muxer, bool soundOnly);

} // namespace modJoinCommand
