#include "modLegacyCommand.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace modLegacyCommand {

namespace {

// Every value option that Vantelo's converter component can write.
const std::array<const char*, 18> kValueOptions = {
    "-b",       "-r", "-s",      "-vcodec",  "-vtag",   "-aspect", "-bt", "-f",  "-target",
    "-bufsize", "-g", "-qscale", "-maxrate", "-acodec", "-atag",   "-ab", "-ar", "-ac"};

// Options whose value is a count, a rate or a size. The largest sensible value of any of them
// (a bit rate in bit/s) stays far below this, and every product the converter forms from one
// stays within an int.
const std::array<const char*, 12> kNumberOptions = {"-b",  "-r",      "-bt",      "-bufsize",
                                                    "-g",  "-qscale", "-maxrate", "-ab",
                                                    "-ar", "-ac",     "-s",       "-aspect"};
constexpr unsigned long long kLargestNumber = 100000000;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// True when every run of digits in `value` is a number no larger than kLargestNumber and no
// number is negative ("320x240", "29.97", "64k", "Auto").
bool NumbersInRange(const std::string& value) {
    for (size_t i = 0; i < value.size();) {
        if (!IsDigit(value[i])) {
            if (value[i] == '-' && i + 1 < value.size() && IsDigit(value[i + 1]))
                return false;
            ++i;
            continue;
        }
        unsigned long long number = 0;
        for (; i < value.size() && IsDigit(value[i]); ++i) {
            number = number * 10 + static_cast<unsigned long long>(value[i] - '0');
            if (number > kLargestNumber)
                return false;
        }
    }
    return true;
}

bool TakesNumber(const std::string& option) {
    return std::any_of(kNumberOptions.begin(), kNumberOptions.end(),
                       [&](const char* known) { return option == known; });
}

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
        } else if (TakesNumber(token) && !NumbersInRange(value)) {
            return Failure("value '" + value + "' of option '" + token +
                           "' is out of range (0 to " + std::to_string(kLargestNumber) + ")");
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
