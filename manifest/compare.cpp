#include "compare.h"

#include "digest.h"

#include <QFile>

namespace {

const char RecordFileName[] = "update_md5.info";

// The list of the last applied update; a missing or unreadable record is an empty one.
Manifest readRecord(const QDir &installDir)
{
    QFile record(installDir.absoluteFilePath(QLatin1String(RecordFileName)));
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
        const bool upToDate =
            isRecorded ? recorded->md5 == entry.md5
                       : fileMatchesDigest(installDir.absoluteFilePath(entry.path), entry.md5);
        if (!upToDate)
            outdated.insert(outdated.constEnd(), entry.path, entry);
    }
    return outdated;
}
