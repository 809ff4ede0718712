#include "applytransaction.h"
#include "cdownloadthread.h"

// Swaps every downloaded file into the installation as one transaction, keeping each
// replaced file as NAME.old. After a failure nothing of the update stays applied.
void CDownloadThread::applyUpdate()
{
    UpdateJournal journal = ApplyTransaction::plan(m_cacheDir, m_installDir, m_files);
    journal.writesRecord = !m_record.isNull();
    journal.record = m_record;
    ApplyTransaction transaction(m_installDir, journal);
    QString error;
    QFileInfo failedFile;
    if (!transaction.run(&error, &failedFile)) {
        fail(failedFile, error);
        return;
    }
    succeed();
}
