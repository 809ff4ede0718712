#include "publisher.h"

#include "fileops.h"
#include "manifest.h"
#include "packedcopies.h"
#include "pathrules.h"
#include "publishfiles.h"
#include "releasescan.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool isSameOrInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

bool checkOptions(const PublishOptions &options, const QString &target, QString *error)
{
    const QString release = QFileInfo(options.releaseDir).canonicalFilePath();
    if (release.isEmpty() || !QFileInfo(release).isDir()) {
        *error = QStringLiteral("release folder %1 does not exist").arg(options.releaseDir);
        return false;
    }
    if (options.folder.contains(QLatin1Char('\\')) || !isContainedRelativePath(options.folder)) {
        *error = QStringLiteral("--folder \"%1\" must be a relative path below the server root, "
                                "with forward slashes and no \"..\"")
                     .arg(options.folder);
        return false;
    }
    const QString root = QDir(options.serverRoot).absolutePath();
    if (isSameOrInside(root, release) || isSameOrInside(release, target)) {
        *error = QStringLiteral("the release folder and the server folder must not contain "
                                "each other");
        return false;
    }
    return true;
}

// QFile::copy goes through a synced temporary file per copy, which costs more than the copy
// itself for thousands of small files; the staging folder is checked and swapped in whole.
bool copyFile(const QString &from, const QString &to)
{
    return fileops::copyFile(from, to) && QFile::setPermissions(to, PublicFile);
}

bool copyRelease(const QList<ReleaseFile> &files, const QString &staging, QString *error)
{
    const QDir folder(staging);
    for (const ReleaseFile &file : files) {
        const QString target = folder.absoluteFilePath(file.relativePath);
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) ||
            !copyFile(file.sourcePath, target)) {
            *error = QStringLiteral("cannot copy \"%1\" to %2").arg(file.sourcePath, target);
            return false;
        }
    }
    return true;
}

// Swaps the assembled folder in; an older folder is removed only once the new one is live.
bool goLive(const QString &staging, const QString &target, QString *error)
{
    const QString retired = staging + QStringLiteral(".retired");
    const bool hadTarget = QFileInfo::exists(target);
    QDir().mkpath(QFileInfo(target).absolutePath()); // a missing folder fails the rename below
    if ((hadTarget && !renamePath(target, retired)) || !renamePath(staging, target)) {
        *error = QStringLiteral("cannot move the new version into %1").arg(target);
        return false;
    }
    if (hadTarget) // the new version is live; a left-over of the old one harms nobody
        QDir(retired).removeRecursively();
    return true;
}

// sha256.txt of a signed release, written into a folder that is not live yet or that
// already holds exactly this release.
bool writeSha256List(const PublishOptions &options, const QList<ReleaseFile> &files,
                     const QString &folderPath, QString *error)
{
    if (options.signingKeys.isEmpty())
        return true;
    QByteArray list;
    const QString path = QDir(folderPath).absoluteFilePath(UpdateNames::sha256List());
    if (!composeSha256List(files, folderPath, &list, error))
        return false;
    if (readAll(path) == list || replaceFile(path, list))
        return true;
    *error = QStringLiteral("cannot write %1").arg(path);
    return false;
}

QString stagingFolder(const PublishOptions &options)
{
    return QDir(options.serverRoot)
        .absoluteFilePath(QStringLiteral(".publishing-%1").arg(QCoreApplication::applicationPid()));
}

bool assembleVersion(const PublishOptions &options, const PackSettings &packs,
                     const QList<ReleaseFile> &files, const QString &target, QString *error)
{
    const QString staging = stagingFolder(options);
    QDir(staging).removeRecursively(); // a left-over in the way fails the copy below
    const bool ok =
        QDir().mkpath(staging) && copyRelease(files, staging, error) &&
        writeAll(QDir(staging).absoluteFilePath(UpdateNames::md5List()), composeList(files)) &&
        verifyPublishedFolder(staging, options.codec, files.size(), error) &&
        writeSha256List(options, files, staging, error) &&
        stagePackedCopies(packs, files, staging, staging, options.codec, error) &&
        goLive(staging, target, error);
    if (!ok) {
        if (error->isEmpty())
            *error = QStringLiteral("cannot write below %1").arg(staging);
        QDir(staging).removeRecursively(); // outside the served folders either way
    }
    return ok;
}

// A published folder without packed copies gets them beside its files, assembled and checked
// in the staging folder first. No client fetches them before update.ini names them.
bool addPackedCopies(const PublishOptions &options, const PackSettings &packs,
                     const QList<ReleaseFile> &files, const QString &target, bool *added,
                     QString *error)
{
    if (!packs.any() || QFileInfo::exists(packListOf(target)))
        return true;
    const QString staging = stagingFolder(options);
    QDir(staging).removeRecursively(); // a left-over in the way fails the packing
    const bool ok = QDir().mkpath(staging) &&
                    stagePackedCopies(packs, files, target, staging, options.codec, error) &&
                    (!QFileInfo::exists(packFolderOf(staging)) ||
                     renamePath(packFolderOf(staging), packFolderOf(target)));
    QDir(staging).removeRecursively(); // outside the served folders either way
    if (!ok && error->isEmpty())
        *error = QStringLiteral("cannot move the packed copies into %1").arg(target);
    *added = ok && QFileInfo::exists(packListOf(target));
    return ok;
}

bool readPackSettings(const PublishOptions &options, const QString &target, PackSettings *packs,
                      QString *error)
{
    packs->compress = options.compress;
    packs->level = options.compressLevel;
    if (!readBaseFolders(options.serverRoot, options.patchFrom, options.codec, &packs->bases,
                         error))
        return false;
    for (const BaseFolder &base : qAsConst(packs->bases)) {
        if (QDir(base.path).absolutePath() == QDir(target).absolutePath()) {
            *error =
                QStringLiteral("--patch-from \"%1\" is the folder being published").arg(base.name);
            return false;
        }
    }
    return true;
}

// What the packed copies of the live folder are and save, when it has them or they were asked.
QStringList reportPacks(const PublishOptions &options, const PackSettings &packs,
                        const QList<ReleaseFile> &files, const QString &target)
{
    const QByteArray list = readAll(packListOf(target));
    if (list.isEmpty() && !packs.any())
        return {};
    return packReport(parsePackList(list, options.codec), list.size(),
                      parseManifest(composeList(files), options.codec), packs.bases);
}

// Whether `target` holds this very release already, its packed copies (if any) intact; fails
// when it holds another one, unless --force.
bool checkExisting(const PublishOptions &options, const QList<ReleaseFile> &files,
                   const QString &target, bool *unchanged, QString *error)
{
    const bool exists = QFileInfo(target).isDir() && !QDir(target).isEmpty();
    QString ignored;
    const bool sameFiles =
        exists &&
        readAll(QDir(target).absoluteFilePath(UpdateNames::md5List())) == composeList(files) &&
        verifyPublishedFolder(target, options.codec, files.size(), &ignored);
    QString packProblem;
    *unchanged = sameFiles &&
                 publishedPacksCheckOut(options.serverRoot, target, options.codec, &packProblem);
    if (!exists || *unchanged || options.replaceExisting)
        return true;
    *error = sameFiles ? QStringLiteral("the packed copies in %1 do not check out: %2; pass "
                                        "--force to publish the folder again")
                             .arg(target, packProblem)
                       : QStringLiteral("%1 already holds another version; published folders "
                                        "must not change under the clients: choose a new "
                                        "--folder, or pass --force")
                             .arg(target);
    return false;
}

} // namespace

bool publishRelease(const PublishOptions &options, PublishResult *result, QString *error)
{
    const QString target = QDir(options.serverRoot).absoluteFilePath(options.folder);
    if (!checkOptions(options, target, error))
        return false;
    QList<ReleaseFile> files;
    if (!scanRelease(options.releaseDir, ExcludeRules(options.excludes), options.codec, &files,
                     error))
        return false;
    if (files.isEmpty()) {
        *error = QStringLiteral("the release folder holds no file to publish");
        return false;
    }
    result->folderPath = target;
    result->fileCount = files.size();
    for (const ReleaseFile &file : qAsConst(files))
        result->byteCount += file.size;

    PackSettings packs;
    if (!readPackSettings(options, target, &packs, error))
        return false;
    if (!checkExisting(options, files, target, &result->unchanged, error))
        return false;
    if (result->unchanged
            ? !writeSha256List(options, files, target, error) ||
                  !addPackedCopies(options, packs, files, target, &result->packsAdded, error)
            : !assembleVersion(options, packs, files, target, error))
        return false;
    result->packReport = reportPacks(options, packs, files, target);
    return writeDescription(options, target, result, error);
}
