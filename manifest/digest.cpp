#include "digest.h"

#include "filehash.h"
#include "fileops.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <cstdio>

namespace {

quint32 littleEndianWord(const QByteArray &bytes, int offset)
{
    const auto byteAt = [&](int i) {
        return quint32(quint8(bytes.at(offset + i)));
    };
    return byteAt(0) | (byteAt(1) << 8) | (byteAt(2) << 16) | (byteAt(3) << 24);
}

} // namespace

QByteArray digestTextFromMd5(const QByteArray &rawMd5)
{
    if (rawMd5.size() != 16)
        return QByteArray();
    char text[33];
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x", littleEndianWord(rawMd5, 0),
                  littleEndianWord(rawMd5, 4), littleEndianWord(rawMd5, 8),
                  littleEndianWord(rawMd5, 12));
    return QByteArray(text, 32);
}

QByteArray digestText(QByteArray data)
{
    return digestTextFromMd5(QCryptographicHash::hash(data, QCryptographicHash::Md5));
}

bool fileDigestText(const QString &path, QByteArray *digest)
{
    ContentHash hash;
    if (!hashFile(path, &hash))
        return false;
    if (digest)
        *digest = digestTextFromMd5(hash.md5());
    return true;
}

bool fileMatchesDigest(QString path, QByteArray digest)
{
    QByteArray actual;
    return fileDigestText(path, &actual) && actual == digest;
}

bool fileMatchesEntry(const QString &path, const ManifestEntry &entry, const QByteArray &sha256Hex)
{
    if (fileops::kindOf(path) != fileops::Kind::File || QFileInfo(path).size() != entry.size)
        return false;
    ContentHash hash(!sha256Hex.isEmpty());
    if (!hashFile(path, &hash) || hash.size() != entry.size ||
        digestTextFromMd5(hash.md5()) != entry.md5)
        return false;
    return sha256Hex.isEmpty() || hash.sha256().toHex() == sha256Hex.toLower();
}
