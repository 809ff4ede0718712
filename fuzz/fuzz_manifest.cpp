// libFuzzer target: parseManifest must take any bytes without crashing, and what it
// returns must keep the invariants the comparison and the download worker rely on.
#include "manifest.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const Manifest manifest = parseManifest(text);
    require(manifest.size() <= text.count('\n') + 1);
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        const ManifestEntry &entry = it.value();
        require(entry.path == it.key());
        require(!entry.path.contains(QLatin1Char('\\')));
        require(!entry.md5.contains('\t') && !entry.md5.contains('\n'));
        if (isContainedRelativePath(entry.path))
            require(!entry.path.startsWith(QLatin1Char('/')) && !entry.path.contains(':'));
    }
    // Parsing is deterministic: the same bytes give the same list.
    require(parseManifest(text) == manifest);
    return 0;
}
