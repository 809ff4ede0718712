// libFuzzer target: parseManifest must take any bytes without crashing, agree with a
// plain reading of the format, and keep the invariants that later steps rely on.
#include "fuzzcheck.h"
#include "manifest.h"
#include "pathrules.h"

#include <QList>

#include <cstdint>

namespace {

// The format read the slow, obvious way: split, split again, Qt's number reading.
Manifest referenceParse(const QByteArray &text)
{
    Manifest manifest;
    const QList<QByteArray> lines = text.split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3)
            continue;
        bool ok = false;
        const quint64 raw = fields[1].toULongLong(&ok, 16);
        ManifestEntry entry;
        entry.md5 = fields[0];
        entry.size = ok ? qint64((raw << 32) | (raw >> 32)) : 0;
        entry.path = normaliseManifestPath(QString::fromLocal8Bit(fields[2]));
        manifest.insert(entry.path, entry);
    }
    return manifest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const Manifest manifest = parseManifest(text);
    REQUIRE(manifest == referenceParse(text));
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        const ManifestEntry &entry = it.value();
        REQUIRE(entry.path == it.key());
        REQUIRE(!entry.path.contains(QLatin1Char('\\')));
        REQUIRE(!entry.md5.contains('\t') && !entry.md5.contains('\n'));
        if (isContainedRelativePath(entry.path))
            REQUIRE(!entry.path.startsWith(QLatin1Char('/')) && !entry.path.contains(':'));
    }
    return 0;
}
