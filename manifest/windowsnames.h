#pragma once

#include <QDir>
#include <QString>

// True when every name of the normalised relative `path` means on Windows what it says:
// no name ends in a dot or a space (Windows drops them: "a.txt." is "a.txt"), none is a
// device ("CON", "nul.txt", "COM1.log", in any letter case), and none holds a character
// Windows forbids in names (<>:"|?* or a control character; ':' would also open an
// alternate data stream). Empty and "." components are left to isContainedRelativePath.
// On false, `reason` (when given) says in English what is wrong with which name.
bool isWindowsSafePath(const QString &path, QString *reason = nullptr);

// True when a name of `path` with '~' is the 8.3 short name of an installed file or folder
// with another long name ("PROGRA~1" for "Program Files"): the path would then change a file
// that the list names otherwise, or not at all. Names without '~' are no generated short
// names.
bool isShortNameAlias(const QDir &installDir, const QString &path);
