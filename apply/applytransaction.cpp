#include "applytransaction.h"

#include "appliedsequence.h"
#include "digest.h"
#include "fileops.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QSet>

namespace {

const char *const StateNames[] = {"apply", "undo", "commit"};

} // namespace

ApplyTransaction::ApplyTransaction(QDir installDir, UpdateJournal journal)
    : m_installDir(installDir), m_journal(journal)
{}

EntrySwap ApplyTransaction::swapOf(int index) const
{
    const JournalEntry &entry = m_journal.entries.at(index);
    return EntrySwap(m_installDir, m_journal.cacheDir, entry, index,
                     m_journal.release.sha256Of(entry.file.path));
}

bool ApplyTransaction::fail(const QString &error, const QString &file)
{
    m_error = error;
    m_failedFile = QFileInfo(file);
    qCInfo(lcApply, "failed: %s", qUtf8Printable(error));
    return false;
}

bool ApplyTransaction::run()
{
    if (m_journal.entries.isEmpty()) { // nothing to swap: straight to the end
        m_journal.state = UpdateJournal::State::Commit;
        finish(); // only records the list; the next run writes it again if this fails
        return true;
    }
    if (!clearLeftOvers())
        return false;
    m_journal.state = UpdateJournal::State::Apply;
    if (!m_journal.write(m_installDir))
        return fail(journalError(), UpdateJournal::pathIn(m_installDir));
    QString error, failedPath;
    if (!applyAll(QVector<bool>(m_journal.entries.size(), true), &error, &failedPath)) {
        abandon();
        return fail(error, failedPath);
    }
    // Past this point the update counts as applied; what is left is done by the next run.
    QString commitError;
    if (commitAll(&commitError))
        finish(); // else the journal stays in "commit"
    return true;
}

// Before the journal exists: afterwards every temporary name holds what this update made.
bool ApplyTransaction::clearLeftOvers()
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        QString error;
        if (!swapOf(i).clearLeftOvers(&error))
            return fail(error, swapOf(i).installedPath());
    }
    return true;
}

// Every backup is durable before the first new file takes a path, and every new file before
// the journal says "commit": two folder flushes for the whole update.
bool ApplyTransaction::applyAll(const QVector<bool> &swapNeeded, QString *error,
                                QString *failedPath)
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        *failedPath = swapOf(i).installedPath();
        if (!swapOf(i).prepare(error))
            return false;
    }
    *failedPath = UpdateJournal::pathIn(m_installDir);
    *error = journalError();
    if (!syncFolders())
        return false;
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        *failedPath = swapOf(i).installedPath();
        if (!swapNeeded.at(i))
            qCInfo(lcApply, "%s: new version was in place already",
                   qUtf8Printable(m_journal.entries.at(i).file.path));
        else if (!swapOf(i).swap(error))
            return false;
    }
    *failedPath = UpdateJournal::pathIn(m_installDir);
    *error = journalError();
    return syncFolders() && enter(UpdateJournal::State::Commit);
}

bool ApplyTransaction::recoverIn(const QDir &installDir, const QDir &cacheDir, QString *error)
{
    const bool found = UpdateJournal::existsIn(installDir);
    UpdateJournal journal;
    if (found && !journal.read(installDir, cacheDir)) {
        qCInfo(lcApply, "the journal of an interrupted update is damaged: nothing is touched");
        *error = QCoreApplication::translate("CDownloadThread",
                                             "上次未完成的更新无法完成或撤销：记录文件%1已损坏")
                     .arg(QDir::toNativeSeparators(UpdateJournal::pathIn(installDir)));
        return false;
    }
    // A temporary journal or record of an interrupted write is no part of the installation;
    // one that cannot be removed now is removed by a later run or replaced by a later write.
    for (const QString &name :
         {UpdateNames::journal(), UpdateNames::record(), UpdateNames::appliedSequence()})
        fileops::remove(installDir.absoluteFilePath(name) + fileops::temporarySuffix());
    if (!found)
        return true;
    qCInfo(lcApply, "an interrupted update of %d files (state %s) is finished or undone",
           int(journal.entries.size()), StateNames[int(journal.state)]);
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
    QVector<bool> swapNeeded;
    QString failedPath;
    if (newFilesAtHand(&swapNeeded) && applyAll(swapNeeded, error, &failedPath))
        return commitAll(error) && finish();
    qCInfo(lcApply, "not every new file is at hand: the update is undone");
    enter(UpdateJournal::State::Undo); // undone all the same; a next run repeats it if needed
    QString undoError;
    if (!undoAll(&undoError)) {
        *error = undoError;
        return false;
    }
    return finish();
}

// Every new file is either still in the cache or already installed, whole and verified
// (a signed release's file by its SHA-256 too).
bool ApplyTransaction::newFilesAtHand(QVector<bool> *swapNeeded) const
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        const EntrySwap swap = swapOf(i);
        const ManifestEntry &file = m_journal.entries.at(i).file;
        const QByteArray sha256 = m_journal.release.sha256Of(file.path);
        if (fileMatchesEntry(swap.cachedPath(), file, sha256))
            swapNeeded->append(true);
        else if (fileMatchesEntry(swap.installedPath(), file, sha256))
            swapNeeded->append(false);
        else
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
        const EntrySwap swap = swapOf(i);
        const bool entryUndone = swap.undo();
        qCInfo(lcApply, "%s: %s", qUtf8Printable(m_journal.entries.at(i).file.path),
               entryUndone ? "undone" : "could not be undone");
        if (!entryUndone) {
            *error = swap.failure();
            undone = false;
        }
    }
    return syncFolders() && undone;
}

// Undoes a failed run; when even that fails, the journal stays for the next run.
void ApplyTransaction::abandon()
{
    enter(UpdateJournal::State::Undo); // undone all the same; a next run repeats it if needed
    QString error;
    if (undoAll(&error))
        finish(); // a journal that cannot go is finished by the next run
}

bool ApplyTransaction::commitAll(QString *error)
{
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        const EntrySwap swap = swapOf(i);
        if (!swap.commit()) {
            *error = swap.failure();
            return false;
        }
    }
    qCInfo(lcApply, "committed %d files", int(m_journal.entries.size()));
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
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        for (const QString &folder : swapOf(i).changedFolders())
            folders.insert(folder);
    }
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
    if (m_journal.state == UpdateJournal::State::Commit) {
        const QString recordPath = m_installDir.absoluteFilePath(UpdateNames::record());
        if (m_journal.writesRecord && !fileops::writeAtomically(recordPath, m_journal.record))
            return false;
        const VerifiedRelease &release = m_journal.release;
        if (!release.isNull() &&
            !writeSequenceRecord(m_installDir, {release.sequence(), release.descriptionSha256()}))
            return false;
    }
    return fileops::remove(UpdateJournal::pathIn(m_installDir)) &&
           fileops::syncFolder(m_installDir.absolutePath());
}

QString ApplyTransaction::journalError() const
{
    return QCoreApplication::translate("CDownloadThread", "更新文件%1写入失败")
        .arg(QFileInfo(UpdateJournal::pathIn(m_installDir)).fileName());
}
