#pragma once

#include "manifest.h"

#include <QDir>
#include <QList>
#include <QString>

// The rules for the paths of a list: which paths the updater installs and which it refuses.

// True when a normalised path stays inside the folder it is resolved against:
// not empty, not absolute, no drive letter or ':' anywhere, no ".." component.
bool isContainedRelativePath(const QString &path);

// True when `path` would lie in one of the cache's own folders (letter case aside), where
// no downloaded file may go.
bool isInCacheOwnFolder(const QString &path);

// Checks the whole list before anything is fetched or moved. False, with the first refused
// path in `refused`, when a path would leave the cache or the installation folder, would lie
// in a folder of the cache's own, or, where names follow Windows' rules, names another file
// than it says: the same file as an earlier path that differs only in letter case (applying
// both would replace the first file's new content with the second and leave the first file's
// previous version nowhere), a name Windows maps onto another (trailing dot or space, a
// device, a forbidden character) or the short name of another installed name.
bool checkListedPaths(const QList<ManifestEntry> &files, const QDir &installDir, QString *refused);
