#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QtGlobal>

// One file of a published version, as listed in an MD5 list.
struct ManifestEntry
{
    QString path; // relative, forward slashes, no leading slash
    qint64 size = 0;
    QByteArray md5; // digest text exactly as listed
};

bool operator==(const ManifestEntry &a, const ManifestEntry &b);
inline bool operator!=(const ManifestEntry &a, const ManifestEntry &b)
{
    return !(a == b);
}

// Keyed by ManifestEntry::path, ascending by UTF-16 code units.
using Manifest = QMap<QString, ManifestEntry>;

class QTextCodec;

// Never fails: lines that are not three TAB-separated fields are skipped.
Manifest parseManifest(QByteArray text);
// The same with the paths decoded by `pathCodec` instead of the local 8-bit encoding: for
// reading back a list written for clients of another code page.
Manifest parseManifest(QByteArray text, QTextCodec *pathCodec);

// Normalises a list's path field: backslashes become slashes, one leading slash is dropped.
QString normaliseManifestPath(const QString &rawPath);
