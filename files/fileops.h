#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// The file layer: every rename, link, copy, flush and removal of the installation and the
// cache, and every platform difference in handling files, goes through here. Paths are Qt
// paths (forward slashes); the Windows side passes them as UTF-16 to the wide-character API.
// Renames and removals that meet a file in use are retried there for a few seconds; a
// read-only file in their way loses its attribute at once.
namespace fileops {

// What stands at a path, without following a symbolic link at the path itself.
enum class Kind { Missing, File, Folder, Other };
Kind kindOf(const QString &path);
inline bool exists(const QString &path)
{
    return kindOf(path) != Kind::Missing;
}

// True when `relativePath` names a regular file below `folder`: the path does not leave the
// folder, and what stands there is a file on a disk (no folder, link, device, FIFO or socket,
// which a read could block on).
bool isRegularFileInside(const QString &folder, const QString &relativePath);

// Renames `from` to `to`, replacing a file at `to` in one step: `to` holds either its
// previous content or the new one, never nothing.
bool replace(const QString &from, const QString &to);

// Makes `to` (which must not exist) a second name of the file `from`. Where the file
// system refuses links (another volume, no support), copies instead, with the source's
// permissions: into `copyTemp`, flushed, then renamed to `to`, so `to` only ever appears
// whole. An empty `copyTemp` copies straight into `to`.
bool linkOrCopy(const QString &from, const QString &to, const QString &copyTemp = QString());

// Makes `to` (which must not exist) a file with the content of `from` that no other user can
// change once it is made: a second link where `from` is the process user's own and (POSIX)
// nobody else may write it, else a flushed copy that (POSIX) only its owner may write.
bool stagePrivately(const QString &from, const QString &to);

// Makes `to` a hard link of the file `from`; false where that is refused.
bool createLink(const QString &from, const QString &to);

// Copies the bytes and the permissions of `from` into a new file `to`; copyFlushed also
// flushes it to the disk (before the permissions, which may make it read-only). A failed copy
// leaves no `to` behind.
bool copyFile(const QString &from, const QString &to);
bool copyFlushed(const QString &from, const QString &to);

// Gives the file `to` the permissions of the file `from`: the mode bits on POSIX, the
// read-only, hidden, system and archive attributes on Windows.
bool copyPermissions(const QString &from, const QString &to);

// Removes a file or a symbolic link; a missing path counts as removed. A read-only file on
// Windows loses its attribute first.
bool remove(const QString &path);

// Removes what stands at `path`, a folder with everything below it (links are removed, never
// followed); a missing path counts as removed.
bool removeTree(const QString &path);

// Removes a folder that is empty; false when it is not (or cannot be removed).
bool removeEmptyFolder(const QString &path);

// Writes `bytes` to a temporary file beside `path`, flushes it, renames it over `path`
// and syncs the folder: an interruption leaves either the old or the new content.
bool writeAtomically(const QString &path, const QByteArray &bytes);

// Flushes the file's content, or the folder's entries, to the disk.
bool flushFile(const QString &path);
bool syncFolder(const QString &path);

// Makes `files` (all below `folder`) durable with their names, in one step where the system
// offers one (Linux: syncfs of the file system that holds `folder`). On Windows each file was
// flushed by flushWritten before it got its name, so nothing is left to do. On failure
// `failed` names the file, or the folder, that could not be flushed.
bool flushFiles(const QString &folder, const QStringList &files, QString *failed);
// For a file just written through `file` (open), before it gets its listed name: flushes it
// by its handle where flushFiles has no one-step barrier (Windows); elsewhere does nothing.
bool flushWritten(QFile &file);
// Asks the system to start writing bytes [from, to) of `file` (open) to the disk now, so
// that a later flush has less left to do. Only a hint: nothing is reported.
void startWriteBack(QFile &file, qint64 from, qint64 to);

// Opens `file` for reading from start to end, telling the system so where it takes the hint.
bool openSequential(QFile &file);

// True where a file can be renamed while it runs but neither overwritten nor removed:
// the running program itself on Windows. Such a file is moved aside, not linked.
bool isRunningImage(const QString &path);

// The name the file system keeps for the entry at `path`, which on Windows is its long
// name even when `path` ends in an 8.3 short name ("PROGRA~1"); empty when nothing is there.
QString storedName(const QString &path);

// True where file names follow Windows' rules: letter case ignored, trailing dots and spaces
// dropped, device names in every folder, 8.3 short names beside the long ones.
bool windowsNameRules();

// The suffix of an executable's file name: ".exe" on Windows, empty elsewhere.
QString executableSuffix();

// Suffix of the temporary name beside a file that writeAtomically uses.
QString temporarySuffix();

} // namespace fileops
