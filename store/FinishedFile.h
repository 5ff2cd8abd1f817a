#pragma once
#include <QString>
#include <functional>

// Puts a finished result under its final name without destroying what was there: an earlier
// file of that name goes to the desktop Trash first when it is the same result made before;
// where there is no Trash only the user can reach, the name is a folder's or a link's, or the
// file is another one, that stays, and the result takes the first free name
// "<name> (2).<ext>", "<name> (3).<ext>"...
namespace FinishedFile {

// Whether the plain file at a path is an earlier copy of the result being placed. Unset: any
// plain file of the name is.
using IsEarlierResult = std::function<bool(const QString& path)>;

struct Placed {
    // Where the result now is; empty when it could not be moved into place.
    QString path;
    // The earlier file went to the Trash.
    bool trashedEarlier = false;
    // errno of the failed rename (0 when placed).
    int error = 0;
};

// Moves `finished` (a file in the destination's folder) to `destination`.
Placed IntoPlace(const QString& finished, const QString& destination,
                 const IsEarlierResult& isEarlier = {});

// Whether `path` itself (a link of that name is not followed) is the plain file open as `fd`:
// the same device and inode, not another file or a link put in its place.
bool IsOpenFile(const QString& path, int fd);

// IntoPlace for a result the caller holds open as `fd`: only while `finished` still names that
// file; otherwise nothing moves and the error is ESTALE (ENOENT when nothing has that name).
Placed OpenFileIntoPlace(int fd, const QString& finished, const QString& destination,
                         const IsEarlierResult& isEarlier = {});

// "<name> (n).<ext>" for n = 2, 3, ... the first that names nothing, or empty text.
QString FreeName(const QString& destination);

// Whether anything (a file, a folder, a link, dangling or not) has that name.
bool Exists(const QString& path);

} // namespace FinishedFile
