#include "modPartialFile.h"

#include <cctype>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace modPartialFile {

namespace {

const std::string kFolderPrefix = ".~avformat-";
const std::string kRandomPart = "XXXXXX"; // mkdtemp's letters and digits
const std::string kFileStem = "partial";

// The partial that a forced end removes, kept where a signal handler can read it: the folder
// as an open descriptor and a path, the file's name. The descriptor is -1 while none is kept.
volatile sig_atomic_t gForcedFolderFd = -1;
char gForcedFolder[PATH_MAX];
char gForcedName[NAME_MAX + 1];

void KeepForForcedEnd(const Partial& partial, const std::string& name) {
    if (partial.folder.size() >= sizeof gForcedFolder || name.size() >= sizeof gForcedName)
        return; // a later run removes the folder instead (RemoveDeadRuns)
    std::memcpy(gForcedFolder, partial.folder.c_str(), partial.folder.size() + 1);
    std::memcpy(gForcedName, name.c_str(), name.size() + 1);
    gForcedFolderFd = partial.folderFd;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The process id in a run folder's name ".~avformat-<pid>-XXXXXX"; 0 when the name is not one.
pid_t FolderOwner(const std::string& name) {
    if (name.rfind(kFolderPrefix, 0) != 0 ||
        name.size() < kFolderPrefix.size() + 2 + kRandomPart.size())
        return 0;
    const size_t dash = name.size() - kRandomPart.size() - 1;
    const std::string pid = name.substr(kFolderPrefix.size(), dash - kFolderPrefix.size());
    if (name[dash] != '-' || !IsDigits(pid) || pid.size() > 9)
        return 0;
    for (size_t i = dash + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return 0;
    return static_cast<pid_t>(std::atol(pid.c_str()));
}

bool IsPartialName(const std::string& name) {
    return name.rfind(kFileStem, 0) == 0 &&
           (name.size() == kFileStem.size() || name[kFileStem.size()] == '.');
}

bool Runs(pid_t pid, const std::string& program) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    return std::getline(comm, name) && name == program;
}

// The user's own private folder, as a run makes it.
bool IsRunFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 07777) == 0700;
}

// Removes a dead run's folder when it holds nothing but its partial file.
void RemoveRunFolder(int parentFd, const std::string& name) {
    const int folderFd =
        openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (folderFd < 0)
        return;
    DIR* dir = fstat(folderFd, &info) == 0 && IsRunFolder(info) ? fdopendir(folderFd) : nullptr;
    if (!dir) {
        close(folderFd);
        return;
    }
    std::string partial;
    int entries = 0;
    bool foreign = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..")
            continue;
        ++entries;
        partial = entryName;
        struct stat entryInfo;
        if (!IsPartialName(entryName) ||
            fstatat(folderFd, entryName.c_str(), &entryInfo, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(entryInfo.st_mode))
            foreign = true;
    }
    if (!foreign && entries <= 1 && (entries == 0 || unlinkat(folderFd, partial.c_str(), 0) == 0))
        unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
    closedir(dir);
}

} // namespace

Partial Make(const std::string& destinationFolder, const std::string& extension) {
    Partial partial;
    std::string folder =
        destinationFolder + "/" + kFolderPrefix + std::to_string(getpid()) + "-" + kRandomPart;
    if (!mkdtemp(&folder[0]))
        return partial;
    partial.folder = folder;
    partial.folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const std::string name = kFileStem + extension;
    if (partial.folderFd >= 0)
        partial.fd = openat(partial.folderFd, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    partial.path = folder + "/" + name;
    if (!partial.Made())
        Discard(partial);
    else
        KeepForForcedEnd(partial, name);
    return partial;
}

bool StillTheFile(int fd, const std::string& path) {
    struct stat made, named;
    return fd >= 0 && fstat(fd, &made) == 0 && lstat(path.c_str(), &named) == 0 &&
           S_ISREG(named.st_mode) && named.st_dev == made.st_dev && named.st_ino == made.st_ino;
}

void Discard(Partial& partial) {
    // Only this process writes in the run's folder, so whatever has the file's name there is
    // the file, or nothing once it was placed.
    if (partial.folderFd >= 0) {
        const std::string name = partial.path.substr(partial.path.find_last_of('/') + 1);
        unlinkat(partial.folderFd, name.c_str(), 0);
    }
    if (!partial.folder.empty())
        rmdir(partial.folder.c_str()); // only when empty, and never through a link
    // Removed: a forced end from here on leaves it alone, and never reaches the descriptor's
    // number once it is free again.
    if (gForcedFolderFd == partial.folderFd)
        gForcedFolderFd = -1;
    if (partial.folderFd >= 0)
        close(partial.folderFd);
    if (partial.fd >= 0)
        close(partial.fd);
    partial = Partial();
}

void DiscardAtForcedEnd() {
    const int folderFd = gForcedFolderFd;
    if (folderFd < 0)
        return;
    unlinkat(folderFd, gForcedName, 0);
    rmdir(gForcedFolder);
}

void RemoveDeadRuns(const std::string& destinationFolder, const std::string& program) {
    const int folderFd = open(destinationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = folderFd >= 0 ? fdopendir(folderFd) : nullptr;
    if (!dir) {
        if (folderFd >= 0)
            close(folderFd);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const pid_t owner = FolderOwner(entry->d_name);
        if (owner > 0 && !Runs(owner, program))
            RemoveRunFolder(folderFd, entry->d_name);
    }
    closedir(dir);
}

} // namespace modPartialFile
