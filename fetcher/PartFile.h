#pragma once
#include "FinishedFile.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The file a download is written to until it is whole: "<name>.flv.part" beside the final
// name. It is never reached through a link, never written while it has another name too, and
// held (flock) by the download that writes it. It carries a note of what it holds (the video,
// the whole length, the server's validator) so that a later download can continue it.
namespace PartFile {

QString PathFor(const QString& finalPath);

// Opens the file for writing, creating it when missing, and holds it until it is closed.
// Refused: a link of that name (ELOOP), anything that is not a plain file (EEXIST), a file
// with other names (EMLINK: writing would change them too), a file that another download
// holds (EWOULDBLOCK). -1 and errno on failure.
int OpenForWriting(const QString& path);
// The same for a file that is already there: nothing is created.
int OpenExisting(const QString& path);
// Whether OpenForWriting refused the file as one to leave alone: another's use of it (EMLINK,
// EWOULDBLOCK), or no plain file at all (a link, a folder, a pipe): a fresh file beside it does
// for this download.
bool IsLeftAlone(int error);
// A new file, opened and held as OpenForWriting does, under the first free name beside `path`
// ("<name>.flv (2).part"), which `path` is set to. -1 and errno on failure.
int CreateBeside(QString& path);

struct Note {
    QByteArray videoId;
    qint64 total = -1;
    QByteArray validator;
};
// Records what the file holds; an empty validator or an unknown total removes the note, as
// such a file cannot be continued safely.
void WriteNote(int fd, const Note& note);

// An open file's size and note.
struct Leftover {
    qint64 size = 0;
    std::optional<Note> note;
};
Leftover Inspect(int fd);

// Marks a finished file with the video it holds: the note's attribute with the video alone, so
// that it is never continued as a .part, while a download of the same video knows it as its
// own earlier file. An empty id removes the mark.
void WriteMark(int fd, const QByteArray& videoId);
void WriteMark(const QString& path, const QByteArray& videoId);
// The video a file (not a link) holds by its note or mark; empty when it has none.
QByteArray MarkOf(const QString& path);
// For placing a finished file: a file at the name is its earlier copy only when marked with the
// same video; another video's file or one of the user's is not.
FinishedFile::IsEarlierResult IsSameVideo(const QByteArray& videoId);

} // namespace PartFile
