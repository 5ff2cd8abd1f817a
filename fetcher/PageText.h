#pragma once
#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// The text work of the fetcher: checking a video page address, reading the video's details out
// of the page with fixed markers and naming the target file. No network, no files.
namespace PageText {

// The domain of the video service and the host of its thumbnails.
inline const QString VideoDomain = QStringLiteral("youtube.com");
inline const QString ThumbnailHost = QStringLiteral("img.youtube.com");

// The address with every "http://http://" replaced by "http://" in one pass.
QString RepairDoubledScheme(const QString& address);
// True when the address names a video page: the domain directly followed by "/watch?v=".
bool IsVideoPageAddress(const QString& address);
// True when the address is on the video service's own site (its host, or one below it, in any
// letter case): such addresses are only ever read as its video pages.
bool IsVideoServiceAddress(const QString& address);
// The host part: from the 8th character up to the next "/"; nothing when there is no "/".
std::optional<QString> HostName(const QString& address);
// The video id of the address: after "/watch?v=", up to a further "/watch?v=" or "&".
QString AddressVideoId(const QString& address);

// The page text between a start marker and an end marker, 1-based as follows: s is the
// position of the start marker plus the offset (an absent marker counts as position 0); e is the
// first end marker at or after s. Nothing when e < s (the field then keeps its old value).
std::optional<QString> ExtractBetween(const QString& page, const QString& startMarker, int offset,
                                      const QString& endMarker);
// What the fetcher reads from a video page. A field whose markers fail keeps its value.
struct VideoPage {
    QString VideoTitle;
    QString VideoCat;
    QString UserID;
    QString UploadDate;
    QString ViewCount;
    QString VideoDesc;
    QString PageVideoId;
    QString PageToken;
};
// Reads the title (cut to 50 characters, then cleaned).
void ReadTitle(const QString& page, VideoPage& fields);
// Reads the stream's id and token and the five details after the title, in that order.
void ReadDetails(const QString& page, VideoPage& fields);

// Removes every control character (NUL included), format character (bidi overrides,
// zero-width ones), line and paragraph separator and every half of a surrogate pair that lacks
// its other half, then the title's entity and punctuation strings, each everywhere, in a fixed
// order.
QString CleanTitle(const QString& text);
// At most `length` UTF-16 units of the text, cut before a character that would be split.
QString LeftWhole(const QString& text, int length);
// The target file's path: the folder with a trailing "/", 20 characters of the title without
// leading dots and spaces, "." and the extension (".flv" for the pages of the 2008 layout). A
// title that leaves nothing gives "<video id>.<extension>". An extension that is not 1 to 5
// lower-case letters and digits gives empty text.
QString TargetFilePath(const QString& outputFolder, const QString& videoTitle,
                       const QString& videoId, const QString& extension = QStringLiteral("flv"));
// The most UTF-8 bytes of a name made from a title of today: the longest name made from it,
// "<name> (999).<ext>.video.part" with an extension of 5, stays within the 255 bytes a file
// name may have.
inline constexpr int MaxNameBytes = 255 - int(sizeof(" (999).12345.video.part") - 1);
// The target file's path for a page of today: the folder with a trailing "/", the whole title
// without leading dots, dashes and spaces, cut before the character that would pass
// MaxNameBytes, "." and the extension. A title that leaves nothing gives "video.<extension>";
// an extension that is not 1 to 5 lower-case letters and digits gives empty text.
QString WholeTitleFilePath(const QString& outputFolder, const QString& title,
                           const QString& extension);
// The title of a stream known by its address alone: the last part of its path, percent-decoded,
// without slashes and without its extension ("clip1080" for ".../media/clip1080.mp4").
QString TitleOfAddress(const QUrl& address);
// True when the path names a visible file with that extension directly in the output folder,
// and holds none of the characters titles lose: only such a path may be written.
bool IsTargetFilePath(const QString& outputFolder, const QString& path,
                      const QString& extension = QStringLiteral("flv"));
// 1 to 5 lower-case ASCII letters and digits: an extension that may end a target file's name.
bool IsPlainExtension(const QString& extension);
// The description, or empty text when it carries a link.
QString DescriptionWithoutLinks(const QString& description);
// The address of the video stream.
QString DownloadUrl(const QString& hostName, const QString& pageVideoId, const QString& pageToken);

// The blank preview page and the thumbnail preview for a video id (HTML-escaped here).
QString BlankPreview();
QString ThumbnailPreview(const QString& addressVideoId);
// The preview of a page of another site: its picture (HTML-escaped here).
QString ImagePreview(const QString& imageAddress);
// Text made safe to stand inside HTML text and quoted attribute values.
QString HtmlEscaped(const QString& text);

// The page bytes as text, decoded by the character set the response or the page declares.
QString DecodePage(const QByteArray& body, const QByteArray& contentType);
// The "charset" parameter of a Content-Type value; empty when absent.
QByteArray CharsetOfContentType(const QByteArray& contentType);
// The character set a <meta> tag near the page's start declares; empty when none.
QByteArray CharsetOfMeta(const QByteArray& body);

} // namespace PageText
