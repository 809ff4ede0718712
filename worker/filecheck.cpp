#include "filecheck.h"

#include "digest.h"
#include "fileops.h"
#include "sha256.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

constexpr qint64 ChunkBytes = 1024 * 1024;

} // namespace

bool fileMatchesEntry(const QString &path, const ManifestEntry &entry, const QByteArray &sha256Hex)
{
    if (fileops::kindOf(path) != fileops::Kind::File)
        return false;
    QFile file(path);
    if (file.size() != entry.size || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    QCryptographicHash md5(QCryptographicHash::Md5);
    Sha256Hash sha256;
    QByteArray buffer(int(ChunkBytes), Qt::Uninitialized);
    qint64 total = 0;
    for (qint64 got; (got = file.read(buffer.data(), ChunkBytes)) != 0;) {
        if (got < 0)
            return false;
        total += got;
        md5.addData(buffer.constData(), int(got));
        if (!sha256Hex.isEmpty())
            sha256.addData(buffer.constData(), got);
    }
    if (total != entry.size || digestTextFromMd5(md5.result()) != entry.md5)
        return false;
    return sha256Hex.isEmpty() || sha256.result().toHex() == sha256Hex.toLower();
}
