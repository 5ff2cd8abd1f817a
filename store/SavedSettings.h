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
    // The main window's own choices.
    MaxHeight,
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
// The main window's: the highest height of a video fetched ("0" for the best, "-1" for sound
// alone).
const std::array<Row, 1>& WindowTable();

QString StoredName(SavedSetting key);
// The fixed default, or empty text where the reader makes its own.
QString FixedDefault(SavedSetting key);

// The store's file: QSettings keeps the values in it, and the size guard measures it.
QString StoreFile();

} // namespace SavedSettings
