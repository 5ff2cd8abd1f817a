#pragma once
#include "modEncoders.h"
#include "modLegacyCommand.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Turns the legacy converter command line into options that today's ffmpeg accepts. Every
// rewrite is one row of TranslationTable(), applied in the table's order.
namespace modTranslate {

using Option = std::pair<std::string, std::string>;

// The conversion while the rules rewrite it.
struct Plan {
    std::vector<Option> options; // legacy names until the last rule renames them
    bool deinterlace = false;
    bool sameQuality = false;
    bool target = false;          // "-target" given: ffmpeg picks format and codecs itself
    std::string container;        // the muxer that writes the file; empty when unknown
    std::string legacyVideoCodec; // the codec name as the command line gave it
    std::string legacyAudioCodec; // likewise
    std::string legacyContainer;  // the muxer the destination's name chose
    std::vector<std::string> videoFilters;
    std::vector<Option> extra; // options of today's ffmpeg that rules add
    std::string player;        // "ipod" or "psp": the portable player a format is made for
    int peakKbits = 0;         // the highest bit rate the video may reach; 0 when unbounded
    const modEncoders::EncoderSet* encoders = nullptr;

    bool Has(const std::string& name) const;
    std::string Get(const std::string& name) const;
    void Set(const std::string& name, const std::string& value); // in place, or appended
    void Erase(const std::string& name);
    void Rename(const std::string& from, const std::string& to);
};

struct Rule {
    const char* what;
    const char* why;
    std::function<void(Plan&)> apply;
};

// The rules, in the order they are applied.
const std::vector<Rule>& TranslationTable();

// The muxer that writes a file of this name ("clip.mpg" -> "mpeg"); empty when unknown.
std::string ContainerForFile(const std::string& path);

// The ffmpeg options that go between the input and the output file.
std::vector<std::string> Translate(const modLegacyCommand::LegacyRequest& request,
                                   const modEncoders::EncoderSet& encoders);

// The frame-rate, sample-rate and bit-rate helpers, exposed for tests.
int NearestSampleRate(const std::string& encoder, int rate);
int NearestMp2Bitrate(int sampleRate, int kbits);

// The whole ffmpeg command line of a conversion from `sourceUrl` to `outputUrl` (ffmpeg URLs)
// with the output `options` (Translate's, or those of a format of today): the progress report on
// descriptor 3 when asked for, and the video dropped for a source of sound alone. The source is
// opened over the file protocol alone and, when its format is given (ffprobe's format name), as
// that format alone.
std::vector<std::string> CommandLine(const std::vector<std::string>& options,
                                     const std::string& sourceUrl, const std::string& outputUrl,
                                     bool audioOnly, bool reportProgress,
                                     const std::string& sourceFormat = std::string());

} // namespace modTranslate
