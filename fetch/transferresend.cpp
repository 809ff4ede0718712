// FileTransfer's requests sent again: those an HTTP/2 server refused before they began, and
// those still unanswered on a connection going away.
#include "filetransfer.h"

#include "updatelog.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// How often a request that the server refused before it began is sent again.
constexpr int MaxResends = 5;

} // namespace

// An HTTP/2 server that stops taking streams (GOAWAY) refuses those it had not begun, and so
// do Qt's requests still queued for that connection; Qt never sends them again itself. The
// server processed nothing of them, so they may go again (on another connection).
bool FileTransfer::resendRefused()
{
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool neverBegan = (error == QNetworkReply::ContentReSendError ||
                             error == QNetworkReply::ProtocolUnknownError) &&
                            !m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!neverBegan || m_resends == MaxResends)
        return false;
    ++m_resends;
    qCInfo(lcFetch, "%s: refused before it began (%s), sending it again (%d of %d)",
           qUtf8Printable(m_entry.path), qUtf8Printable(m_reply->errorString()), m_resends,
           MaxResends);
    releaseReply();
    emit refused();
    return true;
}

void FileTransfer::resend(QNetworkAccessManager *manager)
{
    m_manager = manager;
    send();
}

bool FileTransfer::moveIfUnanswered(QNetworkAccessManager *manager)
{
    if (!m_reply || m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    qCInfo(lcFetch, "%s: no answer yet on a connection going away, sending it on the new one",
           qUtf8Printable(m_entry.path));
    m_reply->disconnect(this);
    m_reply->abort();
    releaseReply();
    resend(manager);
    return true;
}
