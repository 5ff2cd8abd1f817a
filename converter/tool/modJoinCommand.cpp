#include "modJoinCommand.h"

#include "modInput.h"

#include <algorithm>
#include <cctype>

namespace modJoinCommand {

namespace {

struct Container {
    const char* extension;
    const char* muxer;
    // A file of sound: only the inputs' sound goes in.
    bool sound;
};

// The containers a join writes, by the extension of the output's name.
constexpr Container kContainers[] = {
    {".mp4", "mp4", false},     {".m4v", "mp4", false},   {".m4a", "ipod", true},
    {".mov", "mov", false},     {".webm", "webm", false}, {".mkv", "matroska", false},
    {".mka", "matroska", true}, {".ts", "mpegts", false}, {".ogg", "ogg", true},
    {".opus", "opus", true},    {".mp3", "mp3", true},    {".flv", "flv", false},
};

// The MP4 family: the index goes before the media, so that a player can start before the end.
bool IndexFirst(const std::string& muxer) {
    return muxer == "mp4" || muxer == "ipod" || muxer == "mov";
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const Container* ContainerOf(const std::string& path) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return nullptr;
    const std::string extension = Lowered(name.substr(dot));
    for (const Container& container : kContainers)
        if (extension == container.extension)
            return &container;
    return nullptr;
}

} // namespace

std::string MuxerForFile(const std::string& path) {
    const Container* container = ContainerOf(path);
    return container ? container->muxer : std::string();
}

bool IsSoundFile(const std::string& path) {
    const Container* container = ContainerOf(path);
    return container && container->sound;
}

std::vector<std::string> CommandLine(const std::vector<Input>& inputs, const std::string& outputUrl,
                                     const std::string& muxer, bool soundOnly) {
    std::vector<std::string> args = {"-hide_banner", "-nostdin",  "-loglevel", "error",
                                     "-y",           "-progress", "pipe:3"};
    for (const Input& input : inputs) {
        const std::vector<std::string> readAs = modInput::ReadAs(input.demuxer);
        args.insert(args.end(), readAs.begin(), readAs.end());
        args.insert(args.end(), {"-i", modInput::Url(input.path)});
    }
    // Picture and sound; data such as an MPEG-TS's ID3 tags has no place in most containers.
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!soundOnly)
            args.insert(args.end(), {"-map", std::to_string(i) + ":v?"});
        args.insert(args.end(), {"-map", std::to_string(i) + ":a?"});
    }
    args.insert(args.end(), {"-c", "copy"});
    if (IndexFirst(muxer))
        args.insert(args.end(), {"-movflags", "+faststart"});
    args.insert(args.end(), {"-f", muxer, outputUrl});
    return args;
}

} // namespace modJoinCommand
