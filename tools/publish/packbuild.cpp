// Compressed copies and patches of a release's files, and their list.
#include "packedcopies.h"

#include "digest.h"
#include "filehash.h"
#include "publishfiles.h"
#include "releasescan.h"
#include "updatenames.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace {

// What a packed copy must stay below: a compressed copy clearly below the file (95 %), a
// patch below the compressed copy, or without one, clearly below the file too.
qint64 clearlySmaller(qint64 size)
{
    return size - size / 20;
}

class Packer
{
public:
    Packer(const PackSettings &settings, const QString &folder)
        : m_settings(settings), m_folder(folder)
    {}

    bool packFile(const ReleaseFile &file, const QString &source, QString *error);
    const QByteArray &list() const { return m_list; }

private:
    bool pack(const QString &source, const QString &base, PackedCopy *copy, QString *error);
    bool keep(PackedCopy copy, const ReleaseFile &file, QString *error);
    QString temporary() const { return m_folder + QStringLiteral("/packing.tmp"); }

    const PackSettings &m_settings;
    const QString m_folder;
    QByteArray m_list;
};

// Packs into the temporary name and reads the packed bytes' size and digests.
bool Packer::pack(const QString &source, const QString &base, PackedCopy *copy, QString *error)
{
    QFile::remove(temporary()); // a left-over in the way fails the compression
    if (!zstdcodec::compress(source, base, temporary(), m_settings.level, error))
        return false;
    ContentHash hash(true);
    if (!hashFile(temporary(), &hash)) {
        *error = QStringLiteral("cannot read back %1").arg(temporary());
        return false;
    }
    copy->size = hash.size();
    copy->md5 = digestTextFromMd5(hash.md5());
    copy->sha256 = hash.sha256().toHex();
    return true;
}

// Lists the packed bytes under their own name; identical bytes share one file.
bool Packer::keep(PackedCopy copy, const ReleaseFile &file, QString *error)
{
    const QString target = m_folder + QLatin1Char('/') + copy.fileName();
    const bool shared = QFile::exists(target);
    if ((shared && !QFile::remove(temporary())) ||
        (!shared &&
         (!QFile::setPermissions(temporary(), PublicFile) || !renamePath(temporary(), target)))) {
        *error = QStringLiteral("cannot write %1").arg(target);
        return false;
    }
    copy.path = file.relativePath;
    m_list += packListLine(copy, file.encodedPath);
    return true;
}

bool Packer::packFile(const ReleaseFile &file, const QString &source, QString *error)
{
    qint64 limit = clearlySmaller(file.size);
    PackedCopy copy;
    if (m_settings.compress) {
        if (!pack(source, QString(), &copy, error) ||
            (copy.size < limit && !keep(copy, file, error)))
            return false;
        limit = qMin(limit, copy.size);
    }
    QSet<QByteArray> bases; // two folders with the same base make the same patch
    for (const BaseFolder &folder : m_settings.bases) {
        const ManifestEntry base = folder.files.value(file.relativePath);
        if (base.path.isEmpty() || base.md5 == file.digest || bases.contains(base.md5) ||
            base.size > zstdcodec::MaxPatchBytes || file.size > zstdcodec::MaxPatchBytes)
            continue;
        bases.insert(base.md5);
        const QString basePath = QDir(folder.path).absoluteFilePath(base.path);
        if (!fileMatchesEntry(basePath, base)) {
            *error = QStringLiteral("%1 does not match its line in %2/md5.txt: no patch can be "
                                    "made from it")
                         .arg(basePath, folder.name);
            return false;
        }
        PackedCopy patch;
        patch.kind = PackedCopy::Kind::Patch;
        patch.baseMd5 = base.md5;
        if (!pack(source, basePath, &patch, error) ||
            (patch.size < limit && !keep(patch, file, error)))
            return false;
    }
    return true;
}

} // namespace

bool writePackedCopies(const PackSettings &settings, const QList<ReleaseFile> &files,
                       const QString &sourceFolder, const QString &packFolder, QString *error)
{
    if (!QDir().mkpath(packFolder)) {
        *error = QStringLiteral("cannot create %1").arg(packFolder);
        return false;
    }
    Packer packer(settings, packFolder);
    for (const ReleaseFile &file : files) {
        if (!packer.packFile(file, QDir(sourceFolder).absoluteFilePath(file.relativePath), error))
            return false;
    }
    QFile::remove(packFolder + QStringLiteral("/packing.tmp")); // not kept; nothing names it
    if (packer.list().isEmpty()) {
        QDir(packFolder).removeRecursively(); // an empty folder left behind names nothing either
        return true;
    }
    if (writeAll(QDir(packFolder).absoluteFilePath(UpdateNames::packList()), packer.list()))
        return true;
    *error = QStringLiteral("cannot write the list of %1").arg(packFolder);
    return false;
}
