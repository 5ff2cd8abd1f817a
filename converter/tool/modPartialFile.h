#pragma once
#include <string>

// The file a run writes its result to before it is whole: made by the converter itself, in a
// folder of its own beside the destination ("<folder>/.~avformat-<pid>-XXXXXX", mode 0700), so
// that no name another party chose or linked is ever written through, and only what a run made
// is ever cleaned away.
namespace modPartialFile {

struct Partial {
    std::string folder; // the run's own folder
    std::string path;   // the file in it, for ffmpeg
    int folderFd = -1;
    int fd = -1; // the file as made, to tell it from anything put under its name later
    bool Made() const { return fd >= 0; }
};

// Makes the run's folder in `destinationFolder` and in it the empty file "partial<extension>",
// exclusively and without following links. Nothing is made (Made() is false) when either fails.
Partial Make(const std::string& destinationFolder, const std::string& extension);

// Whether `path` still names the regular file open as `fd`, neither removed nor swapped for a
// link or another file.
bool StillTheFile(int fd, const std::string& path);

// Removes the file when it is still in the run's folder, then the folder, and lets go of both.
void Discard(Partial& partial);

// Removes the file and the folder of the partial made last and not yet discarded, with
// async-signal-safe calls alone: for a process that must end at once (modRun's forced end).
void DiscardAtForcedEnd();

// Removes what runs of `program` that no longer run left in `destinationFolder`: only their
// own folders, holding nothing but their partial file; every other name stays.
void RemoveDeadRuns(const std::string& destinationFolder, const std::string& program);

} // namespace modPartialFile
