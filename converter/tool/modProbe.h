#pragma once

// "avformat.dll --probe FILE": what a finished download holds, read back by ffprobe, so that the
// program calls a download complete only when its file plays as long as its stream list says.
// Prints "video N", "audio N" and "seconds S", one a line; a file that cannot be read gives a
// line on standard error and exit status 1.
namespace modProbe {

bool IsProbeCall(int argc, char** argv);
int Run(const char* program, int argc, char** argv);

} // namespace modProbe
