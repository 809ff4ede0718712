#pragma once

#include <QString>

// Packed copies through libzstd: one zstd frame per file, with the file's size in its header
// and zstd's checksum, compressed as `zstd -LEVEL --long` does, and a patch as
// `zstd -LEVEL --long --patch-from=BASE` does (the base as a raw prefix, the window as large as
// the new file). Files are mapped, never read into memory: neither side needs more memory
// for a large file than zstd's own tables.
namespace zstdcodec {

constexpr int DefaultLevel = 19;
// zstd's frames hold a prefix and a window of at most 2 GiB: larger files get no patch.
constexpr qint64 MaxPatchBytes = (qint64(1) << 31) - 1;

// Writes the compressed copy of `source` to the new file `target`, or, with a `base`, the
// patch that makes `source` from it.
bool compress(const QString &source, const QString &base, const QString &target, int level,
              QString *error);

// Decodes the packed file `packed` into the new file `target`, which must come out `size`
// bytes long; a patch needs its `base` (empty for a compressed copy). Before a byte is
// decoded the frame must be one zstd frame that fills `packed` and announces `size`, with no
// dictionary; and the disk must have room for the result. The caller checks the result.
bool decode(const QString &packed, const QString &base, const QString &target, qint64 size,
            QString *error);

} // namespace zstdcodec
