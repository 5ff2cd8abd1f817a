#include "modLegacyCommand.h"

#include <algorithm>
#include <array>

namespace modLegacyCommand {

namespace {

// Every value option that Vantelo's converter component can write.
const std::array<const char*, 18> kValueOptions = {
    "-b",       "-r", "-s",      "-vcodec",  "-vtag",   "-aspect", "-bt", "-f",  "-target",
    "-bufsize", "-g", "-qscale", "-maxrate", "-acodec", "-atag",   "-ab", "-ar", "-ac"};

ParseResult Failure(const std::string& message) {
    ParseResult result;
    result.error = message;
    return result;
}

bool SetFlag(LegacyRequest& request, const std::string& token) {
    if (token == "-y")
        request.overwrite = true;
    else if (token == "-deinterlace")
        request.deinterlace = true;
    else if (token == "-sameq")
        request.sameQuality = true;
    else
        return false;
    return true;
}

} // namespace

bool TakesValue(const std::string& option) {
    return std::any_of(kValueOptions.begin(), kValueOptions.end(),
                       [&](const char* known) { return option == known; });
}

ParseResult Parse(const std::vector<std::string>& args) {
    if (args.size() < 3)
        return Failure("usage: avformat.dll -i SOURCE [options] DESTINATION");
    ParseResult result;
    LegacyRequest& request = result.request;
    request.dest = args.back();
    bool haveSource = false;
    const size_t end = args.size() - 1;
    for (size_t i = 0; i < end; ++i) {
        const std::string& token = args[i];
        if (SetFlag(request, token))
            continue;
        const bool isInput = token == "-i";
        if (!isInput && !TakesValue(token))
            return Failure("unrecognized option '" + token + "'");
        if (i + 1 >= end)
            return Failure("option '" + token + "' needs a value");
        const std::string& value = args[++i];
        if (isInput) {
            request.source = value;
            haveSource = true;
        } else {
            request.options.emplace_back(token, value);
        }
    }
    if (!haveSource)
        return Failure("no input file given with -i");
    result.ok = true;
    return result;
}

} // namespace modLegacyCommand
