#include "PartFile.h"

#include <QFile>
#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace PartFile {

namespace {

// An extended attribute of the file itself: it goes wherever the file goes and no other file
// is left behind. On a file system without them the file is simply not continued later.
constexpr const char* kNoteAttribute = "user.vantelo.download";
constexpr int kNoteMax = 4096;

bool IsPlainFile(int fd) {
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// O_NONBLOCK: a pipe or device of that name must not hold the open up; O_NOFOLLOW: a link of
// that name is not followed, wherever it points.
int OpenPlain(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    if (!IsPlainFile(fd)) {
        ::close(fd);
        errno = EEXIST;
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
    return OpenPlain(path, O_WRONLY | O_CREAT);
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

std::optional<Leftover> Inspect(const QString& path) {
    const int fd = OpenPlain(path, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    Leftover leftover;
    struct stat status;
    if (::fstat(fd, &status) == 0)
        leftover.size = status.st_size;
    QByteArray text(kNoteMax, Qt::Uninitialized);
    const ssize_t length = ::fgetxattr(fd, kNoteAttribute, text.data(), size_t(text.size()));
    ::close(fd);
    if (length <= 0)
        return leftover;
    const QList<QByteArray> parts = text.left(length).split('\n');
    bool isNumber = false;
    const qint64 total = parts.value(1).toLongLong(&isNumber);
    if (parts.size() == 3 && isNumber && !parts[2].isEmpty())
        leftover.note = Note{parts[0], total, parts[2]};
    return leftover;
}

} // namespace PartFile
