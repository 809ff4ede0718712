// The steps that end a transaction, shared by a run and by the recovery of a left-over
// journal in a later run. Each of them may be interrupted and repeated.
#include "applytransaction.h"

#include "appliedsequence.h"
#include "filecheck.h"
#include "fileops.h"

#include <QSet>

bool ApplyTransaction::recoverIn(const QDir &installDir, QString *error)
{
    // A temporary journal or record of an interrupted write is no part of the installation.
    fileops::remove(UpdateJournal::pathIn(installDir) + fileops::temporarySuffix());
    fileops::remove(installDir.absoluteFilePath(QStringLiteral("update_md5.info")) +
                    fileops::temporarySuffix());
    fileops::remove(appliedSequencePath(installDir) + fileops::temporarySuffix());
    UpdateJournal journal;
    if (!journal.read(installDir))
        return true;
    ApplyTransaction transaction(installDir, journal);
    return transaction.recover(error);
}

bool ApplyTransaction::recover(QString *error)
{
    switch (m_journal.state) {
    case UpdateJournal::State::Commit:
        return commitAll(error) && finish();
    case UpdateJournal::State::Undo:
        return undoAll(error) && finish();
    case UpdateJournal::State::Apply:
        break;
    }
    QList<bool> swapNeeded;
    if (newFilesAtHand(&swapNeeded) && rollForward(swapNeeded, error))
        return commitAll(error) && finish();
    enter(UpdateJournal::State::Undo);
    QString undoError;
    if (!undoAll(&undoError)) {
        *error = undoError;
        return false;
    }
    return finish();
}

// Every new file is either still in the cache or already installed, whole and verified
// (a signed release's file by its SHA-256 too).
bool ApplyTransaction::newFilesAtHand(QList<bool> *swapNeeded) const
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        const Paths paths = pathsOf(i);
        const JournalEntry &entry = m_journal.entries.at(i);
        if (fileMatchesEntry(paths.cached, entry.file, entry.sha256))
            swapNeeded->append(true);
        else if (fileMatchesEntry(paths.installed, entry.file, entry.sha256))
            swapNeeded->append(false);
        else
            return false;
    }
    return true;
}

bool ApplyTransaction::rollForward(const QList<bool> &swapNeeded, QString *error)
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        if (!applyEntry(i, swapNeeded.at(i), error))
            return false;
    }
    if (!syncFolders() || !enter(UpdateJournal::State::Commit)) {
        *error = journalError();
        return false;
    }
    return true;
}

// In reverse order, so that a folder created for an added file is empty when its turn
// comes. An entry that cannot be undone does not keep the others from being undone.
bool ApplyTransaction::undoAll(QString *error)
{
    bool undone = true;
    for (int i = m_journal.entries.size() - 1; i >= 0; --i) {
        if (!undoEntry(i)) {
            *error = entryError(i);
            undone = false;
        }
    }
    return syncFolders() && undone;
}

// Undoes a failed run; when even that fails, the journal stays for the next run.
void ApplyTransaction::abandon()
{
    enter(UpdateJournal::State::Undo);
    QString error;
    if (undoAll(&error))
        finish();
}

bool ApplyTransaction::commitAll(QString *error)
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        if (!commitEntry(i)) {
            *error = entryError(i);
            return false;
        }
    }
    return syncFolders();
}

bool ApplyTransaction::enter(UpdateJournal::State state)
{
    m_journal.state = state;
    return m_journal.write(m_installDir);
}

bool ApplyTransaction::syncFolders() const
{
    QSet<QString> folders;
    for (int i = 0; i < m_journal.entries.size(); ++i)
        folders.insert(QFileInfo(pathsOf(i).installed).absolutePath());
    bool synced = true;
    for (const QString &folder : qAsConst(folders))
        synced = (!QFileInfo(folder).isDir() || fileops::syncFolder(folder)) && synced;
    return synced;
}

// The record and a signed release's sequence are written (after a commit) before the
// journal goes, so that an interruption in between is finished by the next run and never
// leaves an outdated record or sequence.
bool ApplyTransaction::finish()
{
    const QString recordPath = m_installDir.absoluteFilePath(QStringLiteral("update_md5.info"));
    if (m_journal.state == UpdateJournal::State::Commit) {
        if (m_journal.writesRecord && !fileops::writeAtomically(recordPath, m_journal.record))
            return false;
        if (m_journal.sequence > 0 &&
            !fileops::writeAtomically(appliedSequencePath(m_installDir),
                                      appliedSequenceBytes(m_journal.sequence)))
            return false;
    }
    return fileops::remove(UpdateJournal::pathIn(m_installDir)) &&
           fileops::syncFolder(m_installDir.absolutePath());
}
