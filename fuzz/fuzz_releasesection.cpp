// libFuzzer target: readReleaseSection must take any update.ini through Qt's INI reading (a
// file, as the client reads the verified bytes), give values the checks can compare as they
// stand, and read back exactly what writeReleaseSection wrote of it: the publisher writes the
// section that the clients read. (Values with control characters are left out of that: no
// publisher writes them, and Qt's INI writing drops a NUL.)
#include "fuzzcheck.h"
#include "releasesection.h"

#include <QSettings>
#include <QTemporaryFile>

#include <cstdint>

namespace {

bool sameSection(const ReleaseSection &a, const ReleaseSection &b)
{
    return a.sequence == b.sequence && a.md5List == b.md5List && a.sha256List == b.sha256List &&
           a.expiresText == b.expiresText && a.expires == b.expires &&
           a.expires.isValid() == b.expires.isValid() && a.patchList == b.patchList &&
           a.patchListSha256 == b.patchListSha256;
}

// A unique file per input: QSettings caches what it read by file name (so run this target
// with -detect_leaks=0, as scripts/fuzz.sh does: the cache grows by one file per input).
ReleaseSection readFrom(const QByteArray &bytes)
{
    QTemporaryFile file;
    REQUIRE(file.open() && file.write(bytes) == bytes.size() && file.flush());
    return readReleaseSection(file.fileName());
}

ReleaseSection writtenAndReadBack(const ReleaseSection &section)
{
    QTemporaryFile file;
    REQUIRE(file.open());
    {
        QSettings ini(file.fileName(), QSettings::IniFormat);
        // The same text, written in place: no flush to the disk for every input.
        ini.setAtomicSyncRequired(false);
        writeReleaseSection(ini, section);
        ini.sync();
        REQUIRE(ini.status() == QSettings::NoError);
    }
    return readReleaseSection(file.fileName());
}

bool isControl(uint code)
{
    return code < 0x20 || code == 0x7f;
}

bool hasControlCharacter(const QByteArray &text)
{
    for (const char c : text) {
        if (isControl(uchar(c)))
            return true;
    }
    return false;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            return true;
    }
    return false;
}

bool writable(const ReleaseSection &section)
{
    return !hasControlCharacter(section.md5List) && !hasControlCharacter(section.sha256List) &&
           !hasControlCharacter(section.expiresText) && !hasControlCharacter(section.patchList) &&
           !hasControlCharacter(section.patchListSha256);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ReleaseSection section =
        readFrom(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    REQUIRE(section.sequence >= 0 && section.hasSequence() == (section.sequence > 0));
    // Compared with SHA-256 hex and shown as they stand: no white space around them.
    REQUIRE(section.md5List == section.md5List.trimmed());
    REQUIRE(section.sha256List == section.sha256List.trimmed());
    REQUIRE(section.expiresText == section.expiresText.trimmed());
    REQUIRE(section.patchList == section.patchList.trimmed());
    REQUIRE(section.patchListSha256 == section.patchListSha256.trimmed());
    REQUIRE(section.hasExpiry() || !section.expires.isValid());
    if (section.expires.isValid()) {
        REQUIRE(section.expires.timeSpec() == Qt::UTC);
        REQUIRE(parseExpires(section.expiresText) == section.expires);
    }
    if (writable(section))
        REQUIRE(sameSection(writtenAndReadBack(section), section));
    return 0;
}
