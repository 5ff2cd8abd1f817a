// A stand-in for the converter program, built as "avformat.dll" in a folder of its own.
// It writes the arguments it was given into the destination file (the last argument), talks on
// standard output and standard error like a converter, and behaves by the source file's name:
// "hold" keeps it running until it is terminated (at most a minute), "fail" makes it exit with
// an error, anything else ends it normally after a few lines; "half" first reports half of a
// one-minute source done; "taken" puts the result beside the destination, under "<name> (2)",
// and says so as the real converter does when an earlier file keeps the name. Asked for a plan
// ("--plan"), it answers nothing at once.
#include "ProgressReport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {
bool mentions(int argc, char* argv[], const std::string& word) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).find(word) != std::string::npos)
            return true;
    return false;
}

void talk(int lines) {
    for (int i = 0; i < lines; ++i) {
        std::fprintf(stderr, "frame=%d\n", i);
        std::fflush(stderr);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
} // namespace

// "/v/clip.avi" -> "/v/clip (2).avi"
std::string FreeNameBeside(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? path + " (2)"
                                    : path.substr(0, dot) + " (2)" + path.substr(dot);
}

int main(int argc, char* argv[]) {
    // The dialog's question of what would be copied has no answer here.
    if (argc > 1 && std::string(argv[1]) == "--plan")
        return 0;
    std::string result;
    if (argc > 1) {
        result = mentions(argc, argv, "taken") ? FreeNameBeside(argv[argc - 1]) : argv[argc - 1];
        std::ofstream destination(result);
        for (int i = 1; i < argc; ++i)
            destination << argv[i] << '\n';
    }
    std::printf("stand-in converter\n");
    const char* report = std::getenv(ProgressReport::kDescriptorVariable);
    if (mentions(argc, argv, "taken") && report)
        dprintf(std::atoi(report), "%s%s\n", ProgressReport::kSavedAsPrefix, result.c_str());
    std::fflush(stdout);
    if (mentions(argc, argv, "half")) {
        // On the descriptor the component gives for reports, as the converter does.
        if (report)
            dprintf(std::atoi(report), "%s30.0/60.0\n", ProgressReport::kPrefix);
    }
    if (mentions(argc, argv, "hold")) {
        talk(600);
        return 0;
    }
    talk(3);
    return mentions(argc, argv, "fail") ? 1 : 0;
}
