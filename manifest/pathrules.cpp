#include "pathrules.h"

#include "fileops.h"
#include "updatenames.h"
#include "windowsnames.h"

#include <QHash>
#include <QStringList>

namespace {

bool namesFolder(const QString &path, const QString &folder)
{
    QString slashed = QDir::cleanPath(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return slashed.compare(folder, Qt::CaseInsensitive) == 0 ||
           slashed.startsWith(folder + QLatin1Char('/'), Qt::CaseInsensitive);
}

// Where names follow Windows' rules: whether `path` names another file than it says.
bool breaksWindowsRules(const QString &path, const QDir &installDir,
                        QHash<QString, QString> *byFoldedPath)
{
    const QString folded = path.toCaseFolded();
    const QString earlier = byFoldedPath->value(folded, path);
    byFoldedPath->insert(folded, path);
    return earlier != path || !isWindowsSafePath(path) || isShortNameAlias(installDir, path);
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

bool checkListedPaths(const QList<ManifestEntry> &files, const QDir &installDir, QString *refused)
{
    const bool windowsRules = fileops::windowsNameRules();
    QHash<QString, QString> byFoldedPath;
    for (const ManifestEntry &entry : files) {
        if (!isContainedRelativePath(entry.path) || isInCacheOwnFolder(entry.path) ||
            (windowsRules && breaksWindowsRules(entry.path, installDir, &byFoldedPath))) {
            *refused = entry.path;
            return false;
        }
    }
    return true;
}
