#pragma once

#include <QByteArray>
#include <QMultiMap>
#include <QString>

class QTextCodec;

// A packed copy of a listed file, published beside the release's full files: the file
// compressed with zstd, or a zstd patch that makes the file from an earlier version of it (the
// base, named by its digest text). The packed bytes lie in the version's folder under
// UpdateNames::packFolder(), named by their SHA-256 (fileName()).
struct PackedCopy
{
    enum class Kind { Compressed, Patch };

    Kind kind = Kind::Compressed;
    QString path;       // the listed path it yields, normalised as md5.txt's paths are
    QByteArray baseMd5; // a patch's base: the digest text of the file it applies to
    qint64 size = 0;    // of the packed bytes
    QByteArray md5;     // digest text of the packed bytes
    QByteArray sha256;  // hex of the packed bytes, lower case

    QString fileName() const;
};

bool operator==(const PackedCopy &a, const PackedCopy &b);

// The list of a release's packed copies, by listed path; a path may have several (a compressed
// copy and patches from several bases).
using PackList = QMultiMap<QString, PackedCopy>;

// One line of the list: kind ("zstd" or "patch"), the base's digest text ("-" for a
// compressed copy), the packed size in decimal, the packed bytes' digest text and SHA-256 hex,
// and the path as md5.txt writes it (`encodedPath`: the clients' code page, backslashes);
// TAB-separated, CR LF.
QByteArray packListLine(const PackedCopy &copy, const QByteArray &encodedPath);

// Never fails: lines that are not well formed are skipped. Paths are decoded as md5.txt's
// are, by `pathCodec` or else the local 8-bit encoding.
PackList parsePackList(const QByteArray &text, QTextCodec *pathCodec = nullptr);
