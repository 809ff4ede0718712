#include "compare.h"

#include "digest.h"
#include "fileops.h"
#include "updatenames.h"

#include <QFile>

namespace {

// The list of the last applied update; a missing or unreadable record is an empty one.
Manifest readRecord(const QDir &installDir)
{
    QFile record(installDir.absoluteFilePath(UpdateNames::record()));
    if (!record.open(QIODevice::ReadOnly))
        return Manifest();
    return parseManifest(record.readAll());
}

// Only a regular file inside the installation is read: a folder, a device or a FIFO has no
// digest (a read of it could block for ever).
QByteArray installedDigest(const QDir &installDir, const QString &path)
{
    QByteArray digest;
    if (fileops::isRegularFileInside(installDir.absolutePath(), path))
        fileDigestText(installDir.absoluteFilePath(path), &digest);
    return digest;
}

} // namespace

Manifest compareWithInstalled(Manifest server, QDir installDir,
                              QMap<QString, QByteArray> *installedMd5)
{
    const Manifest record = readRecord(installDir);
    Manifest outdated;
    // Both maps are in key order: one walk through the record finds every recorded path.
    auto recorded = record.constBegin();
    for (const ManifestEntry &entry : qAsConst(server)) {
        while (recorded != record.constEnd() && recorded.key() < entry.path)
            ++recorded;
        const bool isRecorded = recorded != record.constEnd() && recorded.key() == entry.path;
        const QByteArray installed =
            isRecorded ? recorded->md5 : installedDigest(installDir, entry.path);
        const bool upToDate = installed == entry.md5 && (isRecorded || !installed.isEmpty());
        if (!upToDate) {
            outdated.insert(outdated.constEnd(), entry.path, entry);
            if (installedMd5 && !installed.isEmpty())
                installedMd5->insert(entry.path, installed);
        }
    }
    return outdated;
}
