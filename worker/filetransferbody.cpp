// The body of a file transfer: streamed to the partial file as it arrives, checked at the
// end, renamed to the listed name after the checks.
#include "filetransfer.h"

#include "digest.h"
#include "fileops.h"
#include "releaseverifier.h"

#include <QCoreApplication>
#include <QNetworkReply>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace {

constexpr int ChunkBytes = 1024 * 1024;
constexpr qint64 WriteBackBytes = 8 * 1024 * 1024;

// All transfers run on one thread and read one after another: one buffer serves them all.
// A fresh allocation per chunk would cost more than hashing it.
QByteArray &chunkBuffer()
{
    static QByteArray buffer(ChunkBytes, Qt::Uninitialized);
    return buffer;
}

} // namespace

// Nothing of an answer that is not taken (an error page, a redirect) is kept.
void FileTransfer::onReadyRead()
{
    if (m_body == Body::Undecided) {
        m_body = decideBody();
        if (m_body == Body::Restart) {
            m_reply->abort(); // onFinished starts over
            return;
        }
    }
    if (m_body != Body::Take || m_tooLong || m_writeFailed) {
        m_reply->readAll();
        return;
    }
    QByteArray &chunk = chunkBuffer();
    while (m_reply->bytesAvailable() > 0) {
        const qint64 got = m_reply->read(chunk.data(), chunk.size());
        if (got <= 0 || !storeChunk(chunk.constData(), got))
            return;
    }
}

// False when the transfer was aborted; onFinished has then run already.
bool FileTransfer::storeChunk(const char *data, qint64 size)
{
    m_bodyBytes += size;
    if (m_bodyBytes > m_entry.size) {
        m_tooLong = true;
        m_reply->abort();
        return false;
    }
    m_md5.addData(data, int(size));
    if (m_sha256)
        m_sha256->addData(data, size);
    if (m_file.write(data, size) != size) {
        m_writeFailed = true;
        m_reply->abort();
        return false;
    }
    startWriteBack();
    return true;
}

// The durable barrier before the apply would otherwise write a large file at once; asking
// the kernel to start writing as the body arrives overlaps that with the transfer.
void FileTransfer::startWriteBack()
{
#ifdef Q_OS_LINUX
    if (m_bodyBytes - m_writtenBackBytes < WriteBackBytes)
        return;
    ::sync_file_range(m_file.handle(), m_writtenBackBytes, m_bodyBytes - m_writtenBackBytes,
                      SYNC_FILE_RANGE_WRITE);
    m_writtenBackBytes = m_bodyBytes;
#endif
}

void FileTransfer::onDownloadProgress(qint64 received, qint64 total)
{
    emit progress(received + m_offset, total < 0 ? total : total + m_offset);
}

void FileTransfer::onFinished()
{
    if (m_body == Body::Undecided)
        m_body = decideBody();
    if (m_body == Body::Take)
        onReadyRead(); // whatever is still buffered
    if (m_body == Body::Restart && retryWhole())
        return;
    QString error = checkTransfer();
    if (m_digestsFailed && m_offset > 0 && retryWhole())
        return; // the beginning we had may be damaged, or of another version
    if (error.isEmpty() && !fileops::flushWritten(m_file))
        error = message("更新文件%1写入失败");
    m_file.close();
    if (error.isEmpty() && !fileops::replace(m_file.fileName(), m_target.absoluteFilePath()))
        error = message("更新文件%1写入失败");
    finish(error);
}

// Once per transfer: drops what we had and asks for the whole file with a plain request.
bool FileTransfer::retryWhole()
{
    if (m_retried)
        return false;
    m_retried = true;
    releaseReply();
    m_file.close();
    m_store->discard(m_entry.path);
    m_hasInfo = false;
    if (!openBody(0)) {
        finish(message("更新文件%1写入失败"));
        return true;
    }
    send();
    return true;
}

// The message of the first check the transfer fails, or an empty text.
QString FileTransfer::checkTransfer()
{
    if (m_body != Body::Take)
        return networkError();
    if (m_writeFailed)
        return message("更新文件%1写入失败");
    if (m_tooLong)
        return message("下载更新文件%1大小不对");
    // Only the transfer time-out cancels a reply that we did not abort ourselves.
    if (m_reply->error() == QNetworkReply::OperationCanceledError)
        return networkError();
    if (m_bodyBytes != m_entry.size)
        return message("下载更新文件%1大小不对");
    if (m_reply->error() != QNetworkReply::NoError)
        return networkError();
    return checkDigests();
}

QString FileTransfer::checkDigests()
{
    m_digestsFailed = true;
    if (digestTextFromMd5(m_md5.result()) != m_entry.md5)
        return message("更新文件%1校验不对");
    if (m_sha256 && !m_release->checkFile(m_entry.path, m_sha256->result().toHex()))
        return m_release->errorString();
    m_digestsFailed = false;
    return QString();
}

QString FileTransfer::networkError() const
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return QCoreApplication::translate("CDownloadThread", "下载更新文件%1网络错误：%2-%3")
        .arg(m_target.fileName())
        .arg(status)
        .arg(m_tlsErrors.explain(m_reply->errorString()));
}

// A failed transfer keeps its body only when it broke off part-way with a validator to
// resume by; a body that failed a check, or that we could not write, goes.
void FileTransfer::finish(const QString &error)
{
    m_error = error;
    const bool resumable = m_hasInfo && !m_tooLong && !m_writeFailed && m_bodyBytes < m_entry.size;
    if (error.isEmpty() ? m_hasInfo : !resumable)
        m_store->discard(m_entry.path);
    releaseReply();
    emit finished();
}

void FileTransfer::releaseReply()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
}
