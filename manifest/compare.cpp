#include "compare.h"

#include "digest.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#endif

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

#ifdef Q_OS_WIN
// A name like "CON" or "nul.txt" opens a device in any folder; only a disk file is read.
bool isDiskFile(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
}
#endif

// Whether the installed file of `path` may be read: only a regular file inside the
// installation folder. Folders, devices, FIFOs and sockets are never opened (a read of
// them could block for ever); such an entry counts as changed.
bool mayReadInstalled(const QDir &installDir, const QString &path)
{
    if (!isContainedRelativePath(path))
        return false;
    const QFileInfo installed(installDir.absoluteFilePath(path));
    if (!installed.isFile())
        return false;
#ifdef Q_OS_WIN
    return isDiskFile(installed.absoluteFilePath());
#else
    return true;
#endif
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
                       : mayReadInstalled(installDir, entry.path) &&
                             fileMatchesDigest(installDir.absoluteFilePath(entry.path), entry.md5);
        if (!upToDate)
            outdated.insert(outdated.constEnd(), entry.path, entry);
    }
    return outdated;
}
