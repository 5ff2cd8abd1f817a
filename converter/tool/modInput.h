#pragma once
#include <string>
#include <string_view>
#include <vector>

// How ffmpeg and ffprobe are told to open an input: the file itself and nothing it names. Left
// to guess, ffmpeg reads a text that looks like a playlist ("#EXTM3U", "ffconcat version") as one
// and opens the files it lists, so that a downloaded piece could bring in any local file.
namespace modInput {

// "file:" keeps ffmpeg from reading a name as a protocol ("http:...") or an option ("-x").
std::string Url(const std::string& absolutePath);

// The options before "-i" that keep ffmpeg to the file protocol: no address it meets in the
// file opens a network connection.
std::vector<std::string> FileOnly();

// The options before "-i" that read an input with `demuxer` alone, over the file protocol:
// nothing else is guessed from its bytes, and no other reader may be opened from it.
std::vector<std::string> ReadAs(const std::string& demuxer);

// The demuxer that reads a file beginning with `head` (its first bytes), for the containers
// that streams arrive in: MPEG-TS, MP4/QuickTime (whole or fragmented), Matroska/WebM, Ogg,
// FLV, FLAC, WAV, MP3 and AAC (ADTS). Empty for anything else, a text above all.
std::string DemuxerOf(std::string_view head);

// How many first bytes DemuxerOf looks at, at most.
constexpr size_t kHeadBytes = 4096;

// Whether a file beginning with `head` is a playlist or a concat script ("#EXTM3U", "ffconcat
// version"), a byte order mark or white space before it included: for when ffprobe could not
// read it, say because what it lists cannot be reached.
bool IsListText(std::string_view head);

// The first kHeadBytes of a file, read without blocking; fewer or none when it cannot be read.
std::string HeadOf(const std::string& path);

// Whether ffprobe's format name (its "format_name") is that of a list of other files, such as
// an HLS playlist or a concat script, rather than media.
bool IsListOfFiles(const std::string& formatName);

} // namespace modInput
