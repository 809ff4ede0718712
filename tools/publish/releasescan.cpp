#include "releasescan.h"

#include "digest.h"
#include "listformat.h"
#include "manifest.h"
#include "pathrules.h"
#include "updatenames.h"
#include "windowsnames.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

QRegularExpression wildcard(const QString &pattern)
{
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern));
}

// Windows folders cannot hold two names that differ only in letter case; and NAME.old (in
// any letter case) beside NAME is where the clients keep NAME's previous version.
bool findCollision(const QList<ReleaseFile> &files, QString *error)
{
    QHash<QString, QString> seen;
    QStringList paths;
    for (const ReleaseFile &file : files) {
        const QString folded = file.relativePath.toCaseFolded();
        const auto it = seen.constFind(folded);
        if (it != seen.constEnd()) {
            *error = QStringLiteral("\"%1\" and \"%2\" differ only in letter case; Windows "
                                    "cannot install both")
                         .arg(it.value(), file.relativePath);
            return true;
        }
        seen.insert(folded, file.relativePath);
        paths.append(file.relativePath);
    }
    const QString oldCopy = findOldCopyOfListedPath(paths, true);
    if (oldCopy.isEmpty())
        return false;
    *error = QStringLiteral("\"%1\" is where the clients keep the previous version of another "
                            "file of the release; they would refuse the list")
                 .arg(oldCopy);
    return true;
}

bool describeFile(const QString &releaseDir, const QString &relativePath, QTextCodec *codec,
                  ReleaseFile *file, QString *error)
{
    if (!isContainedRelativePath(relativePath)) {
        *error = QStringLiteral("\"%1\" is no path the clients can install").arg(relativePath);
        return false;
    }
    if (UpdateNames::isVersionFolderName(relativePath.section(QLatin1Char('/'), 0, 0))) {
        *error = QStringLiteral("\"%1\" lies in %2, the folder of the packed copies on the "
                                "server; the clients would refuse the list")
                     .arg(relativePath, UpdateNames::packFolder());
        return false;
    }
    // Only other letter cases get here: the exact names are left out.
    if (isReservedPath(relativePath)) {
        *error = QStringLiteral("\"%1\" takes a name of the updater's own files; the clients "
                                "would refuse the list")
                     .arg(relativePath);
        return false;
    }
    QString unsafe;
    if (!isWindowsSafePath(relativePath, &unsafe)) {
        *error = unsafe + QStringLiteral("; Windows clients cannot install it");
        return false;
    }
    if (!encodeListPath(codec, relativePath, &file->encodedPath, error))
        return false;
    file->relativePath = relativePath;
    file->sourcePath = QDir(releaseDir).absoluteFilePath(relativePath);
    file->size = QFileInfo(file->sourcePath).size();
    if (!fileDigestText(file->sourcePath, &file->digest)) {
        *error = QStringLiteral("cannot read \"%1\"").arg(file->sourcePath);
        return false;
    }
    return true;
}

} // namespace

QStringList ExcludeRules::alwaysExcluded()
{
    // With the names an interrupted update leaves: its journal, the previous and the
    // earlier old version (NAME.~pv, NAME.~od), a staged new file (.~nwN) and a file
    // being replaced in one step (NAME.~nw); and the cache's folders of partial downloads
    // and of the log.
    return {UpdateNames::record(),
            UpdateNames::appliedSequence(),
            UpdateNames::journal(),
            QLatin1Char('*') + UpdateNames::oldSuffix(),
            QLatin1Char('*') + UpdateNames::previousSuffix(),
            QLatin1Char('*') + UpdateNames::keptOldSuffix(),
            UpdateNames::stagedPrefix() + QLatin1Char('*'),
            QLatin1Char('*') + UpdateNames::atomicWriteSuffix(),
            UpdateNames::partialFolder(),
            UpdateNames::logFolder(),
            QStringLiteral("system.cfg"),
            QStringLiteral("update-signing.key")};
}

ExcludeRules::ExcludeRules(const QStringList &patterns)
{
    for (const QString &pattern : alwaysExcluded() + patterns) {
        QString trimmed = pattern;
        while (trimmed.endsWith(QLatin1Char('/')))
            trimmed.chop(1);
        if (trimmed.contains(QLatin1Char('/')))
            m_pathPatterns.append(wildcard(trimmed));
        else if (!trimmed.isEmpty())
            m_namePatterns.append(wildcard(trimmed));
    }
}

bool ExcludeRules::excludes(const QString &relativePath) const
{
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    for (int depth = 0; depth < parts.size(); ++depth) {
        const QString leading = parts.mid(0, depth + 1).join(QLatin1Char('/'));
        for (const QRegularExpression &name : m_namePatterns) {
            if (name.match(parts.at(depth)).hasMatch())
                return true;
        }
        for (const QRegularExpression &path : m_pathPatterns) {
            if (path.match(leading).hasMatch())
                return true;
        }
    }
    return false;
}

bool scanRelease(const QString &releaseDir, const ExcludeRules &rules, QTextCodec *codec,
                 QList<ReleaseFile> *files, QString *error)
{
    const QDir root(QDir(releaseDir).absolutePath());
    QStringList paths;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        if (!rules.excludes(relative))
            paths.append(relative);
    }
    std::sort(paths.begin(), paths.end());
    files->clear();
    for (const QString &relative : qAsConst(paths)) {
        ReleaseFile file;
        if (!describeFile(root.path(), relative, codec, &file, error))
            return false;
        files->append(file);
    }
    return !findCollision(*files, error);
}

QByteArray composeList(const QList<ReleaseFile> &files)
{
    QByteArray list;
    for (const ReleaseFile &file : files)
        list += listLine(file.digest, file.size, file.encodedPath);
    return list;
}
