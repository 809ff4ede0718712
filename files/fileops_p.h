#pragma once

#include <QString>

// Shared by the portable and the platform parts of the file layer.
namespace fileops {

// True when the regular file at `path` lies on a disk: on Windows a name like "CON" or
// "nul.txt" opens a device in any folder.
bool isDiskFile(const QString &path);

} // namespace fileops
