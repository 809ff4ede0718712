#include "cdownloadthread.h"

#include "digest.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace {

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

// The final sync of a committed file would otherwise write the whole file at once; asking
// the kernel to start writing as the body arrives overlaps that with the transfer.
void CDownloadThread::startWriteBack()
{
#ifdef Q_OS_LINUX
    if (m_bodyBytes - m_bodySyncedBytes < WriteBackBytes)
        return;
    ::sync_file_range(m_body->handle(), m_bodySyncedBytes, m_bodyBytes - m_bodySyncedBytes,
                      SYNC_FILE_RANGE_WRITE);
    m_bodySyncedBytes = m_bodyBytes;
#endif
}

// Writes the body as it arrives, so a file of any size needs little memory. Nothing of
// an answer other than 200 (an error page, a redirect) is kept.
void CDownloadThread::onReplyReadyRead()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (httpStatus(reply) != 200 || !m_body || m_bodyTooLong || m_bodyWriteFailed) {
        reply->readAll();
        return;
    }
    // One reused buffer: a fresh allocation per chunk costs more than hashing it.
    if (m_chunk.isEmpty())
        m_chunk.resize(ChunkBytes);
    while (reply->bytesAvailable() > 0) {
        const qint64 got = reply->read(m_chunk.data(), m_chunk.size());
        if (got <= 0 || !storeChunk(reply, m_chunk.constData(), got))
            return;
    }
}

// False when the transfer was aborted; its `finished` has then run already.
bool CDownloadThread::storeChunk(QNetworkReply *reply, const char *data, qint64 size)
{
    m_bodyBytes += size;
    if (m_bodyBytes > m_files.at(m_current).size) {
        m_bodyTooLong = true;
        reply->abort();
        return false;
    }
    m_bodyHash.addData(data, int(size));
    if (m_bodySha256)
        m_bodySha256->addData(data, size);
    if (m_body->write(data, size) != size) {
        m_bodyWriteFailed = true;
        reply->abort();
        return false;
    }
    startWriteBack();
    return true;
}

void CDownloadThread::onReplyFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    const ManifestEntry entry = m_files.at(m_current);
    const QFileInfo target = cacheTarget(entry);
    if (reply->error() == QNetworkReply::NoError && httpStatus(reply) == 200)
        onReplyReadyRead(); // whatever is still buffered
    QString error = checkTransfer(reply, entry, target);
    if (error.isEmpty() && !m_body->commit())
        error = tr("更新文件%1写入失败").arg(target.fileName());
    if (!error.isEmpty()) {
        discardBody();
        fail(target, error);
    } else {
        m_body.reset();
        ++m_current;
        downloadNext();
    }
    reply->deleteLater();
}

// The message of the first check the transfer fails, or an empty text.
QString CDownloadThread::checkTransfer(QNetworkReply *reply, const ManifestEntry &entry,
                                       const QFileInfo &target)
{
    const QString name = target.fileName();
    const int status = httpStatus(reply);
    const QString networkError = tr("下载更新文件%1网络错误：%2-%3")
                                     .arg(name)
                                     .arg(status)
                                     .arg(m_tlsErrors.explain(reply->errorString()));
    if (status != 200)
        return networkError;
    if (m_bodyWriteFailed)
        return tr("更新文件%1写入失败").arg(name);
    if (m_bodyTooLong)
        return tr("下载更新文件%1大小不对").arg(name);
    // Only the transfer time-out cancels a reply that we did not abort ourselves.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return networkError;
    if (m_bodyBytes != entry.size)
        return tr("下载更新文件%1大小不对").arg(name);
    if (reply->error() != QNetworkReply::NoError)
        return networkError;
    if (digestTextFromMd5(m_bodyHash.result()) != entry.md5)
        return tr("更新文件%1校验不对").arg(name);
    ReleaseVerifier &release = m_options.release;
    if (m_bodySha256 && !release.checkFile(entry.path, m_bodySha256->result().toHex()))
        return release.errorString();
    return QString();
}

// Drops the temporary file of a failed transfer; the listed name keeps what it had.
void CDownloadThread::discardBody()
{
    if (!m_body)
        return;
    m_body->cancelWriting();
    m_body.reset();
}
