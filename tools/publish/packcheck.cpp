// Packed copies checked as a client uses them: the bytes as listed, then decoded.
#include "packedcopies.h"

#include "digest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// The base of a patch: the file of a version that lists the path with the base's digest,
// when it still holds those bytes.
QString findBase(const QList<BaseFolder> &bases, const QString &path, const QByteArray &md5)
{
    for (const BaseFolder &folder : bases) {
        const ManifestEntry entry = folder.files.value(path);
        const QString file = QDir(folder.path).absoluteFilePath(entry.path);
        if (!entry.path.isEmpty() && entry.md5 == md5 && fileMatchesEntry(file, entry))
            return file;
    }
    return QString();
}

struct PackCheck
{
    QString packFolder;
    const Manifest &listed;
    const Sha256List &sha256;
    const QList<BaseFolder> &bases;
    QString output; // where each copy is decoded

    // Empty when the packed copy is what the list says and decodes to its file.
    QString problemOf(const PackedCopy &copy) const;
};

QString PackCheck::problemOf(const PackedCopy &copy) const
{
    const QString packed = QDir(packFolder).absoluteFilePath(copy.fileName());
    const QString what =
        QStringLiteral("%1 (%2 of \"%3\")")
            .arg(packed,
                 copy.kind == PackedCopy::Kind::Patch ? QStringLiteral("patch")
                                                      : QStringLiteral("compressed copy"),
                 copy.path);
    if (!listed.contains(copy.path))
        return QStringLiteral("list.txt names \"%1\", md5.txt does not").arg(copy.path);
    ManifestEntry bytes;
    bytes.size = copy.size;
    bytes.md5 = copy.md5;
    if (!fileMatchesEntry(packed, bytes, copy.sha256))
        return what + QStringLiteral(" is missing or differs from its line in list.txt");
    QString base;
    if (copy.kind == PackedCopy::Kind::Patch) {
        base = findBase(bases, copy.path, copy.baseMd5);
        if (base.isEmpty())
            return what + QStringLiteral(": no published folder holds its base %1 intact")
                              .arg(QString::fromLatin1(copy.baseMd5));
    }
    QString error;
    QFile::remove(output); // the decode writes a new file
    const ManifestEntry entry = listed.value(copy.path);
    if (!zstdcodec::decode(packed, base, output, entry.size, &error))
        return what + QStringLiteral(" does not decode: ") + error;
    const bool same = fileMatchesEntry(output, entry, sha256.value(copy.path));
    QFile::remove(output); // the next decode needs the name, and nobody needs the bytes
    if (!same)
        return what + QStringLiteral(" does not decode to the file md5.txt lists");
    return QString();
}

} // namespace

QStringList checkPackedCopies(const QString &packFolder, const PackList &packs,
                              const Manifest &listed, const Sha256List &sha256,
                              const QList<BaseFolder> &bases, int limit)
{
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        return {QStringLiteral("cannot create a temporary folder to decode the packed copies")};
    const PackCheck check{packFolder, listed, sha256, bases,
                          scratch.filePath(QStringLiteral("decoded"))};
    QStringList problems;
    int count = 0;
    for (const PackedCopy &copy : packs) {
        const QString problem = check.problemOf(copy);
        if (!problem.isEmpty() && ++count <= limit)
            problems << problem;
    }
    if (count > limit)
        problems << QStringLiteral("... and %1 more").arg(count - limit);
    return problems;
}
