#include "modReport.h"

#include "ProgressReport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modReport {

namespace {

int gDescriptor = -1;

// The descriptor a text names: decimal digits only, past the standard three.
int DescriptorNamed(const char* text) {
    if (!text || !*text)
        return -1;
    long value = 0;
    for (const char* digit = text; *digit; ++digit) {
        if (*digit < '0' || *digit > '9' || value > 1000000)
            return -1;
        value = value * 10 + (*digit - '0');
    }
    return value > STDERR_FILENO ? static_cast<int>(value) : -1;
}

void WriteLine(const std::string& line) {
    const std::string whole = line + "\n";
    for (size_t done = 0; done < whole.size();) {
        const ssize_t n = write(gDescriptor, whole.data() + done, whole.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the component went away; the run goes on
        done += static_cast<size_t>(n);
    }
}

} // namespace

void Open() {
    const int fd = DescriptorNamed(std::getenv(ProgressReport::kDescriptorVariable));
    unsetenv(ProgressReport::kDescriptorVariable);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode))
        return;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    // A component that stops listening must not end the run (modRun restores it for children).
    std::signal(SIGPIPE, SIG_IGN);
    gDescriptor = fd;
}

void Progress(const std::string& line) {
    if (gDescriptor >= 0)
        WriteLine(line);
}

void SavedAs(const std::string& path) {
    if (gDescriptor >= 0)
        WriteLine(SavedAsLine(path));
    else
        std::fprintf(stderr, "%s%s\n", ProgressReport::kSavedAsPrefix, path.c_str());
}

std::string SavedAsLine(const std::string& path) {
    std::string line = ProgressReport::kSavedAsPrefix;
    for (const char c : path) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace modReport
