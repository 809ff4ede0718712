#pragma once

#include "filehash.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class QTextCodec;

// The 32-byte digest of `data`.
QByteArray sha256(const QByteArray &data);
// The digest as 64 lower-case hex digits.
QByteArray sha256Hex(const QByteArray &data);
// The SHA-256 hex of a whole file; false when it cannot be opened or read.
bool fileSha256Hex(const QString &path, QByteArray *hex);

// sha256.txt: the layout of md5.txt with the file's SHA-256 hex as the first field.
// Keyed like a Manifest (normalised path); the value is the listed hash as it stands.
// Paths are decoded by `pathCodec`, or from the local 8-bit encoding when it is null.
using Sha256List = QMap<QString, QByteArray>;
Sha256List parseSha256List(const QByteArray &text, QTextCodec *pathCodec = nullptr);
