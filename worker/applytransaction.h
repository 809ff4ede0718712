#pragma once

#include "updatejournal.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>

// Swaps downloaded files into the installation as one transaction: all of them, or, after
// a failure, none. Every installed path always holds a whole file, the previous or the
// new one. Beside each file NAME it uses three names of the length of "NAME.old":
//   NAME.~pv  the previous version (a second link, or a flushed copy), until the commit
//             renames it to NAME.old;
//   NAME.~od  an earlier NAME.old, kept until the commit removes it;
//   .~nwN     the new file of entry N staged in its target's folder, then renamed over
//             NAME (a short name, so that it fits wherever NAME fits).
// The downloaded files stay in the cache until the commit, so an undone update needs no
// new download. The journal lets any later run finish or undo an interrupted one.
class ApplyTransaction
{
public:
    ApplyTransaction(QDir installDir, UpdateJournal journal);

    // The journal of a new update: what stands at each path now.
    static UpdateJournal plan(const QDir &cacheDir, const QDir &installDir,
                              const QList<ManifestEntry> &files);

    // Applies every entry and commits. On failure everything applied is undone, `error`
    // holds the message of the failed step and `failedFile` the file it concerns.
    bool run(QString *error, QFileInfo *failedFile);

    // Finishes (when every new file is still at hand and verified) or undoes the update of
    // a left-over journal. True when no journal is left afterwards, or none could be read.
    static bool recoverIn(const QDir &installDir, QString *error);

private:
    struct Paths
    {
        QString installed, old, kept, previous, staged, cached;
    };
    Paths pathsOf(int index) const;

    bool applyEntry(int index, bool swap, QString *error);
    bool backUp(const JournalEntry &entry, const Paths &paths) const;
    bool swapIn(const JournalEntry &entry, const Paths &paths) const;
    bool undoEntry(int index) const;
    bool removeStaged(const Paths &paths) const;
    void removeCreatedFolders(const JournalEntry &entry, const Paths &paths) const;
    bool commitEntry(int index) const;

    bool recover(QString *error);
    bool newFilesAtHand(QList<bool> *swapNeeded) const;
    bool rollForward(const QList<bool> &swapNeeded, QString *error);
    bool undoAll(QString *error);
    void abandon();
    bool commitAll(QString *error);
    bool enter(UpdateJournal::State state);
    bool syncFolders() const;
    bool finish();

    QString entryError(int index) const;
    QString journalError() const;

    QDir m_installDir;
    UpdateJournal m_journal;
};
