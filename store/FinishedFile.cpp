#include "FinishedFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FinishedFile {

namespace {

// How many names an earlier file may try in a Trash before it stays where it is.
constexpr int kTrashNameTries = 100;

// rename() without replacing: fails with EEXIST when something took the name meanwhile.
int RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to) {
    if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (::linkat(fromFolder, from, toFolder, to, 0) != 0)
        return errno;
    ::unlinkat(fromFolder, from, 0);
    return 0;
}

// A descriptor closed with its scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// The folder `name` under `at`, made private when missing and never reached through a link.
int OpenFolder(int at, const char* name) {
    ::mkdirat(at, name, 0700);
    return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The user's own folder, which the user may write; `privately`: which no one else may enter
// either. Checked on the open folder, so nothing can be put in its place meanwhile.
bool IsOwnFolder(int fd, bool privately) {
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid())
        return false;
    return privately ? (status.st_mode & 07777) == 0700 : (status.st_mode & 0300) == 0300;
}

// A Trash folder only the user can reach: theirs, mode 0700, not a link. On a shared file
// system another user may have made it ("/tmp/.Trash-1000"), and could read or empty it; a
// Trash the user cannot write is no Trash either. -1 when it is not such a folder.
int OpenTrash(int at, const char* name) {
    const int fd = OpenFolder(at, name);
    if (fd >= 0 && !IsOwnFolder(fd, true)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The user's own Trash folder, made when missing (private, as other desktop programs make it).
int OpenHomeTrash() {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!QDir::isAbsolutePath(dataHome) || !QDir().mkpath(dataHome))
        return -1;
    return OpenTrash(AT_FDCWD, QFile::encodeName(dataHome + QStringLiteral("/Trash")).constData());
}

// The mount point of the volume that holds `folder` (a path without links): the highest folder
// above it on the same device.
QByteArray TopFolder(QByteArray folder, dev_t device) {
    while (folder != "/") {
        const int slash = folder.lastIndexOf('/');
        const QByteArray parent = slash > 0 ? folder.left(slash) : QByteArray("/");
        struct stat status;
        if (::stat(parent.constData(), &status) != 0 || status.st_dev != device)
            break;
        folder = parent;
    }
    return folder;
}

// The Trash of another volume than the home's: "$top/.Trash/$uid" under an administrator's
// ".Trash" (sticky, not a link), else "$top/.Trash-$uid". -1 when neither is the user's alone.
int OpenVolumeTrash(const QByteArray& top) {
    const QByteArray uid = QByteArray::number(::getuid());
    const Descriptor topFolder(
        ::open(top.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const Descriptor shared(
        ::openat(topFolder.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (shared.get() >= 0 && ::fstat(shared.get(), &status) == 0 && (status.st_mode & S_ISVTX))
        if (const int trash = OpenTrash(shared.get(), uid.constData()); trash >= 0)
            return trash;
    return OpenTrash(topFolder.get(), (".Trash-" + uid).constData());
}

// The Trash for a file in `folder`: the home Trash on the home's volume, the volume's own on
// another one (a rename cannot cross volumes). -1 when there is none to use.
int OpenTrashFor(const QString& folder) {
    const QByteArray real = QFile::encodeName(QFileInfo(folder).canonicalFilePath());
    struct stat file;
    struct stat home;
    if (real.isEmpty() || ::stat(real.constData(), &file) != 0)
        return -1;
    // The home's volume is its Trash's; without a home Trash, the home folder's, whose files
    // then have none.
    const int homeTrash = OpenHomeTrash();
    const bool onHomeVolume =
        homeTrash >= 0 ? ::fstat(homeTrash, &home) == 0 && home.st_dev == file.st_dev
                       : ::stat(QFile::encodeName(QDir::homePath()).constData(), &home) != 0 ||
                             home.st_dev == file.st_dev;
    if (onHomeVolume)
        return homeTrash;
    if (homeTrash >= 0)
        ::close(homeTrash);
    return OpenVolumeTrash(TopFolder(real, file.st_dev));
}

// What the Trash keeps of a file's origin, so that it can be put back.
QByteArray TrashNote(const QString& path) {
    const QFileInfo info(path);
    const QString origin = QFileInfo(info.path()).canonicalFilePath() + '/' + info.fileName();
    return "[Trash Info]\nPath=" + QFile::encodeName(origin).toPercentEncoding("/") +
           "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toUtf8() +
           '\n';
}

// "<stem> (n).<ext>" for the file name `name`.
QString NumberedName(const QString& name, int n) {
    const int dot = name.lastIndexOf('.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    return stem + QStringLiteral(" (%1)").arg(n) + extension;
}

// Moves `path` into the Trash open as `trash` under a name free there: its note first, made
// only where none is, then the file; a note whose file did not follow goes again.
bool MoveInto(int trash, const QString& path) {
    const Descriptor files(OpenFolder(trash, "files"));
    const Descriptor info(OpenFolder(trash, "info"));
    if (!IsOwnFolder(files.get(), false) || !IsOwnFolder(info.get(), false))
        return false;
    const QByteArray from = QFile::encodeName(path);
    const QByteArray note = TrashNote(path);
    const QString fileName = QFileInfo(path).fileName();
    for (int n = 1; n <= kTrashNameTries; ++n) {
        const QByteArray name = QFile::encodeName(n == 1 ? fileName : NumberedName(fileName, n));
        const QByteArray noteName = name + ".trashinfo";
        const Descriptor noteFile(::openat(info.get(), noteName.constData(),
                                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                           0600));
        if (noteFile.get() < 0 && errno == EEXIST)
            continue;
        if (noteFile.get() < 0)
            return false;
        const int error =
            ::write(noteFile.get(), note.constData(), size_t(note.size())) == note.size()
                ? RenameNoReplace(AT_FDCWD, from.constData(), files.get(), name.constData())
                : EIO;
        if (error == 0)
            return true;
        ::unlinkat(info.get(), noteName.constData(), 0);
        if (error != EEXIST)
            return false;
    }
    return false;
}

bool MoveToTrash(const QString& path) {
    const Descriptor trash(OpenTrashFor(QFileInfo(path).path()));
    return trash.get() >= 0 && MoveInto(trash.get(), path);
}

} // namespace

bool Exists(const QString& path) {
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

namespace {

// Only an earlier result itself goes to the Trash: a folder or a link of that name is the
// user's for other reasons and stays where it is.
bool IsPlainFile(const QString& path) {
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

QString FreeName(const QString& destination) {
    const QFileInfo info(destination);
    for (int n = 2; n < 1000; ++n) {
        const QString candidate = info.path() + '/' + NumberedName(info.fileName(), n);
        if (!Exists(candidate))
            return candidate;
    }
    return QString();
}

bool IsOpenFile(const QString& path, int fd) {
    struct stat named;
    struct stat open;
    return ::lstat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(fd, &open) == 0 &&
           S_ISREG(named.st_mode) && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

Placed OpenFileIntoPlace(int fd, const QString& finished, const QString& destination,
                         const IsEarlierResult& isEarlier) {
    if (IsOpenFile(finished, fd))
        return IntoPlace(finished, destination, isEarlier);
    // Nothing of that name (the folder went, say) is told apart from another file in its place.
    Placed refused;
    refused.error = Exists(finished) ? ESTALE : ENOENT;
    return refused;
}

Placed IntoPlace(const QString& finished, const QString& destination,
                 const IsEarlierResult& isEarlier) {
    Placed placed;
    const QByteArray from = QFile::encodeName(finished);
    QString target = destination;
    // A few rounds: another program may take the name between the look and the rename.
    for (int round = 0; round < 3; ++round) {
        if (Exists(target)) {
            if (!placed.trashedEarlier && IsPlainFile(target) &&
                (!isEarlier || isEarlier(target)) && MoveToTrash(target))
                placed.trashedEarlier = true;
            else
                target = FreeName(destination);
            if (target.isEmpty()) {
                placed.error = EEXIST;
                return placed;
            }
        }
        placed.error = RenameNoReplace(AT_FDCWD, from.constData(), AT_FDCWD,
                                       QFile::encodeName(target).constData());
        if (placed.error == 0) {
            placed.path = target;
            return placed;
        }
        if (placed.error != EEXIST)
            return placed;
    }
    return placed;
}

} // namespace FinishedFile
