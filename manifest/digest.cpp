#include "digest.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstdio>

namespace {

// Large enough to keep the hash busy, small enough to keep memory flat for any file size.
constexpr qint64 ChunkSize = 1024 * 1024;

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
    // Unbuffered: QFile's own buffer would only add a copy of every chunk.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), ChunkSize);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        hash.addData(buffer.constData(), int(got));
    }
    if (digest)
        *digest = digestTextFromMd5(hash.result());
    return true;
}

bool fileMatchesDigest(QString path, QByteArray digest)
{
    QByteArray actual;
    return fileDigestText(path, &actual) && actual == digest;
}
