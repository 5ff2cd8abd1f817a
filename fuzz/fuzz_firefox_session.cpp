// A session file and a profiles.ini as a damaged disk or another program might leave them,
// through everything the browser pickup reads from them: the LZ4 frame, the session's JSON and
// the profile list. Nothing may crash; an undecodable file reads as nothing.
#include "FirefoxSession.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string ini = input.ConsumeRandomLengthString(1024);
    const std::string title = input.ConsumeRandomLengthString(64);
    const bool compressed = input.ConsumeBool();
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray file(rest.data(), qsizetype(rest.size()));

    const QStringList profiles =
        FirefoxSession::StartProfilePaths(QByteArray::fromStdString(ini), "/home/user/.mozilla");
    if (FirefoxSession::DefaultProfilePath(QByteArray::fromStdString(ini), "/home/user/.mozilla") !=
        profiles.value(0))
        abort();

    // Either the whole mozLz40 file, or JSON as if it had decoded to this.
    const std::optional<QByteArray> json =
        compressed ? FirefoxSession::DecodeMozLz4(file) : std::optional<QByteArray>(file);
    if (!json)
        return 0;
    FirefoxSession::SelectedTabUrl(*json, QString::fromUtf8(title.c_str()));
    FirefoxSession::SelectedTabUrl(*json, FirefoxSession::MostRecentWindowTitle(*json));
    return 0;
}
