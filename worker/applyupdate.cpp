#include "applytransaction.h"
#include "cdownloadthread.h"

// Swaps every downloaded file into the installation as one transaction, keeping each
// replaced file as NAME.old. After a failure nothing of the update stays applied.
void CDownloadThread::applyUpdate()
{
    UpdateJournal journal = ApplyTransaction::plan(m_cacheDir, m_installDir, m_files);
    journal.writesRecord = !m_options.record.isNull();
    journal.record = m_options.record;
    if (isSigned()) {
        // Recovery checks the files it rolls forward by the same hashes as the download.
        for (JournalEntry &entry : journal.entries)
            entry.sha256 = m_options.release.listedSha256(entry.file.path);
        journal.sequence = m_options.release.release().sequence;
    }
    ApplyTransaction transaction(m_installDir, journal);
    QString error;
    QFileInfo failedFile;
    if (!transaction.run(&error, &failedFile)) {
        fail(failedFile, error);
        return;
    }
    succeed();
}
