#pragma once

#include "manifest.h"
#include "verifiedrelease.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>

// One file of an update as the journal names it: what the update brings, and what stood
// at its path before, so that a later run can finish or undo the swap without the network.
struct JournalEntry
{
    enum class Previous { None, File, Other }; // added; replaced a regular file; anything else

    ManifestEntry file;
    Previous previous = Previous::None;
    QString createdFolder; // topmost folder the update creates for an added file, or empty
};

// The plan of an update, written durably beside "update_md5.info" before the first
// installed file is touched and removed after the last step.
struct UpdateJournal
{
    enum class State { Apply, Undo, Commit };

    State state = State::Apply;
    QDir cacheDir;
    QList<JournalEntry> entries;
    bool writesRecord = false; // the list to record as UpdateNames::record() at the end
    QByteArray record;
    // A signed release: its files are checked by their SHA-256 too, and its Sequence is
    // recorded with the list. Of it the journal keeps the Sequence and the digests.
    VerifiedRelease release;

    // The journal of a new update: what stands at each path now.
    static UpdateJournal plan(const QDir &cacheDir, const QDir &installDir,
                              const QList<ManifestEntry> &files);

    static QString pathIn(const QDir &installDir);
    static bool existsIn(const QDir &installDir);

    bool write(const QDir &installDir) const;
    // False when there is no journal, or it is damaged: it does not parse, or names a path
    // outside `installDir`, a created folder that is not inside it above its entry's path, or
    // another cache folder than `cacheDir`.
    bool read(const QDir &installDir, const QDir &cacheDir);

    QByteArray toJson() const;
    bool fromJson(const QByteArray &json);
};
