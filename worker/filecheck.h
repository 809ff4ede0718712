#pragma once

#include "manifest.h"

#include <QByteArray>
#include <QString>

// True when the regular file at `path` has the entry's size and MD5 digest text and, when
// `sha256Hex` is not empty, that SHA-256 (hex, either case). The file is read once for
// both hashes.
bool fileMatchesEntry(const QString &path, const ManifestEntry &entry,
                      const QByteArray &sha256Hex = QByteArray());
