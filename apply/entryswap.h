#pragma once

#include "updatejournal.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>

// The file steps of one journal entry. Beside the installed file NAME they use three names
// of the length of "NAME.old":
//   NAME.~pv  the previous version (a second link, or a flushed copy), until the commit
//             renames it to NAME.old;
//   NAME.~od  an earlier NAME.old (a file or a folder), kept until the commit removes it;
//   .~nwN     the new file of entry N staged in its target's folder, then renamed over
//             NAME (a short name, so that it fits wherever NAME fits).
// A fresh update clears these names before its journal is written, so whatever a later step
// finds there was made by that update. Every step notices what an interrupted earlier try
// already did, so each may be repeated.
class EntrySwap
{
public:
    // `sha256` is the new file's SHA-256 (hex) for a signed release, else empty.
    EntrySwap(const QDir &installDir, const QDir &cacheDir, const JournalEntry &entry, int index,
              const QByteArray &sha256 = QByteArray());

    // Removes what an earlier run left at this entry's temporary names; false, with the
    // message naming the first that cannot go, when one stays.
    bool clearLeftOvers(QString *error) const;
    // Backs up what stands at the path (an existing NAME.old is kept aside), or makes the
    // folders of an added file.
    bool prepare(QString *error) const;
    // Puts the new file in place once it is checked where nobody else can change it.
    bool swap(QString *error) const;
    // Puts back what stood at the path before, and removes what the update added. False when
    // the previous version cannot be put back (also when its backup is gone while the path
    // holds the new file).
    bool undo() const;
    // Makes the previous version NAME.old and lets the cached new file go. False only when
    // the previous version cannot be renamed; what cannot be removed is left for a later run.
    bool commit() const;

    QString installedPath() const { return m_installed; }
    QString cachedPath() const { return m_cached; }
    // The folders whose entries the steps change: the file's own and each one the update
    // creates for it, with the folder that holds the topmost.
    QStringList changedFolders() const;
    // The message of a failed swap, undo or commit of this entry.
    QString failure() const;

private:
    bool backUp() const;
    bool isNewFile(const QString &path) const;
    bool removeStaged() const;
    void removeCreatedFolders() const;

    JournalEntry m_entry;
    QByteArray m_sha256;
    QString m_installed, m_old, m_kept, m_previous, m_staged, m_cached;
};
