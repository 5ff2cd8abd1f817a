// A stand-in converter for the benchmark: writes megabytes of progress text in 4 KB lines, with a
// few milliseconds of work before each line, like a busy converter that talks a lot. The count
// of megabytes is its last argument (the destination, when it runs as the converter); written
// as "blank<count>", the 4 KB pieces are blank lines instead.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Work(std::chrono::microseconds amount) {
    const auto end = std::chrono::steady_clock::now() + amount;
    volatile unsigned sink = 0;
    while (std::chrono::steady_clock::now() < end)
        sink = sink + 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string count = argc > 1 ? argv[argc - 1] : "5";
    const bool blank = count.rfind("blank", 0) == 0;
    const long megabytes = std::atol(count.c_str() + (blank ? 5 : 0));
    const long lines = megabytes * 256; // 4 KB each
    const std::string line = blank ? std::string(4096, '\n') : std::string(4095, 'x') + "\n";
    for (long i = 0; i < lines; ++i) {
        Work(std::chrono::microseconds(4000));
        for (size_t done = 0; done < line.size();) {
            const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
            if (n <= 0)
                return 1;
            done += static_cast<size_t>(n);
        }
    }
    return 0;
}
