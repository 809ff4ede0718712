#pragma once

#include <QByteArray>
#include <QString>

// Packed copies on the update server for tests: made with the zstd command line and listed in
// a list composed here, apart from the updater's and the publishing tool's code.
namespace PackedRelease {

// `zstd -19 --long` of `content`, or, given a `base`, the patch that makes `content` from it
// (`--patch-from`); empty when zstd fails.
QByteArray compress(const QByteArray &content);
QByteArray patch(const QByteArray &base, const QByteArray &content);

// The packed bytes' name in the version's ".~zstd" folder: their SHA-256 hex and ".zst".
QString fileName(const QByteArray &packed);
// The server path of the packed bytes below the version's folder, ".~zstd/NAME".
QString relativePath(const QByteArray &packed);

// Writes `packed` into the version folder `versionDir` and returns its line of the list: a
// compressed copy of the file at `path` (as md5.txt writes it), or a patch from the file whose
// content is `base`.
QByteArray serveCompressed(const QString &versionDir, const QString &path,
                           const QByteArray &packed);
QByteArray servePatch(const QString &versionDir, const QString &path, const QByteArray &packed,
                      const QByteArray &base);

// Writes `lines` as the version's ".~zstd/list.txt"; returns the list's bytes.
QByteArray writeList(const QString &versionDir, const QByteArray &lines);
// Adds to update.ini at `root` the [Patches] section of an unsigned release naming `name`,
// with `list`'s SHA-256.
bool nameInDescription(const QString &root, const QByteArray &list,
                       const QString &name = QStringLiteral(".~zstd/list.txt"));
// `description` (a signed update.ini) with the [Release] keys naming the list added at the
// top of that section, in the description's own line ending (QSettings writes CR LF on
// Windows); empty when it has no [Release] section.
QByteArray withReleaseKeys(QByteArray description, const QByteArray &list,
                           const QString &name = QStringLiteral(".~zstd/list.txt"));

QByteArray sha256Hex(const QByteArray &bytes);

} // namespace PackedRelease
