#include "modHardware.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace modHardware {

namespace {

const char* const kHeader = "vantelo vaapi encoders 1\n";

std::string Key(const std::string& stamp, const std::vector<std::string>& nodes) {
    std::string key = kHeader + stamp + "nodes";
    for (const std::string& node : nodes)
        key += " " + node;
    return key + "\n";
}

std::string Serialized(const modModern::Hardware& hardware) {
    return "device " + hardware.device + "\nh264 " + (hardware.h264 ? "1" : "0") + "\nhevc " +
           (hardware.hevc ? "1" : "0") + "\n";
}

bool ReadCache(const std::string& cacheFile, const std::string& key,
               modModern::Hardware& hardware) {
    std::ifstream in(cacheFile, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    if (!in || text.compare(0, key.size(), key) != 0)
        return false;
    std::istringstream rest(text.substr(key.size()));
    std::string word, device;
    int h264 = -1, hevc = -1;
    rest >> word >> device;
    if (word != "device")
        return false;
    rest >> word >> h264;
    if (word != "h264")
        return false;
    rest >> word >> hevc;
    if (word != "hevc" || h264 < 0 || hevc < 0)
        return false;
    hardware = {device == "-" ? std::string() : device, h264 == 1, hevc == 1};
    return true;
}

// Written beside and renamed into place, so that a reader never sees half a file.
void WriteCache(const std::string& cacheFile, const std::string& key,
                const modModern::Hardware& hardware) {
    modModern::Hardware written = hardware;
    if (written.device.empty())
        written.device = "-";
    const std::string temporary = cacheFile + "." + std::to_string(getpid()) + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << key << Serialized(written);
    out.close();
    if (!out || std::rename(temporary.c_str(), cacheFile.c_str()) != 0)
        std::remove(temporary.c_str());
}

} // namespace

std::string CacheFileBeside(const std::string& encoderCacheFile) {
    const size_t slash = encoderCacheFile.find_last_of('/');
    if (encoderCacheFile.empty() || slash == std::string::npos)
        return std::string();
    return encoderCacheFile.substr(0, slash + 1) + "vaapi-encoders";
}

modModern::Hardware Detect(const modEncoders::EncoderSet& encoders, const std::string& cacheFile,
                           const std::string& stamp, const Probe& probe) {
    modModern::Hardware hardware;
    const bool listed = encoders.Has("h264_vaapi") || encoders.Has("hevc_vaapi");
    if (!listed)
        return hardware;
    const std::vector<std::string> nodes = probe.renderNodes();
    if (nodes.empty())
        return hardware;
    const std::string key = Key(stamp, nodes);
    if (!cacheFile.empty() && ReadCache(cacheFile, key, hardware))
        return hardware;
    for (const std::string& node : nodes) {
        hardware.h264 = encoders.Has("h264_vaapi") && probe.encodes("h264_vaapi", node);
        hardware.hevc = encoders.Has("hevc_vaapi") && probe.encodes("hevc_vaapi", node);
        if (hardware.h264 || hardware.hevc) {
            hardware.device = node;
            break;
        }
    }
    if (!cacheFile.empty())
        WriteCache(cacheFile, key, hardware);
    return hardware;
}

} // namespace modHardware
