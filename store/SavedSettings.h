#pragma once
#include <QString>
#include <array>

// Every value the program keeps in its settings store.
enum class SavedSetting {
    OutputFolder,
    Format,
    VideoCodec,
    VideoBitrate,
    AudioCodec,
    AudioBitrate,
    AudioSampleRate,
    FrameRate,
    VideoSize,
    SameQuality,
    Mono,
    Stereo,
    VideoExtension,
};

// The saved settings: each one's name in the store and its default, and the store's file.
namespace SavedSettings {

struct Row {
    SavedSetting key;
    const char* storedName;
    // What a read gives where nothing usable is stored. Null where the reader makes it at the
    // time: the documents folder for the output folder, for the conversion options what the
    // chosen format put into their controls, for the format the second entry of the list.
    const char* fixedDefault;
};

// The thirteen, in the order the conversion dialog writes them.
const std::array<Row, 13>& Table();

QString StoredName(SavedSetting key);
// The fixed default, or empty text where the reader makes its own.
QString FixedDefault(SavedSetting key);

// The fetcher's own values, kept beside the thirteen (which the conversion dialog reads and
// writes as one list): the highest video height the user wants ("0": any, "-1": sound only), and
// which yt-dlp runs and whether it reads the Firefox profile's cookies.
enum class FetchSetting { MaxHeight, YtDlpProgram, YtDlpBrowserCookies };
struct FetchRow {
    FetchSetting key;
    const char* storedName;
    const char* fixedDefault;
};
const std::array<FetchRow, 3>& FetchTable();
QString StoredName(FetchSetting key);
QString FixedDefault(FetchSetting key);

// The store's file: QSettings keeps the values in it, and the size guard measures it.
QString StoreFile();

} // namespace SavedSettings
