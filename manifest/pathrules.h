#pragma once

#include "manifest.h"

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

// The rules for the paths of a list: which paths the updater installs and which it refuses.

// True when a normalised path stays inside the folder it is resolved against:
// not empty, not absolute, no drive letter or ':' anywhere, no ".." component.
bool isContainedRelativePath(const QString &path);

// True when `path` would lie in one of the cache's own folders (letter case aside), where
// no downloaded file may go.
bool isInCacheOwnFolder(const QString &path);

// True when `path` takes a name the updater gives its own files in the installation folder
// or, at the top, in a version's folder on the server (letter case aside, see
// UpdateNames::isTemporaryName, isInstallationFileName and isVersionFolderName), as a file
// or as a folder on its way.
bool isReservedPath(const QString &path);

// The first of `paths` that is, or lies in, NAME.old while NAME is one of `paths` too: the
// update keeps NAME's previous version under that name. Empty when there is none.
// `foldCase` ignores letter case, as Windows does.
QString findOldCopyOfListedPath(const QStringList &paths, bool foldCase);

// Checks the whole list before anything is fetched or moved. False, with a refused path in
// `refused`, when a path would leave the cache or the installation folder, would lie in a
// folder of the cache's own or, installed, in the cache folder itself, takes a name of the
// updater's own files or the old copy of another listed file (see above), names the same file
// as an earlier path in other words ("./a" after "a"; where names follow Windows' rules also
// in another letter case: applying both would replace the first file's new content with the
// second and leave the first file's previous version nowhere), or, where names follow
// Windows' rules, names another file than it says: a name Windows maps onto another
// (trailing dot or space, a device, a forbidden character) or the short name of another
// installed name.
bool checkListedPaths(const QList<ManifestEntry> &files, const QDir &installDir,
                      const QDir &cacheDir, QString *refused);
