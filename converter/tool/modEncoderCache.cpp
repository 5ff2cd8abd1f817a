#include "modEncoderCache.h"

#include "AppVersion.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace modEncoderCache {

namespace {

const char* const kHeader = "vantelo ffmpeg encoders 1\n";
const char* const kListingMark = "listing ";
// A real listing is a few dozen kilobytes; anything far larger is not ours.
constexpr std::streamsize kMaxCacheBytes = 1 << 20;

std::string FileStamp(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return path + " absent";
    char stamp[160];
    std::snprintf(stamp, sizeof stamp, " %lld %lld.%09ld %lld.%09ld %llu",
                  static_cast<long long>(info.st_size), static_cast<long long>(info.st_mtim.tv_sec),
                  info.st_mtim.tv_nsec, static_cast<long long>(info.st_ctim.tv_sec),
                  info.st_ctim.tv_nsec, static_cast<unsigned long long>(info.st_ino));
    return path + stamp;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Up to `limit` bytes of a regular file; nothing when it is anything else. A pipe in its place
// would hold the reader until someone wrote to it.
std::string RegularFileStart(const std::string& path, size_t limit) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    struct stat info;
    std::string content;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        content.resize(limit);
        size_t done = 0;
        while (done < limit) {
            const ssize_t n = read(fd, &content[done], limit - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n == 0 || errno != EINTR)
                break;
        }
        content.resize(done);
    }
    close(fd);
    return content;
}

// The cached listing when the file was written for `stamp` and is complete; empty otherwise.
std::string ReadListing(const std::string& cacheFile, const std::string& stamp) {
    const std::string content =
        RegularFileStart(cacheFile, static_cast<size_t>(kMaxCacheBytes) + 1);
    const std::string expected = kHeader + stamp + kListingMark;
    if (content.size() > static_cast<size_t>(kMaxCacheBytes) ||
        content.compare(0, expected.size(), expected) != 0)
        return std::string();
    const size_t lengthEnd = content.find('\n', expected.size());
    if (lengthEnd == std::string::npos)
        return std::string();
    const std::string length = content.substr(expected.size(), lengthEnd - expected.size());
    const std::string listing = content.substr(lengthEnd + 1);
    // A file cut short by a full disk or a crash has fewer bytes than it announces.
    if (length.empty() || length != std::to_string(listing.size()))
        return std::string();
    return listing;
}

// Creates every missing folder of `path`'s parent, private to the user.
void MakeParentFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return;
    }
}

// Written beside and renamed into place, so that a reader never sees half a file.
void WriteListing(const std::string& cacheFile, const std::string& stamp,
                  const std::string& listing) {
    MakeParentFolders(cacheFile);
    const std::string temporary = cacheFile + "." + std::to_string(getpid()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kHeader << stamp << kListingMark << listing.size() << '\n' << listing;
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), cacheFile.c_str()) != 0)
        std::remove(temporary.c_str());
}

} // namespace

std::string DefaultCacheFile() {
    std::string base = Environment("XDG_CACHE_HOME");
    if (base.empty() || base[0] != '/') {
        const std::string home = Environment("HOME");
        if (home.empty())
            return std::string();
        base = home + "/.cache";
    }
    return base + "/" + AppVersion::Organisation + "/" + AppVersion::Product + "/ffmpeg-encoders";
}

// ldconfig rewrites its cache whenever a package with shared libraries is installed or
// upgraded, so its stamp stands for ffmpeg's libraries (the package database is dpkg's own).
std::string StampOf(const std::string& ffmpeg) {
    return "ffmpeg " + FileStamp(ffmpeg) + "\nlibraries " + FileStamp("/etc/ld.so.cache") +
           "\nLD_LIBRARY_PATH " + Environment("LD_LIBRARY_PATH") + "\n";
}

modEncoders::EncoderSet Cached(const std::string& cacheFile, const std::string& stamp) {
    if (cacheFile.empty())
        return modEncoders::EncoderSet();
    return modEncoders::EncoderSet::FromListing(ReadListing(cacheFile, stamp));
}

void Keep(const std::string& cacheFile, const std::string& stamp, const Answer& answer) {
    if (answer.whole && !cacheFile.empty() &&
        !modEncoders::EncoderSet::FromListing(answer.listing).Empty())
        WriteListing(cacheFile, stamp, answer.listing);
}

modEncoders::EncoderSet Load(const std::string& ffmpeg, const std::string& cacheFile,
                             const std::function<Answer()>& query) {
    // Taken before the query: an ffmpeg replaced meanwhile leaves a stamp that no longer fits.
    const std::string stamp = StampOf(ffmpeg);
    modEncoders::EncoderSet cached = Cached(cacheFile, stamp);
    if (!cached.Empty())
        return cached;
    const Answer answer = query();
    Keep(cacheFile, stamp, answer);
    return modEncoders::EncoderSet::FromListing(answer.listing);
}

} // namespace modEncoderCache
