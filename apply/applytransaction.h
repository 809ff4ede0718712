#pragma once

#include "entryswap.h"
#include "updatejournal.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QVector>

// Swaps downloaded files into the installation as one transaction: all of them, or, after
// a failure, none. Every installed path always holds a whole file, the previous or the
// new one (see EntrySwap for the names used beside each file). The downloaded files stay in
// the cache until the commit, so an undone update needs no new download. The journal lets
// any later run finish or undo an interrupted one.
//
// The durable order: the journal; every entry backed up (and the folders of added files
// made); the changed folders flushed; every new file checked and renamed over its path; the
// folders flushed again; the journal in "commit"; the backups renamed to NAME.old.
class ApplyTransaction
{
public:
    ApplyTransaction(QDir installDir, UpdateJournal journal);

    // Applies every entry and commits. On failure everything applied is undone;
    // errorString() holds the message of the failed step and failedFile() the file it
    // concerns.
    bool run();
    QString errorString() const { return m_error; }
    QFileInfo failedFile() const { return m_failedFile; }

    // Finishes (when every new file is still at hand and verified) or undoes the update of
    // a left-over journal; `cacheDir` is the configured cache folder. True when no journal is
    // left afterwards. False with the message when the update can be neither finished nor
    // undone now, or when the journal is damaged: then nothing at all is touched.
    static bool recoverIn(const QDir &installDir, const QDir &cacheDir, QString *error);

private:
    EntrySwap swapOf(int index) const;
    bool fail(const QString &error, const QString &file);

    bool clearLeftOvers();
    bool applyAll(const QVector<bool> &swapNeeded, QString *error, QString *failedPath);
    bool recover(QString *error);
    bool newFilesAtHand(QVector<bool> *swapNeeded) const;
    bool undoAll(QString *error);
    void abandon();
    bool commitAll(QString *error);
    bool enter(UpdateJournal::State state);
    bool syncFolders() const;
    bool finish();
    QString journalError() const;

    QDir m_installDir;
    UpdateJournal m_journal;
    QString m_error;
    QFileInfo m_failedFile;
};
