// A page of today as any server might send it, through the standards reader, and the first bytes
// of an answer through the stream sniffing. Whatever the page holds, only http and https
// addresses come out, the page never offers itself as its own player, and the candidates stand
// in their order of preference.
#include "MediaSniff.h"
#include "StandardsPage.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

void RequireFollowable(const QUrl& address, const char* what) {
    const QString scheme = address.scheme();
    Require(scheme == QLatin1String("http") || scheme == QLatin1String("https"), what);
    Require(!address.host().isEmpty(), what);
}

const char* const kPages[] = {"https://news.example/story/42?x=1#top", "http://a.example/",
                              "https://b.example/deep/path/page.html", ""};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QUrl page(
        QString::fromUtf8(kPages[input.ConsumeIntegralInRange<size_t>(0, std::size(kPages) - 1)]));
    const std::string contentType = input.ConsumeRandomLengthString(64);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray body(rest.data(), qsizetype(rest.size()));

    const MediaSniff::Media sniffed =
        MediaSniff::Sniff(QByteArray::fromStdString(contentType), body);
    Require(sniffed.IsStream() || sniffed.Extension.isEmpty(), "only a stream has an extension");
    if (sniffed.IsStream())
        Require(!MediaSniff::LooksLikePage(body) || MediaSniff::FromBytes(body).IsStream(),
                "a page is never a stream by its Content-Type alone");

    const StandardsPage::Findings found = StandardsPage::Read(QString::fromUtf8(body), page);
    for (const MediaCandidate& candidate : found.Candidates) {
        RequireFollowable(candidate.Address, "a candidate is an http(s) address");
        Require(candidate.Kind != MediaSniff::StreamKind::None, "a candidate is a stream");
        Require(!found.PlayerPages.contains(candidate.Address), "a stream is not a player page");
    }
    Require(MediaChoice::Ranked(found.Candidates).size() == found.Candidates.size(),
            "ranking keeps every candidate");
    for (qsizetype i = 0; i < found.Candidates.size(); ++i)
        Require(MediaChoice::Ranked(found.Candidates).at(i).Address ==
                    found.Candidates.at(i).Address,
                "the candidates come ranked");
    const QUrl pageItself = page.adjusted(QUrl::RemoveFragment);
    for (const QUrl& player : found.PlayerPages) {
        RequireFollowable(player, "a player page is an http(s) address");
        Require(player.adjusted(QUrl::RemoveFragment) != pageItself,
                "the page is not its own player");
    }
    if (!found.Thumbnail.isEmpty())
        RequireFollowable(found.Thumbnail, "the thumbnail is an http(s) address");
    Require(found.DurationSeconds >= 0, "no negative duration");
    return 0;
}
