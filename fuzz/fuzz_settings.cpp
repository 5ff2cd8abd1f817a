// The settings file as a hand edit, a crash or another program might leave it, read through the
// program's settings store in a home of its own; then a value written and read back. Whatever
// the file holds, a read gives the default or a cleaned text, and a write is read back as
// written.
#include "RegEdit.h"

#include "AppVersion.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

// Some of the names the program stores its choices under, and one the file may lack.
const char* const kNames[] = {"OutputFolder", "Format", "Size", "AudioCodec", "Missing"};
const QString kDefault = QStringLiteral("the default");

QString& SettingsFile() {
    static QString path;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // QSettings finds the file through XDG_CONFIG_HOME once per process.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    SettingsFile() = QSettings(AppVersion::Organisation, AppVersion::Product).fileName();
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qint64 runs = 0;
    FuzzedDataProvider input(data, size);
    const std::string raw = input.ConsumeRandomLengthString(256);
    const QString written = QString::fromUtf8(input.ConsumeRandomLengthString(128).c_str());
    const std::string fileText = input.ConsumeRemainingBytesAsString();

    const QString cleaned = RegEdit::CleanStoredText(QString::fromUtf8(raw.data(), raw.size()));
    Require(!cleaned.startsWith(QLatin1Char(' ')) && !cleaned.contains(QChar(0)),
            "a cleaned text has no leading space and no NUL");

    QFile file(SettingsFile());
    Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the settings file opens");
    file.write(fileText.data(), qint64(fileText.size()));
    file.flush(); // written before its time is set, or the write would set the time again
    // Each run's file is a new state of the file, as the user's next start would see it.
    file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++runs),
                     QFileDevice::FileModificationTime);
    file.close();

    RegEdit store;
    for (const char* name : kNames) {
        const QString value = store.LoadKey(QString::fromLatin1(name), kDefault);
        Require(value == kDefault || value == RegEdit::CleanStoredText(value),
                "a stored value reads as the default or as a cleaned text");
    }
    store.WriteKey(QStringLiteral("Format"), written);
    const QString expected = RegEdit::CleanStoredText(written);
    Require(store.LoadKey(QStringLiteral("Format"), kDefault) ==
                (expected.isEmpty() ? kDefault : expected),
            "a written value reads back as written");
    return 0;
}
