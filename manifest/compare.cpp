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

bool isUpToDate(const ManifestEntry &entry, const Manifest &record, const QDir &installDir)
{
    const auto recorded = record.constFind(entry.path);
    if (recorded != record.constEnd())
        return recorded->md5 == entry.md5;
    return fileMatchesDigest(installDir.absoluteFilePath(entry.path), entry.md5);
}

} // namespace

Manifest compareWithInstalled(Manifest server, QDir installDir)
{
    const Manifest record = readRecord(installDir);
    Manifest outdated;
    for (const ManifestEntry &entry : qAsConst(server)) {
        if (!isUpToDate(entry, record, installDir))
            outdated.insert(entry.path, entry);
    }
    return outdated;
}
