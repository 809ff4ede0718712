// What the packed copies cost the server and save the clients.
#include "packedcopies.h"

#include <QSet>

namespace {

struct Fetched
{
    int files = 0;
    qint64 full = 0;
    qint64 copies = 0;  // compressed copies where listed, else full files
    qint64 patched = 0; // patches from the client's version first, as the clients choose
};

// The smallest packed copy of `path` of this kind (and base); -1 when there is none.
qint64 packedSize(const PackList &packs, const QString &path, PackedCopy::Kind kind,
                  const QByteArray &base = QByteArray())
{
    qint64 size = -1;
    for (auto it = packs.constFind(path); it != packs.constEnd() && it.key() == path; ++it) {
        if (it->kind == kind && it->baseMd5 == base && (size < 0 || it->size < size))
            size = it->size;
    }
    return size;
}

// What a client whose files are those of `base` fetches: every file that differs.
Fetched fetchedFrom(const PackList &packs, const Manifest &listed, const BaseFolder &base)
{
    Fetched fetched;
    for (const ManifestEntry &entry : listed) {
        const auto installed = base.files.constFind(entry.path);
        const bool same = installed != base.files.constEnd() && installed->md5 == entry.md5;
        if (same)
            continue;
        const qint64 copy = packedSize(packs, entry.path, PackedCopy::Kind::Compressed);
        const qint64 copyOrFull = copy >= 0 ? copy : entry.size;
        const qint64 patch =
            installed == base.files.constEnd()
                ? -1
                : packedSize(packs, entry.path, PackedCopy::Kind::Patch, installed->md5);
        ++fetched.files;
        fetched.full += entry.size;
        fetched.copies += copyOrFull;
        fetched.patched += patch >= 0 ? patch : copyOrFull;
    }
    return fetched;
}

} // namespace

QStringList packReport(const PackList &packs, qint64 listBytes, const Manifest &listed,
                       const QList<BaseFolder> &bases)
{
    int copies = 0;
    qint64 bytes = 0;
    QSet<QByteArray> files; // identical packed bytes share a file
    for (const PackedCopy &copy : packs) {
        copies += copy.kind == PackedCopy::Kind::Compressed ? 1 : 0;
        if (!files.contains(copy.sha256))
            bytes += copy.size;
        files.insert(copy.sha256);
    }
    QStringList lines{
        packs.isEmpty() ? QStringLiteral("no packed copies: none is clearly smaller than its file")
                        : QStringLiteral(".~zstd: %1 compressed copies, %2 patches, %3 bytes in "
                                         "%4 files and list.txt of %5 bytes")
                              .arg(copies)
                              .arg(packs.size() - copies)
                              .arg(bytes)
                              .arg(files.size())
                              .arg(listBytes)};
    for (const BaseFolder &base : bases) {
        const Fetched fetched = fetchedFrom(packs, listed, base);
        lines << QStringLiteral("a client at %1 fetches %2 changed files: %3 bytes with patches, "
                                "%4 with compressed copies only, %5 in full")
                     .arg(base.name)
                     .arg(fetched.files)
                     .arg(fetched.patched)
                     .arg(fetched.copies)
                     .arg(fetched.full);
    }
    return lines;
}
