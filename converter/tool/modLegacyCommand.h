#pragma once
#include <string>
#include <utility>
#include <vector>

// The command line that Vantelo hands to its converter, in the option language of the FFmpeg
// generation it was written for: "-i SOURCE [options...] DESTINATION".
namespace modLegacyCommand {

struct LegacyRequest {
    std::string source;
    std::string dest;
    bool overwrite = false;
    bool deinterlace = false;
    bool sameQuality = false;
    // Options that take a value, in command-line order: {"-b", "768"}, {"-vcodec", "xvid"}...
    std::vector<std::pair<std::string, std::string>> options;
};

struct ParseResult {
    bool ok = false;
    std::string error;
    LegacyRequest request;
};

// Reads the arguments after the program name. The destination is always the last argument and
// the source always the one after "-i", so no file name is ever taken for an option.
ParseResult Parse(const std::vector<std::string>& args);

// True for the options of that generation that take a value ("-b", "-acodec"...).
bool TakesValue(const std::string& option);

} // namespace modLegacyCommand
