#include "PartFile.h"

#include "FinishedFile.h"

#include <QFile>
#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace PartFile {

namespace {

// An extended attribute of the file itself: it goes wherever the file goes and no other file
// is left behind. On a file system without them the file is simply not continued later.
constexpr const char* kNoteAttribute = "user.vantelo.download";
constexpr int kNoteMax = 4096;

// A plain file with no other name: writing it changes nothing else.
int CheckPlainFile(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EEXIST;
    return status.st_nlink == 1 ? 0 : EMLINK;
}

// O_NONBLOCK: a pipe or device of that name must not hold the open up; O_NOFOLLOW: a link of
// that name is not followed, wherever it points. The lock keeps a second download (another
// copy of the program) from writing the same file.
int OpenHeld(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    int reason = CheckPlainFile(fd);
    if (reason == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = errno == EINTR ? EWOULDBLOCK : errno;
    if (reason != 0) {
        ::close(fd);
        errno = reason;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

QString PathFor(const QString& finalPath) {
    return finalPath + QStringLiteral(".part");
}

int OpenForWriting(const QString& path) {
    return OpenHeld(path, O_CREAT);
}

int OpenExisting(const QString& path) {
    return OpenHeld(path, 0);
}

bool IsLeftAlone(int error) {
    // ELOOP: a link (O_NOFOLLOW); ENXIO: a pipe or socket without a reader (O_NONBLOCK).
    return error == EMLINK || error == EWOULDBLOCK || error == ELOOP || error == EISDIR ||
           error == ENXIO || error == EEXIST;
}

int CreateBeside(QString& path) {
    // A few rounds: another program may take the free name between the look and the open.
    for (int round = 0; round < 3; ++round) {
        const QString candidate = FinishedFile::FreeName(path);
        if (candidate.isEmpty())
            break;
        const int fd = OpenHeld(candidate, O_CREAT | O_EXCL);
        if (fd >= 0)
            path = candidate;
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

void WriteNote(int fd, const Note& note) {
    if (note.validator.isEmpty() || note.total < 0 || note.videoId.contains('\n') ||
        note.validator.contains('\n')) {
        ::fremovexattr(fd, kNoteAttribute);
        return;
    }
    const QByteArray text =
        note.videoId + '\n' + QByteArray::number(note.total) + '\n' + note.validator;
    if (text.size() > kNoteMax ||
        ::fsetxattr(fd, kNoteAttribute, text.constData(), size_t(text.size()), 0) != 0)
        ::fremovexattr(fd, kNoteAttribute);
}

Leftover Inspect(int fd) {
    Leftover leftover;
    struct stat status;
    if (::fstat(fd, &status) == 0)
        leftover.size = status.st_size;
    QByteArray text(kNoteMax, Qt::Uninitialized);
    const ssize_t length = ::fgetxattr(fd, kNoteAttribute, text.data(), size_t(text.size()));
    if (length <= 0)
        return leftover;
    const QList<QByteArray> parts = text.left(length).split('\n');
    bool isNumber = false;
    const qint64 total = parts.value(1).toLongLong(&isNumber);
    if (parts.size() == 3 && isNumber && !parts[2].isEmpty())
        leftover.note = Note{parts[0], total, parts[2]};
    return leftover;
}

void WriteMark(int fd, const QByteArray& videoId) {
    if (videoId.isEmpty() || videoId.contains('\n') ||
        ::fsetxattr(fd, kNoteAttribute, videoId.constData(), size_t(videoId.size()), 0) != 0)
        ::fremovexattr(fd, kNoteAttribute);
}

void WriteMark(const QString& path, const QByteArray& videoId) {
    const QByteArray name = QFile::encodeName(path);
    if (videoId.isEmpty() || videoId.contains('\n') ||
        ::lsetxattr(name.constData(), kNoteAttribute, videoId.constData(), size_t(videoId.size()),
                    0) != 0)
        ::lremovexattr(name.constData(), kNoteAttribute);
}

QByteArray MarkOf(const QString& path) {
    QByteArray text(kNoteMax, Qt::Uninitialized);
    const ssize_t length = ::lgetxattr(QFile::encodeName(path).constData(), kNoteAttribute,
                                       text.data(), size_t(text.size()));
    if (length <= 0)
        return QByteArray();
    text.truncate(length);
    const qsizetype end = text.indexOf('\n');
    return end < 0 ? text : text.left(end);
}

FinishedFile::IsEarlierResult IsSameVideo(const QByteArray& videoId) {
    return [videoId](const QString& path) { return !videoId.isEmpty() && MarkOf(path) == videoId; };
}

} // namespace PartFile
