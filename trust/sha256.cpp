#include "sha256.h"

#include "manifest.h"

QByteArray sha256(const QByteArray &data)
{
    Sha256Hash hash;
    hash.addData(data.constData(), data.size());
    return hash.result();
}

QByteArray sha256Hex(const QByteArray &data)
{
    return sha256(data).toHex();
}

bool fileSha256Hex(const QString &path, QByteArray *hex)
{
    ContentHash hash(true);
    if (!hashFile(path, &hash))
        return false;
    const QByteArray digest = hash.sha256();
    if (digest.isEmpty())
        return false;
    if (hex)
        *hex = digest.toHex();
    return true;
}

Sha256List parseSha256List(const QByteArray &text, QTextCodec *pathCodec)
{
    // The same lines as md5.txt, so the same parser; its digest field holds the SHA-256.
    Sha256List list;
    const Manifest entries = parseManifest(text, pathCodec);
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        list.insert(list.constEnd(), it.key(), it.value().md5);
    return list;
}
