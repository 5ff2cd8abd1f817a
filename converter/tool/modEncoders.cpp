#include "modEncoders.h"

#include <sstream>

namespace modEncoders {

namespace {

// "libxvidcore MPEG-4 part 2 (codec mpeg4)" names its codec at the end; plain encoders don't.
std::string CodecFromDescription(const std::string& description, const std::string& name) {
    const std::string marker = "(codec ";
    const size_t at = description.rfind(marker);
    if (at == std::string::npos)
        return name;
    const size_t start = at + marker.size();
    const size_t close = description.find(')', start);
    if (close == std::string::npos)
        return name;
    return description.substr(start, close - start);
}

} // namespace

EncoderSet EncoderSet::FromListing(const std::string& listing) {
    EncoderSet set;
    std::istringstream lines(listing);
    std::string line;
    bool inTable = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string flags, name;
        fields >> flags >> name;
        if (!inTable) {
            inTable = flags.rfind("------", 0) == 0;
            continue;
        }
        if (flags.empty() || name.empty())
            continue;
        std::string description;
        std::getline(fields, description);
        set.Add(name, flags[0], CodecFromDescription(description, name));
    }
    return set;
}

void EncoderSet::Add(const std::string& name, char kind, const std::string& codec) {
    encoders_[name] = Encoder{kind, codec};
}

std::string EncoderSet::CodecOf(const std::string& name) const {
    const auto found = encoders_.find(name);
    return found == encoders_.end() ? name : found->second.codec;
}

} // namespace modEncoders
