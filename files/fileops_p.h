#pragma once

#include <QFile>
#include <QString>

// Shared by the portable and the platform parts of the file layer.
namespace fileops {

// True when the regular file at `path` lies on a disk: on Windows a name like "CON" or
// "nul.txt" opens a device in any folder.
bool isDiskFile(const QString &path);

// Opens `file` (its name set) as a new file that only this user may read or write, so that
// nobody else holds it open while it is written.
bool createNewFile(QFile &file);
// Flushes the content written through `file` (open) to the disk.
bool flushOpenFile(QFile &file);

// True when the regular file at `path` belongs to the process user and (POSIX) nobody else
// may write it.
bool isPrivateFile(const QString &path);
// Takes the write permission of group and others from the file at `path`.
bool denyOthersWrite(const QString &path);

} // namespace fileops
