// libFuzzer target: parseSha256List must take any bytes and key each digest exactly as
// parseManifest keys the same line, since a client looks a file's SHA-256 up by its md5.txt
// path. The first byte picks how paths are decoded: locally as the updater does, or in a
// client code page as update-publish and --verify do.
#include "fuzzcheck.h"
#include "manifest.h"
#include "sha256.h"

#include <QTextCodec>

#include <cstdint>

namespace {

QTextCodec *codecFor(uint8_t selector)
{
    switch (selector % 3) {
    case 1:
        return QTextCodec::codecForName("GBK");
    case 2:
        return QTextCodec::codecForName("windows-1252");
    default:
        return nullptr;
    }
}

// The lines read the slow, obvious way: the last line of a path wins.
Sha256List referenceParse(const QByteArray &text, QTextCodec *codec)
{
    Sha256List list;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3)
            continue;
        // A path ends at a NUL byte, as QString::fromLocal8Bit(QByteArray) reads it.
        const QByteArray raw =
            fields[2].left(int(qstrnlen(fields[2].constData(), fields[2].size())));
        const QString path = codec ? codec->toUnicode(raw) : QString::fromLocal8Bit(raw);
        list.insert(normaliseManifestPath(path), fields[0]);
    }
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QTextCodec *codec = codecFor(data[0]);
    const QByteArray text(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const Sha256List list = parseSha256List(text, codec);
    REQUIRE(list == referenceParse(text, codec));
    const Manifest manifest = parseManifest(text, codec);
    REQUIRE(list.keys() == manifest.keys());
    for (auto it = list.cbegin(); it != list.cend(); ++it) {
        REQUIRE(it.value() == manifest.value(it.key()).md5);
        REQUIRE(!it.key().contains(QLatin1Char('\\')));
        REQUIRE(!it.value().contains('\t') && !it.value().contains('\n'));
    }
    return 0;
}
