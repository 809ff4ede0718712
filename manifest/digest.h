#pragma once

#include "manifest.h"

#include <QByteArray>
#include <QString>

// The digest text: the MD5 digest read as four little-endian 32-bit words, each
// printed as 8 lowercase hex digits. It differs from common MD5 hex within every word.
QByteArray digestText(QByteArray data);

// Formats a raw 16-byte MD5 result (QCryptographicHash::result()) as digest text.
QByteArray digestTextFromMd5(const QByteArray &rawMd5);

// Hashes a file in chunks; false when it cannot be opened or read.
bool fileDigestText(const QString &path, QByteArray *digest);

// True only when the file opens and its digest text equals `digest` byte for byte.
bool fileMatchesDigest(QString path, QByteArray digest);

// True when the regular file at `path` has the entry's size and MD5 digest text and, when
// `sha256Hex` is not empty, that SHA-256 (hex, either case). The file is read once for
// both hashes.
bool fileMatchesEntry(const QString &path, const ManifestEntry &entry,
                      const QByteArray &sha256Hex = QByteArray());
