#include "packlist.h"

#include "filehash.h"
#include "manifest.h"

#include <QList>
#include <QTextCodec>

namespace {

const QByteArray CompressedKind = QByteArrayLiteral("zstd");
const QByteArray PatchKind = QByteArrayLiteral("patch");
const QByteArray NoBase = QByteArrayLiteral("-");

bool readSize(const QByteArray &field, qint64 *size)
{
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    *size = field.toLongLong(&ok);
    return ok && !field.isEmpty() && field.size() <= 18;
}

// The fields of one line, or false when it is no line of the list.
bool readLine(const QByteArray &line, QTextCodec *codec, PackedCopy *copy)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 6 || (fields[0] != CompressedKind && fields[0] != PatchKind))
        return false;
    copy->kind = fields[0] == PatchKind ? PackedCopy::Kind::Patch : PackedCopy::Kind::Compressed;
    const bool patch = copy->kind == PackedCopy::Kind::Patch;
    if (patch ? !isLowerHex(fields[1], 32) : fields[1] != NoBase)
        return false;
    copy->baseMd5 = patch ? fields[1] : QByteArray();
    copy->md5 = fields[3];
    copy->sha256 = fields[4];
    const QString raw = codec ? codec->toUnicode(fields[5]) : QString::fromLocal8Bit(fields[5]);
    copy->path = normaliseManifestPath(raw);
    return readSize(fields[2], &copy->size) && isLowerHex(copy->md5, 32) &&
           isLowerHex(copy->sha256, 64) && !copy->path.isEmpty();
}

} // namespace

QString PackedCopy::fileName() const
{
    return QString::fromLatin1(sha256) + QStringLiteral(".zst");
}

bool operator==(const PackedCopy &a, const PackedCopy &b)
{
    return a.kind == b.kind && a.path == b.path && a.baseMd5 == b.baseMd5 && a.size == b.size &&
           a.md5 == b.md5 && a.sha256 == b.sha256;
}

QByteArray packListLine(const PackedCopy &copy, const QByteArray &encodedPath)
{
    const bool patch = copy.kind == PackedCopy::Kind::Patch;
    return (patch ? PatchKind : CompressedKind) + '\t' + (patch ? copy.baseMd5 : NoBase) + '\t' +
           QByteArray::number(copy.size) + '\t' + copy.md5 + '\t' + copy.sha256 + '\t' +
           encodedPath + "\r\n";
}

PackList parsePackList(const QByteArray &text, QTextCodec *pathCodec)
{
    PackList list;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        PackedCopy copy;
        if (readLine(line, pathCodec, &copy))
            list.insert(copy.path, copy);
    }
    return list;
}
