// FileTransfer's checks of a finished transfer, its messages, and where a checked body goes
// (its listed name, or, for a packed copy, the decoder).
#include "filetransfer.h"

#include "packedcopyfetch.h"
#include "updatelog.h"

#include <QCoreApplication>
#include <QNetworkReply>

// The message of the first check the transfer fails.
bool FileTransfer::checkTransfer(QString *error)
{
    if (m_decision != Decision::Take)
        *error = networkError();
    else if (m_writeFailed)
        *error = message("更新文件%1写入失败");
    else if (m_tooLong)
        *error = message("下载更新文件%1大小不对");
    // Only the transfer time-out cancels a reply that we did not abort ourselves.
    else if (m_reply->error() == QNetworkReply::OperationCanceledError)
        *error = networkError();
    else if (m_body.size() != m_wire.size)
        *error = message("下载更新文件%1大小不对");
    else if (m_reply->error() != QNetworkReply::NoError)
        *error = networkError();
    else
        return checkDigests(error);
    return false;
}

bool FileTransfer::checkDigests(QString *error)
{
    m_digestsFailed = true;
    if (m_body.md5Text() != m_wire.md5) {
        qCInfo(lcCheck, "%s: MD5 differs from the list", qUtf8Printable(m_wire.path));
        *error = message("更新文件%1校验不对");
        return false;
    }
    if (!checkSha256(error))
        return false;
    qCInfo(lcCheck, "%s: %s right", qUtf8Printable(m_wire.path),
           m_packed || !m_release.isNull() ? "size, MD5 and SHA-256" : "size and MD5");
    m_digestsFailed = false;
    return true;
}

bool FileTransfer::checkSha256(QString *error)
{
    if (m_packed && m_body.sha256Hex() != m_packed->sha256) {
        qCInfo(lcCheck, "%s: SHA-256 differs from the list", qUtf8Printable(m_wire.path));
        *error = message("更新文件%1校验不对");
        return false;
    }
    if (!m_packed && !m_release.isNull() &&
        !m_release.checkFile(m_entry.path, m_body.sha256Hex(), error)) {
        qCInfo(lcCheck, "%s: SHA-256 differs from sha256.txt", qUtf8Printable(m_entry.path));
        return false;
    }
    return true;
}

// A checked body gets the listed name; a checked packed copy is decoded into the file, and
// is of no use after that, whatever the decoding gave.
bool FileTransfer::storeBody(QString *error)
{
    if (!m_packed) {
        if (m_body.store(m_target.absoluteFilePath()))
            return true;
        *error = message("更新文件%1写入失败");
        return false;
    }
    m_body.close();
    const bool decoded =
        packedcopy::decodeInto(m_store->bodyPath(m_wire.path), m_base, m_entry, m_release, m_store,
                               m_target.absoluteFilePath(), error);
    m_resume.forget();
    return decoded;
}

QString FileTransfer::networkError() const
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return QCoreApplication::translate("CDownloadThread", "下载更新文件%1网络错误：%2-%3")
        .arg(m_target.fileName())
        .arg(status)
        .arg(m_tlsErrors.explain(m_reply->errorString()));
}

QString FileTransfer::message(const char *text) const
{
    return QCoreApplication::translate("CDownloadThread", text).arg(m_target.fileName());
}
