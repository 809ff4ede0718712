// The transfers of a run: each file's request, its end, and the barrier before the apply.
#include "cdownloadthread.h"

#include "fileops.h"
#include "filetransfer.h"

#include <QNetworkRequest>
#include <QUrl>

namespace {

// What the network thread may buffer for all replies together, so that memory stays flat
// however large the files and however many are in flight.
constexpr qint64 ReadBufferBytes = 1024 * 1024;
constexpr qint64 MinReadBufferBytes = 256 * 1024;

// Characters that a file name may hold but that would end the path part of a URL or be
// read as an escape: they are escaped before the text is parsed tolerantly.
QString escapeForUrlPath(QString path)
{
    path.replace(QLatin1Char('%'), QLatin1String("%25"));
    path.replace(QLatin1Char('#'), QLatin1String("%23"));
    path.replace(QLatin1Char('?'), QLatin1String("%3F"));
    return path;
}

} // namespace

void CDownloadThread::sendRequest(const ManifestEntry &entry, const QFileInfo &target)
{
    const QUrl url(m_baseUrl + escapeForUrlPath(entry.path), QUrl::TolerantMode);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(m_options.transferTimeoutMs);
    if (m_options.sslConfiguration)
        request.setSslConfiguration(*m_options.sslConfiguration);

    auto *transfer = new FileTransfer(entry, target, &m_partials,
                                      isSigned() ? &m_options.release : nullptr, this);
    const qint64 buffer = qMax(MinReadBufferBytes, ReadBufferBytes / m_options.connections);
    if (!transfer->start(idlestManager(), request, buffer)) {
        const QString error = transfer->errorString();
        delete transfer;
        abortTransfers();
        fail(target, error);
        return;
    }
    m_inFlight.append(transfer);
    if (m_options.connections == 1)
        connect(transfer, &FileTransfer::progress, this, &CDownloadThread::downloadProgress);
    else
        connect(transfer, &FileTransfer::progress, this, &CDownloadThread::onTransferProgress);
    connect(transfer, &FileTransfer::finished, this, &CDownloadThread::onTransferFinished);
}

QNetworkAccessManager *CDownloadThread::idlestManager()
{
    if (!m_secondManager)
        return &m_manager;
    int onFirst = 0;
    for (const FileTransfer *transfer : qAsConst(m_inFlight))
        onFirst += transfer->manager() == &m_manager ? 1 : 0;
    return onFirst <= m_inFlight.size() - onFirst ? &m_manager : m_secondManager.get();
}

// With several files in flight: the bytes of the whole update, so the bar never goes back.
void CDownloadThread::onTransferProgress(qint64, qint64)
{
    qint64 received = m_bytesDone;
    for (const FileTransfer *transfer : qAsConst(m_inFlight))
        received += transfer->bytesReceived();
    emit downloadProgress(received, m_bytesTotal);
}

void CDownloadThread::onTransferFinished()
{
    auto *transfer = qobject_cast<FileTransfer *>(sender());
    if (!transfer || !m_inFlight.removeOne(transfer))
        return;
    transfer->deleteLater();
    if (!transfer->errorString().isEmpty()) {
        abortTransfers();
        fail(transfer->target(), transfer->errorString());
        return;
    }
    m_bytesDone += transfer->entry().size;
    downloadNext();
}

// After a failure nothing more is fetched; what the others received stays for next time.
void CDownloadThread::abortTransfers()
{
    const QList<FileTransfer *> transfers = m_inFlight;
    m_inFlight.clear();
    for (FileTransfer *transfer : transfers) {
        transfer->disconnect(this);
        transfer->abort();
        transfer->deleteLater();
    }
}

// Each checked file got its listed name without a flush of its own; one barrier makes all
// of them durable before the first installed file is touched.
bool CDownloadThread::makeCacheDurable()
{
    QStringList files;
    files.reserve(m_files.size());
    for (const ManifestEntry &entry : qAsConst(m_files))
        files.append(cacheTarget(entry).absoluteFilePath());
    QString failed;
    if (fileops::flushFiles(m_cacheDir.absolutePath(), files, &failed))
        return true;
    fail(QFileInfo(failed), tr("更新文件%1写入失败").arg(QFileInfo(failed).fileName()));
    return false;
}
