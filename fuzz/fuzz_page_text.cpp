// A page as the server might send it, through everything the fetcher does with the page text:
// decoding, the address rules, the extraction of the details, title cleaning, the target path.
// Whatever the page holds, the target is a ".flv" file directly in the output folder, and a page
// of today's one with its own extension.
#include "PageText.h"
#include "modMain.h"

#include <QFileInfo>
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

// The output folders a user may have; the folder is the user's own text, never the page's.
const char* const kFolders[] = {
    "/home/user/Documents/Morvane/Vantelo", "/out/", "/", "", "relative/folder", "/srv/a b/../c"};

void CheckTarget(const QString& folder, const QString& title, const QString& videoId) {
    const QString path = PageText::TargetFilePath(folder, title, videoId);
    Require(PageText::IsTargetFilePath(folder, path), "the target passes the path check");
    const QString prefix = modMain::AddSlash(folder);
    Require(path.startsWith(prefix), "the target lies in the output folder");
    const QString name = path.mid(prefix.size());
    Require(name.endsWith(QLatin1String(".flv")), "the target ends in .flv");
    Require(!name.contains(QLatin1Char('/')) && !name.contains(QChar(0)),
            "the target lies directly in the output folder");
    Require(QFileInfo(path).fileName() == name, "the file system sees the same name");
    const QString stem = name.chopped(4);
    Require(!stem.isEmpty(), "the name is never only the extension");
    Require(stem.at(0) != QLatin1Char('.') && !stem.at(0).isSpace(),
            "no hidden name, no leading space");
    for (qsizetype i = 0; i < stem.size(); ++i) {
        const QChar c = stem.at(i);
        char32_t code = c.unicode();
        if (c.isHighSurrogate()) {
            Require(i + 1 < stem.size() && stem.at(i + 1).isLowSurrogate(),
                    "no character is split");
            code = QChar::surrogateToUcs4(c, stem.at(++i));
        } else {
            Require(!c.isLowSurrogate(), "no half character in the name");
        }
        const QChar::Category category = QChar::category(code);
        Require(category != QChar::Other_Control, "no control character in the name");
        Require(category != QChar::Other_Format, "no format character (bidi, zero-width)");
        Require(category != QChar::Separator_Line && category != QChar::Separator_Paragraph,
                "no line or paragraph separator");
    }
    Require(stem.size() <= 20, "the name takes at most 20 characters of the title");
}

// A page of today's name: the whole title, within the bytes a file name may have.
void CheckWholeTitle(const QString& folder, const QString& title, const QString& extension) {
    const QString path = PageText::WholeTitleFilePath(folder, title, extension);
    if (path.isEmpty()) {
        Require(!PageText::IsPlainExtension(extension), "a plain extension names a target");
        return;
    }
    Require(PageText::IsTargetFilePath(folder, path, extension), "the name passes the path check");
    const QString stem = path.mid(modMain::AddSlash(folder).size()).chopped(extension.size() + 1);
    Require(!stem.startsWith(QLatin1Char('-')), "no name that reads as an option");
    Require(stem.toUtf8().size() <= PageText::MaxNameBytes, "the name fits the file system");
    Require(QString::fromUtf8(stem.toUtf8()) == stem, "no character is split");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QString folder = QString::fromUtf8(
        kFolders[input.ConsumeIntegralInRange<size_t>(0, std::size(kFolders) - 1)]);
    const std::string contentType = input.ConsumeRandomLengthString(64);
    const std::string address = input.ConsumeRandomLengthString(256);
    const QString extension = QString::fromStdString(input.ConsumeRandomLengthString(8));
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray body(rest.data(), qsizetype(rest.size()));

    const QString page = PageText::DecodePage(body, QByteArray::fromStdString(contentType));
    const QString url = PageText::RepairDoubledScheme(QString::fromStdString(address));
    if (PageText::IsVideoPageAddress(url)) {
        const auto host = PageText::HostName(url);
        PageText::ThumbnailPreview(PageText::AddressVideoId(url));
        PageText::VideoPage fields;
        PageText::ReadTitle(page, fields);
        PageText::ReadDetails(page, fields);
        PageText::DownloadUrl(host.value_or(QString()), fields.PageVideoId, fields.PageToken);
        CheckTarget(folder, fields.VideoTitle, PageText::AddressVideoId(url));
    }
    PageText::VideoPage fields;
    PageText::ReadTitle(page, fields);
    CheckTarget(folder, fields.VideoTitle, url);
    // The title rules alone, on text no page decoder has seen.
    CheckTarget(folder, PageText::CleanTitle(PageText::LeftWhole(page, 50)), page);
    CheckWholeTitle(folder, PageText::CleanTitle(page), extension);
    CheckWholeTitle(folder, PageText::CleanTitle(PageText::TitleOfAddress(QUrl(url))), "mp4");
    // A container's extension from outside: plain, or no target at all.
    const QString other = PageText::TargetFilePath(folder, fields.VideoTitle, url, extension);
    Require(other.isEmpty() != PageText::IsPlainExtension(extension),
            "only a plain extension names a target");
    Require(other.isEmpty() || (PageText::IsTargetFilePath(folder, other, extension) &&
                                other.endsWith(QLatin1Char('.') + extension)),
            "the target with its extension passes the path check");
    return 0;
}
