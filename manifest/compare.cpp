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

} // namespace

Manifest compareWithInstalled(Manifest server, QDir installDir)
{
    const Manifest record = readRecord(installDir);
    Manifest outdated;
    // Both maps are in key order: one walk through the record finds every recorded path.
    auto recorded = record.constBegin();
    for (const ManifestEntry &entry : qAsConst(server)) {
        while (recorded != record.constEnd() && recorded.key() < entry.path)
            ++recorded;
        const bool isRecorded = recorded != record.constEnd() && recorded.key() == entry.path;
        // Only a regular file inside the installation is read: a folder, a device or a FIFO
        // counts as changed without being opened (a read of it could block for ever).
        const bool upToDate =
            isRecorded ? recorded->md5 == entry.md5
                       : fileops::isRegularFileInside(installDir.absolutePath(), entry.path) &&
                             fileMatchesDigest(installDir.absoluteFilePath(entry.path), entry.md5);
        if (!upToDate)
            outdated.insert(outdated.constEnd(), entry.path, entry);
    }
    return outdated;
}
