// yt-dlp's answers as a site (or a broken yt-dlp) might make them: the JSON of a page, its
// progress and error lines. Whatever they hold, only http(s) addresses are taken, the choice
// names formats that exist, and header values carry no line break.
#include "YtDlpInfo.h"
#include "YtDlpOutput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

bool IsWeb(const QUrl& url) {
    return url.isEmpty() || url.scheme() == QLatin1String("http") ||
           url.scheme() == QLatin1String("https");
}

void CheckInfo(const YtDlpInfo& info) {
    Require(IsWeb(info.Thumbnail), "the thumbnail is an http(s) address");
    Require(info.DurationSeconds >= 0, "the duration is not negative");
    for (const YtDlpFormat& format : info.Formats) {
        Require(IsWeb(format.Address), "stream addresses are http(s)");
        for (const auto& fragment : format.Fragments)
            Require(IsWeb(fragment.Address) && !fragment.Address.isEmpty(),
                    "fragment addresses are http(s)");
        for (const auto& header : format.HttpHeaders)
            Require(!header.second.contains('\r') && !header.second.contains('\n'),
                    "header values hold no line break");
    }
    for (const int height : {0, 360, 720}) {
        for (const bool ourOnly : {false, true}) {
            const YtDlpChoice choice = info.ChooseDefault(height, ourOnly);
            Require(choice.Video < info.Formats.size() && choice.Audio < info.Formats.size(),
                    "the choice names formats that exist");
            if (ourOnly && choice.Video >= 0)
                Require(info.Formats[choice.Video].FetchedByUs(), "ours only means ours");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    if (const std::optional<YtDlpInfo> info = YtDlpInfo::Parse(bytes))
        CheckInfo(*info);
    for (const QByteArray& line : bytes.split('\n')) {
        if (const auto error = YtDlpOutput::ErrorOfLine(line))
            Require(error->Reason.size() <= 300, "reasons are cut");
        if (const auto progress = YtDlpOutput::ParseProgressLine(line))
            Require(progress->Bytes >= 0, "byte counts are not negative");
    }
    YtDlpOutput::UpdateHint(QString::fromUtf8(bytes.left(64)), QDate(2024, 6, 1));
    return 0;
}
