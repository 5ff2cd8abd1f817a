#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The file a download is written to until it is whole: "<name>.flv.part" beside the final
// name. It is never reached through a link, and it carries a note of what it holds (the
// video, the whole length, the server's validator) so that a later download can continue it.
namespace PartFile {

QString PathFor(const QString& finalPath);

// Opens the file for writing, creating it when missing: a link of that name is refused
// (ELOOP), as is anything that is not a plain file (EEXIST). -1 and errno on failure.
int OpenForWriting(const QString& path);

struct Note {
    QByteArray videoId;
    qint64 total = -1;
    QByteArray validator;
};
// Records what the file holds; an empty validator or an unknown total removes the note, as
// such a file cannot be continued safely.
void WriteNote(int fd, const Note& note);

// A plain file of that name (links not followed): its size and its note.
struct Leftover {
    qint64 size = 0;
    std::optional<Note> note;
};
std::optional<Leftover> Inspect(const QString& path);

} // namespace PartFile
