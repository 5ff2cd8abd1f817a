#include "modTargets.h"

#include "modEncoderCache.h"
#include "modHardware.h"
#include "modInput.h"
#include "modRun.h"
#include "modTranslate.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace modTargets {

namespace {

// The render nodes this user may open.
std::vector<std::string> RenderNodes() {
    std::vector<std::string> nodes;
    DIR* dir = opendir("/dev/dri");
    if (!dir)
        return nodes;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string path = "/dev/dri/" + name;
        if (name.rfind("renderD", 0) == 0 && access(path.c_str(), R_OK | W_OK) == 0)
            nodes.push_back(path);
    }
    closedir(dir);
    return nodes;
}

// One frame through the encoder on the node: what the driver offers is only known by trying.
modHardware::Probe SystemProbe(const std::string& ffmpeg) {
    modHardware::Probe probe;
    probe.renderNodes = RenderNodes;
    probe.encodes = [ffmpeg](const std::string& encoder, const std::string& node) {
        bool whole = false;
        modRun::Capture(ffmpeg,
                        {"-hide_banner", "-nostdin", "-v", "error", "-vaapi_device", node, "-f",
                         "lavfi", "-i", "color=size=256x144:duration=0.1", "-vf",
                         "format=nv12,hwupload", "-frames:v", "1", "-c:v", encoder, "-f", "null",
                         "-"},
                        &whole);
        return whole;
    };
    return probe;
}

modModern::Hardware HardwareOf(const std::string& ffmpeg, const modEncoders::EncoderSet& encoders) {
    const std::string cacheFile = modHardware::CacheFileBeside(modEncoderCache::DefaultCacheFile());
    return modHardware::Detect(encoders, cacheFile, modEncoderCache::StampOf(ffmpeg),
                               SystemProbe(ffmpeg));
}

} // namespace

namespace {
modModern::Source Probe(const std::string& ffprobe, const std::string& url) {
    if (ffprobe.empty())
        return modModern::Source();
    std::vector<std::string> args = modInput::FileOnly();
    for (const std::string& arg : modModern::ProbeArguments())
        args.push_back(arg);
    args.push_back(url);
    bool whole = false;
    const std::string listing = modRun::Capture(ffprobe, args, &whole);
    return whole ? modModern::ReadSource(listing) : modModern::Source();
}
} // namespace

modModern::Source ReadSource(const std::string& ffprobe, const std::string& url,
                             const modLegacyCommand::LegacyRequest& request) {
    return modModern::IsModern(request) ? Probe(ffprobe, url) : modModern::Source();
}

std::vector<std::string> Options(const modLegacyCommand::LegacyRequest& request,
                                 const modEncoders::EncoderSet& encoders,
                                 const modModern::Source& source, const std::string& ffmpeg) {
    if (!modModern::IsModern(request))
        return modTranslate::Translate(request, encoders);
    return modModern::PlanFor(request, source, encoders, HardwareOf(ffmpeg, encoders)).options;
}

bool IsPlanCall(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], "--plan") == 0;
}

int PrintPlan(int argc, char** argv) {
    const auto parsed = modLegacyCommand::Parse(std::vector<std::string>(argv + 2, argv + argc));
    if (!parsed.ok)
        return 1;
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    std::string source = parsed.request.source;
    if (!source.empty() && source[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            source = std::string(cwd) + "/" + source;
    }
    // A playlist is refused at Convert: the streams of what it names are not described.
    if (modInput::IsListText(modInput::HeadOf(source)))
        return 0;
    // Legacy targets always encode; they are read only for the note on a missing picture.
    const modModern::Source streams = Probe(ffprobe, modInput::Url(source));
    if (!streams.read || modInput::IsListOfFiles(streams.format))
        return 0;
    if (modModern::IsModern(parsed.request)) {
        const modModern::Plan plan = modModern::PlanFor(
            parsed.request, streams, modEncoders::EncoderSet(), modModern::Hardware());
        std::fputs(modModern::Described(plan.decisions).c_str(), stdout);
    }
    std::fputs(modModern::SoundOnlyNote(parsed.request, streams).c_str(), stdout);
    return 0;
}

} // namespace modTargets
