// The settings file as a hand edit, a crash or another program might leave it, read through the
// program's settings store in a home of its own; then values written and read back. Whatever
// the file holds, a read gives the default or a cleaned text, and a write is read back as
// written. The home lies in memory (/dev/shm) where there is one, and each input costs one
// reading, one writing and one reading of the store, as the conversion dialog's load and save
// do.
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
    // In memory where possible: the file is rewritten for every input.
    static QTemporaryDir home(QDir("/dev/shm").exists()
                                  ? QStringLiteral("/dev/shm/vantelo-fuzz-XXXXXX")
                                  : QDir::tempPath() + "/vantelo-fuzz-XXXXXX");
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
    RegEdit::NamedTexts wanted;
    for (const char* name : kNames)
        wanted.emplace_back(QString::fromLatin1(name), kDefault);
    for (const QString& value : store.LoadKeys(wanted))
        Require(value == kDefault || value == RegEdit::CleanStoredText(value),
                "a stored value reads as the default or as a cleaned text");
    store.WriteKeys({{QStringLiteral("Format"), written}, {QStringLiteral("Size"), written}});
    const QString expected = RegEdit::CleanStoredText(written);
    const QString readBack = expected.isEmpty() ? kDefault : expected;
    Require(store.LoadKeys(
                {{QStringLiteral("Format"), kDefault}, {QStringLiteral("Size"), kDefault}}) ==
                QStringList({readBack, readBack}),
            "written values read back as written");
    return 0;
}
