#include "modInput.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace modInput {

namespace {

constexpr size_t kTsPacket = 188;
constexpr size_t kM2tsPacket = 192; // a 4-byte time before each packet
constexpr unsigned char kTsSync = 0x47;
constexpr size_t kId3Header = 10;

// The readers that open the files a text names: HLS (once "applehttp"), concat scripts, DASH
// manifests and IMF compositions.
constexpr std::array<std::string_view, 6> kListFormats = {"hls",      "applehttp", "concat",
                                                          "ffconcat", "dash",      "imf"};

// The boxes an ISO media file (MP4, QuickTime, a fragment of one) begins with.
constexpr std::array<std::string_view, 12> kFirstBoxes = {
    "ftyp", "styp", "moov", "moof", "sidx", "free", "skip", "mdat", "wide", "pdin", "uuid", "emsg"};

unsigned char Byte(std::string_view head, size_t at) {
    return static_cast<unsigned char>(head[at]);
}

// Sync bytes every `packet` bytes from `first`, at least two, as far as the head reaches
// (three at most).
bool TransportStream(std::string_view head, size_t first, size_t packet) {
    if (head.size() <= first + packet || Byte(head, first) != kTsSync)
        return false;
    for (size_t at = first + packet; at < head.size() && at <= first + 2 * packet; at += packet)
        if (Byte(head, at) != kTsSync)
            return false;
    return true;
}

bool IsoMedia(std::string_view head) {
    if (head.size() < 8)
        return false;
    // A first box is small (ftyp, styp, moof...); a larger one gives its size in 64 bits, after
    // a 1. A text never begins with a zero byte.
    const uint32_t size =
        static_cast<uint32_t>(Byte(head, 1)) << 16 | Byte(head, 2) << 8 | Byte(head, 3);
    if (Byte(head, 0) != 0 || (size > 1 && size < 8)) // 0: the box runs to the end of the file
        return false;
    const std::string_view type = head.substr(4, 4);
    for (std::string_view box : kFirstBoxes)
        if (type == box)
            return true;
    return false;
}

bool Starts(std::string_view head, std::string_view magic) {
    return head.substr(0, magic.size()) == magic;
}

// An MPEG audio frame header: ADTS (AAC) has layer bits 00, MP1/2/3 another layer.
std::string AudioFrame(std::string_view head) {
    if (head.size() < 2 || Byte(head, 0) != 0xFF || (Byte(head, 1) & 0xE0) != 0xE0)
        return std::string();
    if ((Byte(head, 1) & 0xF6) == 0xF0)
        return "aac";
    return (Byte(head, 1) & 0x06) != 0 ? "mp3" : std::string();
}

// The length of an ID3v2 tag at the start (its header, its syncsafe size, a footer when
// flagged); 0 when there is none.
size_t Id3Length(std::string_view head) {
    if (head.size() < kId3Header || !Starts(head, "ID3"))
        return 0;
    size_t size = 0;
    for (size_t i = 6; i < kId3Header; ++i) {
        if (Byte(head, i) & 0x80)
            return 0;
        size = size << 7 | Byte(head, i);
    }
    const bool footer = Byte(head, 5) & 0x10;
    return kId3Header + size + (footer ? kId3Header : 0);
}

} // namespace

std::string Url(const std::string& absolutePath) {
    return "file:" + absolutePath;
}

std::vector<std::string> FileOnly() {
    return {"-protocol_whitelist", "file"};
}

std::vector<std::string> ReadAs(const std::string& demuxer) {
    std::vector<std::string> options = {"-f", demuxer};
    for (const std::string& option : FileOnly())
        options.push_back(option);
    options.insert(options.end(), {"-format_whitelist", demuxer});
    return options;
}

std::string DemuxerOf(std::string_view head) {
    head = head.substr(0, kHeadBytes);
    if (TransportStream(head, 0, kTsPacket) || TransportStream(head, 4, kM2tsPacket))
        return "mpegts";
    if (IsoMedia(head))
        return "mov";
    if (Starts(head, "\x1A\x45\xDF\xA3"))
        return "matroska";
    if (Starts(head, "OggS"))
        return "ogg";
    if (Starts(head, "FLV\x01"))
        return "flv";
    if (Starts(head, "fLaC"))
        return "flac";
    if (head.size() >= 12 && Starts(head, "RIFF") && head.substr(8, 4) == "WAVE")
        return "wav";
    if (const size_t tag = Id3Length(head); tag > 0) {
        // Sound behind a tag: HLS's packed AAC carries one too. A tag longer than the head
        // (a cover picture) is an MP3's.
        if (tag >= head.size())
            return "mp3";
        return AudioFrame(head.substr(tag));
    }
    return AudioFrame(head);
}

bool IsListText(std::string_view head) {
    if (Starts(head, "\xEF\xBB\xBF"))
        head.remove_prefix(3);
    const size_t text = head.find_first_not_of(" \t\r\n");
    head.remove_prefix(text == std::string_view::npos ? head.size() : text);
    return Starts(head, "#EXTM3U") || Starts(head, "ffconcat version");
}

std::string HeadOf(const std::string& path) {
    std::string head(kHeadBytes, '\0');
    // Not blocking: a pipe put in the file's place meanwhile gives nothing rather than a wait.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const ssize_t n = fd >= 0 ? pread(fd, &head[0], head.size(), 0) : -1;
    if (fd >= 0)
        close(fd);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return head;
}

bool IsListOfFiles(const std::string& formatName) {
    // "mov,mp4,m4a,...": a reader's names, any of which may be the one.
    size_t start = 0;
    while (start <= formatName.size()) {
        const size_t comma = std::min(formatName.find(',', start), formatName.size());
        const std::string_view name = std::string_view(formatName).substr(start, comma - start);
        for (std::string_view list : kListFormats)
            if (name == list)
                return true;
        start = comma + 1;
    }
    return false;
}

} // namespace modInput
