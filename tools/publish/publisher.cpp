#include "publisher.h"

#include "manifest.h"
#include "releasescan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QFileDevice::Permissions PublicFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ReadOther;

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

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush() && file.setPermissions(PublicFile);
}

// QFile::copy goes through a synced temporary file per copy, which costs more than the copy
// itself for thousands of small files; the staging folder is checked and swapped in whole.
bool copyFile(const QString &from, const QString &to)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return target.setPermissions(PublicFile);
        if (target.write(buffer.constData(), got) != got)
            return false;
    }
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

// Unlike QFile::rename this replaces an existing file in one step. On Windows the C library's
// rename refuses an existing target and takes ANSI names; the wide API does neither.
bool renamePath(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(nativeFrom.utf16()),
                       reinterpret_cast<const wchar_t *>(nativeTo.utf16()),
                       MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// Swaps the assembled folder in; an older folder is removed only once the new one is live.
bool goLive(const QString &staging, const QString &target, QString *error)
{
    const QString retired = staging + QStringLiteral(".retired");
    const bool hadTarget = QFileInfo::exists(target);
    QDir().mkpath(QFileInfo(target).absolutePath());
    if ((hadTarget && !renamePath(target, retired)) || !renamePath(staging, target)) {
        *error = QStringLiteral("cannot move the new version into %1").arg(target);
        return false;
    }
    if (hadTarget)
        QDir(retired).removeRecursively();
    return true;
}

bool writeDescription(const PublishOptions &options, QString *error)
{
    const QDir root(options.serverRoot);
    const QString live = root.absoluteFilePath(QStringLiteral("update.ini"));
    const QString temporary = live + QStringLiteral(".publishing");
    QFile::remove(temporary);
    {
        // Written by QSettings itself, so that the updater's QSettings reads back any text.
        QSettings ini(temporary, QSettings::IniFormat);
        ini.setValue(QStringLiteral("Summary/UpdateType"), options.forced ? 1 : 0);
        ini.setValue(QStringLiteral("Version/Folder"), options.folder);
        ini.setValue(QStringLiteral("Version/Version"), options.version);
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            *error = QStringLiteral("cannot write %1").arg(temporary);
            return false;
        }
    }
    const QSettings check(temporary, QSettings::IniFormat);
    if (check.value(QStringLiteral("Version/Folder")).toString() != options.folder ||
        check.value(QStringLiteral("Version/Version")).toString() != options.version) {
        *error = QStringLiteral("%1 does not read back as written").arg(temporary);
        return false;
    }
    if (!QFile::setPermissions(temporary, PublicFile) || !renamePath(temporary, live)) {
        *error = QStringLiteral("cannot replace %1").arg(live);
        return false;
    }
    return true;
}

bool assembleVersion(const PublishOptions &options, const QList<ReleaseFile> &files,
                     const QString &target, QString *error)
{
    const QString staging =
        QDir(options.serverRoot)
            .absoluteFilePath(
                QStringLiteral(".publishing-%1").arg(QCoreApplication::applicationPid()));
    QDir(staging).removeRecursively();
    const bool ok =
        QDir().mkpath(staging) && copyRelease(files, staging, error) &&
        writeAll(QDir(staging).absoluteFilePath(QStringLiteral("md5.txt")), composeList(files)) &&
        verifyPublishedFolder(staging, options.codec, files.size(), error) &&
        goLive(staging, target, error);
    if (!ok) {
        if (error->isEmpty())
            *error = QStringLiteral("cannot write below %1").arg(staging);
        QDir(staging).removeRecursively();
    }
    return ok;
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

    const QByteArray list = composeList(files);
    const bool exists = QFileInfo(target).isDir() && !QDir(target).isEmpty();
    QString ignored;
    result->unchanged = exists &&
                        readAll(QDir(target).absoluteFilePath(QStringLiteral("md5.txt"))) == list &&
                        verifyPublishedFolder(target, options.codec, files.size(), &ignored);
    if (exists && !result->unchanged && !options.replaceExisting) {
        *error = QStringLiteral("%1 already holds another version; published folders must not "
                                "change under the clients: choose a new --folder, or pass --force")
                     .arg(target);
        return false;
    }
    if (!result->unchanged && !assembleVersion(options, files, target, error))
        return false;
    return writeDescription(options, error);
}
