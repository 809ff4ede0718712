#pragma once

#include "manifest.h"
#include "packlist.h"
#include "verifiedrelease.h"

#include <QByteArray>
#include <QString>

#include <optional>

class PartialStore;

// A listed file fetched as one of its packed copies (pack/packlist.h): which copy to fetch,
// and how the checked copy becomes the file in the cache.
namespace packedcopy {

// The copy to fetch for `entry`, in this order: a patch whose base is `installedMd5` (the
// digest text of the installed file; empty when there is none to apply a patch to), else the
// compressed copy; none when neither is listed. Of several that fit, the smallest.
std::optional<PackedCopy> choose(const PackList &packs, const ManifestEntry &entry,
                                 const QByteArray &installedMd5);

// "patch" or "compressed copy", for the log.
const char *kindName(const PackedCopy &copy);

// The packed bytes as a transfer sees them: their size and MD5, under a name of the partial
// store that no full file shares (the listed path, the kind and the copy's digest).
ManifestEntry transferEntry(const PackedCopy &copy);

// Makes `entry`'s file from the checked packed copy at `packed` (a patch with `base`, the
// installed file; none for a compressed copy) in the store's partial file of the entry, checks
// it as a downloaded file is checked (size, MD5 and, for a signed release, SHA-256), and gives
// it the name `target` as a downloaded file gets it. False with the reason when a step fails;
// nothing of the result stays then.
bool decodeInto(const QString &packed, const QString &base, const ManifestEntry &entry,
                const VerifiedRelease &release, PartialStore *store, const QString &target,
                QString *error);

} // namespace packedcopy
