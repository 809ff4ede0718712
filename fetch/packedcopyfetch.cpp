#include "packedcopyfetch.h"

#include "digest.h"
#include "filehash.h"
#include "fileops.h"
#include "partialstore.h"
#include "updatelog.h"
#include "zstdcodec.h"

#include <QFile>

namespace packedcopy {

namespace {

bool fits(const PackedCopy &copy, const ManifestEntry &entry, const QByteArray &installedMd5)
{
    if (copy.kind == PackedCopy::Kind::Compressed)
        return true;
    // A frame's prefix and window end at 2 GiB: no published patch makes a larger file.
    return !installedMd5.isEmpty() && copy.baseMd5 == installedMd5 &&
           entry.size <= zstdcodec::MaxPatchBytes;
}

bool fail(const QString &message, QString *error)
{
    *error = message;
    return false;
}

// The result is checked over its whole content, as a downloaded body is; it gets its listed
// name only after that, flushed where the cache's barrier needs it.
bool checkAndStore(const QString &output, const ManifestEntry &entry,
                   const VerifiedRelease &release, const QString &target, QString *error)
{
    QFile file(output);
    if (!file.open(QIODevice::ReadWrite) || file.size() != entry.size)
        return fail(QStringLiteral("the decoded file cannot be read"), error);
    ContentHash hash(!release.isNull());
    if (!hashFrom(file, entry.size, &hash))
        return fail(QStringLiteral("the decoded file cannot be read"), error);
    if (digestTextFromMd5(hash.md5()) != entry.md5) {
        qCInfo(lcCheck, "%s: MD5 of the decoded file differs from the list",
               qUtf8Printable(entry.path));
        return fail(QStringLiteral("the decoded file is not the listed one"), error);
    }
    if (!release.isNull() && !release.checkFile(entry.path, hash.sha256().toHex(), error)) {
        qCInfo(lcCheck, "%s: SHA-256 of the decoded file differs from sha256.txt",
               qUtf8Printable(entry.path));
        return false;
    }
    qCInfo(lcCheck, "%s: %s right", qUtf8Printable(entry.path),
           release.isNull() ? "size and MD5" : "size, MD5 and SHA-256");
    const bool flushed = fileops::flushWritten(file);
    file.close();
    if (!flushed || !fileops::replace(output, target))
        return fail(QStringLiteral("the decoded file cannot be stored"), error);
    return true;
}

} // namespace

std::optional<PackedCopy> choose(const PackList &packs, const ManifestEntry &entry,
                                 const QByteArray &installedMd5)
{
    std::optional<PackedCopy> patch, compressed;
    for (auto it = packs.constFind(entry.path); it != packs.constEnd() && it.key() == entry.path;
         ++it) {
        if (!fits(*it, entry, installedMd5))
            continue;
        std::optional<PackedCopy> &best = it->kind == PackedCopy::Kind::Patch ? patch : compressed;
        if (!best || it->size < best->size)
            best = *it;
    }
    return patch ? patch : compressed;
}

const char *kindName(const PackedCopy &copy)
{
    return copy.kind == PackedCopy::Kind::Patch ? "patch" : "compressed copy";
}

ManifestEntry transferEntry(const PackedCopy &copy)
{
    ManifestEntry bytes;
    bytes.path =
        QStringLiteral("%1 (%2 %3)").arg(copy.path, QLatin1String(kindName(copy)), copy.fileName());
    bytes.size = copy.size;
    bytes.md5 = copy.md5;
    return bytes;
}

bool decodeInto(const QString &packed, const QString &base, const ManifestEntry &entry,
                const VerifiedRelease &release, PartialStore *store, const QString &target,
                QString *error)
{
    // The decoder makes a new file: what a broken-off transfer of the whole file left there
    // goes (the whole file is fetched from its start should this copy fail).
    store->discard(entry.path);
    const QString output = store->bodyPath(entry.path);
    if (!zstdcodec::decode(packed, base, output, entry.size, error))
        return false;
    qCInfo(lcFetch, "%s: decoded, %lld bytes", qUtf8Printable(entry.path), entry.size);
    if (checkAndStore(output, entry, release, target, error))
        return true;
    fileops::remove(output); // not checked: the next transfer of the entry empties it
    return false;
}

} // namespace packedcopy
