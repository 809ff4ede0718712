#include "pathrules.h"

#include "fileops.h"
#include "updatenames.h"
#include "windowsnames.h"

#include <QHash>
#include <QSet>

namespace {

bool namesFolder(const QString &path, const QString &folder)
{
    QString slashed = QDir::cleanPath(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return slashed.compare(folder, Qt::CaseInsensitive) == 0 ||
           slashed.startsWith(folder + QLatin1Char('/'), Qt::CaseInsensitive);
}

// The names along a path, without empty and "." ones.
QStringList namesOf(const QString &path)
{
    QString slashed = path;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList names = slashed.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    names.removeAll(QStringLiteral("."));
    return names;
}

QString keyOf(const QStringList &names, bool foldCase)
{
    const QString key = names.join(QLatin1Char('/'));
    return foldCase ? key.toCaseFolded() : key;
}

// Where names follow Windows' rules: whether `path` names another file than it says.
bool breaksWindowsRules(const QString &path, const QDir &installDir)
{
    return !isWindowsSafePath(path) || isShortNameAlias(installDir, path);
}

// Whether an earlier path of the list names the same file in other words ("./a" and "a", or
// where names follow Windows' rules, "A" and "a"): applying both would replace the first
// file's new content with the second and leave the first file's previous version nowhere.
bool namesAnEarlierFile(const QString &path, bool foldCase, QHash<QString, QString> *byKey)
{
    const QString key = keyOf(namesOf(path), foldCase);
    const QString earlier = byKey->value(key, path);
    byKey->insert(key, path);
    return earlier != path;
}

// Whether the installed file of `path` would lie in the cache folder, when that folder is
// inside the installation (as the default one on Windows is): the cache is the updater's own.
bool landsInCache(const QString &path, const QDir &installDir, const QDir &cacheDir, bool foldCase)
{
    const Qt::CaseSensitivity cs = foldCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString cache = QDir::cleanPath(cacheDir.absolutePath());
    const QString installed = QDir::cleanPath(installDir.absoluteFilePath(path));
    return installed.compare(cache, cs) == 0 || installed.startsWith(cache + QLatin1Char('/'), cs);
}

} // namespace

bool isContainedRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return false;
    if (path.contains(QLatin1Char(':')))
        return false;
    bool namesSomething = false;
    QString slashed = path;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = slashed.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
        if (!part.isEmpty() && part != QLatin1String("."))
            namesSomething = true;
    }
    // "." or "./" would resolve to the folder itself, which is no file of the list.
    return namesSomething;
}

bool isInCacheOwnFolder(const QString &path)
{
    return namesFolder(path, UpdateNames::partialFolder()) ||
           namesFolder(path, UpdateNames::logFolder());
}

bool isReservedPath(const QString &path)
{
    const QStringList names = namesOf(path);
    for (const QString &name : names) {
        if (UpdateNames::isTemporaryName(name))
            return true;
    }
    return !names.isEmpty() && (UpdateNames::isInstallationFileName(names.first()) ||
                                UpdateNames::isVersionFolderName(names.first()));
}

QString findOldCopyOfListedPath(const QStringList &paths, bool foldCase)
{
    const Qt::CaseSensitivity cs = foldCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString suffix = UpdateNames::oldSuffix();
    QSet<QString> listed;
    for (const QString &path : paths)
        listed.insert(keyOf(namesOf(path), foldCase));
    for (const QString &path : paths) {
        QStringList leading = namesOf(path);
        // NAME.old itself, or a folder of that name on the way to the path.
        for (; !leading.isEmpty(); leading.removeLast()) {
            const QString &last = leading.constLast();
            if (last.size() <= suffix.size() || !last.endsWith(suffix, cs))
                continue;
            QStringList named = leading;
            named.last().chop(suffix.size());
            if (listed.contains(keyOf(named, foldCase)))
                return path;
        }
    }
    return QString();
}

bool checkListedPaths(const QList<ManifestEntry> &files, const QDir &installDir,
                      const QDir &cacheDir, QString *refused)
{
    const bool windowsRules = fileops::windowsNameRules();
    QHash<QString, QString> byKey;
    QStringList paths;
    for (const ManifestEntry &entry : files) {
        if (!isContainedRelativePath(entry.path) || isInCacheOwnFolder(entry.path) ||
            isReservedPath(entry.path) || namesAnEarlierFile(entry.path, windowsRules, &byKey) ||
            landsInCache(entry.path, installDir, cacheDir, windowsRules) ||
            (windowsRules && breaksWindowsRules(entry.path, installDir))) {
            *refused = entry.path;
            return false;
        }
        paths.append(entry.path);
    }
    *refused = findOldCopyOfListedPath(paths, windowsRules);
    return refused->isEmpty();
}
