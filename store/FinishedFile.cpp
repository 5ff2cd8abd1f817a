#include "FinishedFile.h"

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

// rename() without replacing: fails with EEXIST when something took the name meanwhile.
int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

// The user's own Trash folder, made when missing. Qt 6.4 builds a relative Trash path, in the
// current folder, when it cannot make this one; so it is made here first (private, as Qt
// would), and a file that went anywhere else is brought back.
bool HomeTrashReady() {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!QDir::isAbsolutePath(dataHome) || !QDir().mkpath(dataHome))
        return false;
    const QString trash = dataHome + QStringLiteral("/Trash");
    ::mkdir(QFile::encodeName(trash).constData(), 0700);
    return QDir().mkpath(trash + QStringLiteral("/files")) &&
           QDir().mkpath(trash + QStringLiteral("/info"));
}

// A Trash folder only the user can reach: theirs, mode 0700, not a link. On a shared file
// system another user may have made the one Qt chose ("/tmp/.Trash-1000"), and could read or
// empty it.
bool IsPrivateFolder(const QString& path) {
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid() && (status.st_mode & 07777) == 0700;
}

bool MoveToTrash(const QString& path) {
    if (!HomeTrashReady())
        return false;
    QString inTrash;
    if (!QFile::moveToTrash(path, &inTrash))
        return false;
    // ".../Trash/files/<name>": the Trash folder is the one above "files".
    const QFileInfo trashed(inTrash);
    const QString trash = trashed.dir().absolutePath().section('/', 0, -2);
    if (QDir::isAbsolutePath(inTrash) && IsPrivateFolder(trash))
        return true;
    // Back where it was, and the note that Qt left of it gone too.
    if (::rename(QFile::encodeName(inTrash).constData(), QFile::encodeName(path).constData()) ==
            0 &&
        QDir::isAbsolutePath(inTrash))
        ::unlink(QFile::encodeName(trash + QStringLiteral("/info/") + trashed.fileName() +
                                   QStringLiteral(".trashinfo"))
                     .constData());
    return false;
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
    const QString name = info.fileName();
    const int dot = name.lastIndexOf('.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int n = 2; n < 1000; ++n) {
        const QString candidate =
            info.path() + '/' + stem + QStringLiteral(" (%1)").arg(n) + extension;
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

Placed OpenFileIntoPlace(int fd, const QString& finished, const QString& destination) {
    if (IsOpenFile(finished, fd))
        return IntoPlace(finished, destination);
    // Nothing of that name (the folder went, say) is told apart from another file in its place.
    Placed refused;
    refused.error = Exists(finished) ? ESTALE : ENOENT;
    return refused;
}

Placed IntoPlace(const QString& finished, const QString& destination) {
    Placed placed;
    const QByteArray from = QFile::encodeName(finished);
    QString target = destination;
    // A few rounds: another program may take the name between the look and the rename.
    for (int round = 0; round < 3; ++round) {
        if (Exists(target)) {
            if (!placed.trashedEarlier && IsPlainFile(target) && MoveToTrash(target))
                placed.trashedEarlier = true;
            else
                target = FreeName(destination);
            if (target.isEmpty()) {
                placed.error = EEXIST;
                return placed;
            }
        }
        placed.error = RenameNoReplace(from, QFile::encodeName(target));
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
