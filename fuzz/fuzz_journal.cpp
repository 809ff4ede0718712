// libFuzzer target: UpdateJournal::fromJson must take any bytes, and a journal it accepts
// must come back the same when written and read again: a run that is interrupted between two
// writes of the journal finishes or undoes exactly the update the first write described.
// (A check of what was read, should the journal get one, belongs here too.)
#include "fuzzcheck.h"
#include "updatejournal.h"

#include <cstdint>

namespace {

bool sameEntry(const JournalEntry &a, const JournalEntry &b)
{
    return a.file == b.file && a.previous == b.previous && a.createdFolder == b.createdFolder;
}

bool sameRelease(const UpdateJournal &a, const UpdateJournal &b)
{
    if (a.release.isNull() || b.release.isNull())
        return a.release.isNull() == b.release.isNull();
    if (a.release.sequence() != b.release.sequence())
        return false;
    for (const JournalEntry &entry : a.entries) {
        if (a.release.sha256Of(entry.file.path) != b.release.sha256Of(entry.file.path))
            return false;
    }
    return true;
}

// The cache folder as the folder it names: written cleaned ("/a//b/../c" as "/a/c").
bool sameJournal(const UpdateJournal &a, const UpdateJournal &b)
{
    if (a.state != b.state || a.cacheDir.absolutePath() != b.cacheDir.absolutePath() ||
        a.writesRecord != b.writesRecord || a.record != b.record ||
        a.entries.size() != b.entries.size() || !sameRelease(a, b))
        return false;
    for (int i = 0; i < a.entries.size(); ++i) {
        if (!sameEntry(a.entries.at(i), b.entries.at(i)))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    UpdateJournal journal;
    if (!journal.fromJson(QByteArray(reinterpret_cast<const char *>(data), int(size))))
        return 0;
    const QByteArray written = journal.toJson();
    UpdateJournal again;
    REQUIRE(again.fromJson(written));
    REQUIRE(sameJournal(journal, again));
    REQUIRE(again.toJson() == written);
    return 0;
}
