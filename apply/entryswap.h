#pragma once

#include "updatejournal.h"

#include <QDir>
#include <QString>

// The file steps of one journal entry. Beside the installed file NAME they use three names
// of the length of "NAME.old":
//   NAME.~pv  the previous version (a second link, or a flushed copy), until the commit
//             renames it to NAME.old;
//   NAME.~od  an earlier NAME.old, kept until the commit removes it;
//   .~nwN     the new file of entry N staged in its target's folder, then renamed over
//             NAME (a short name, so that it fits wherever NAME fits).
// Every step notices what an interrupted earlier try already did, so each may be repeated.
class EntrySwap
{
public:
    EntrySwap(const QDir &installDir, const QDir &cacheDir, const JournalEntry &entry, int index);

    // Backs up what stands at the path (an existing NAME.old is kept aside), makes the
    // folder of an added file, and with `swap` puts the new file in place.
    bool apply(bool swap, QString *error) const;
    // Puts back what stood at the path before, and removes what the update added.
    bool undo() const;
    // Makes the previous version NAME.old and lets the cached new file go.
    bool commit() const;

    QString installedPath() const { return m_installed; }
    QString cachedPath() const { return m_cached; }
    // The message of a failed swap, undo or commit of this entry.
    QString failure() const;

private:
    bool backUp() const;
    bool swapIn() const;
    bool removeStaged() const;
    void removeCreatedFolders() const;

    JournalEntry m_entry;
    QString m_installed, m_old, m_kept, m_previous, m_staged, m_cached;
};
