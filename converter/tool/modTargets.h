#pragma once
#include "modEncoders.h"
#include "modLegacyCommand.h"
#include "modModern.h"

#include <string>
#include <vector>

// Which rules make the ffmpeg options of a command line: today's targets are planned from the
// source's streams (modModern), the sixteen formats of the first versions are translated from
// their old option language (modTranslate).
namespace modTargets {

// The source's streams, read with ffprobe for today's targets only (the sixteen need none).
modModern::Source ReadSource(const std::string& ffprobe, const std::string& url,
                             const modLegacyCommand::LegacyRequest& request);

// The ffmpeg options between the input and the output file.
std::vector<std::string> Options(const modLegacyCommand::LegacyRequest& request,
                                 const modEncoders::EncoderSet& encoders,
                                 const modModern::Source& source, const std::string& ffmpeg);

// "avformat.dll --plan -i SOURCE [options] DESTINATION": prints, one a line, whether each
// stream of the source would be copied or encoded and why, and converts nothing.
bool IsPlanCall(int argc, char** argv);
int PrintPlan(int argc, char** argv);

} // namespace modTargets
