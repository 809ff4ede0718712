#include "cdownloadthread.h"

#include "applytransaction.h"
#include "cachefill.h"
#include "pathrules.h"
#include "trustmessages.h"
#include "updatelog.h"

CDownloadThread::CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir,
                                 QList<ManifestEntry> files, QObject *parent)
    : CDownloadThread(baseUrl, cacheDir, installDir, files, DownloadOptions(), parent)
{}

CDownloadThread::CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir,
                                 QList<ManifestEntry> files, DownloadOptions options,
                                 QObject *parent)
    : QThread(parent), m_cacheDir(cacheDir), m_installDir(installDir), m_files(files),
      m_options(options)
{
    m_success.store(false);
    // A run can end right here, before anybody started the managed thread, and start()
    // discards an earlier exit request. So once the thread runs, quit again if the end
    // was already reached; exec() then returns at once, because exit() came after start().
    // Direct connection: this runs on the new thread, and quit() is safe from there.
    connect(this, &QThread::started, this, &CDownloadThread::quitIfEndedBeforeStart,
            Qt::DirectConnection);
    if (!checkPaths())
        return;
    m_fill = new CacheFill(baseUrl, cacheDir, installDir, files, options, this);
    connect(m_fill, &CacheFill::fileStarted, this, &CDownloadThread::downloadStarted);
    connect(m_fill, &CacheFill::progress, this, &CDownloadThread::downloadProgress);
    connect(m_fill, &CacheFill::finished, this, &CDownloadThread::onCacheFilled);
    m_fill->start();
}

// The fill (a child) goes with the QObject base: its transfers keep what they received for
// the next run.
CDownloadThread::~CDownloadThread() = default;

bool CDownloadThread::success() const
{
    return m_success.load();
}

QString CDownloadThread::errorText() const
{
    return m_errorText;
}

// Refuses the whole list before anything is fetched or moved (see checkListedPaths); a
// signed release's file must also be listed in sha256.txt.
bool CDownloadThread::checkPaths()
{
    QString refused;
    if (!checkListedPaths(m_files, m_installDir, m_cacheDir, &refused)) {
        fail(QFileInfo(refused), tr("更新文件%1路径不合法").arg(refused));
        return false;
    }
    if (m_options.release.isNull())
        return true;
    for (const ManifestEntry &entry : qAsConst(m_files)) {
        if (!m_options.release.lists(entry.path)) {
            fail(QFileInfo(m_cacheDir.absoluteFilePath(entry.path)),
                 TrustMessages::fileNotInSha256List(QFileInfo(entry.path).fileName()));
            return false;
        }
    }
    return true;
}

void CDownloadThread::onCacheFilled()
{
    if (m_fill->succeeded())
        applyUpdate();
    else
        fail(m_fill->failedFile(), m_fill->errorString());
}

// Swaps every downloaded file into the installation as one transaction, keeping each
// replaced file as NAME.old. After a failure nothing of the update stays applied.
void CDownloadThread::applyUpdate()
{
    UpdateJournal journal = UpdateJournal::plan(m_cacheDir, m_installDir, m_files);
    journal.writesRecord = !m_options.record.isNull();
    journal.record = m_options.record;
    journal.release = m_options.release;
    ApplyTransaction transaction(m_installDir, journal);
    if (!transaction.run()) {
        fail(transaction.failedFile(), transaction.errorString());
        return;
    }
    m_fill->clearPartials(); // what broke off in earlier runs is of no use any more
    succeed();
}

void CDownloadThread::fail(const QFileInfo &file, const QString &message)
{
    m_errorText = message;
    emit downloadFail(file, m_errorText);
    endRun();
}

void CDownloadThread::succeed()
{
    m_success.store(true, std::memory_order_seq_cst);
    m_errorText = tr("更新成功");
    endRun();
}

void CDownloadThread::endRun()
{
    m_ended.store(true, std::memory_order_seq_cst);
    quit();
}

void CDownloadThread::quitIfEndedBeforeStart()
{
    if (m_ended.load(std::memory_order_seq_cst))
        quit();
}
