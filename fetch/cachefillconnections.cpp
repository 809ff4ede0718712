// CacheFill's connections: how many files may be in flight, which manager takes a request,
// and what a GOAWAY of an HTTP/2 server moves elsewhere.
#include "cachefill.h"

#include "filetransfer.h"
#include "updatelog.h"

int CacheFill::places() const
{
    return m_overHttp2 ? m_options.connections
                       : qMin(m_options.connections, FetchOptions::MaxConnections);
}

QList<QNetworkAccessManager *> CacheFill::managersInFlight() const
{
    QList<QNetworkAccessManager *> managers;
    for (const FileTransfer *transfer : qAsConst(m_inFlight))
        managers.append(transfer->manager());
    return managers;
}

// Only an HTTP/2 server refuses a stream before it begins (GOAWAY): that request and every
// later one go to another connection.
void CacheFill::onTransferRefused()
{
    auto *transfer = qobject_cast<FileTransfer *>(sender());
    if (!transfer || !m_inFlight.contains(transfer))
        return;
    noteHttp2();
    QNetworkAccessManager *old = transfer->manager();
    m_managers.retire(old);
    QNetworkAccessManager *fresh = m_managers.next(managersInFlight(), true);
    transfer->resend(fresh);
    // Qt drops a request handed to a connection after its GOAWAY without finishing the reply:
    // those sent before we knew go again too, like any other not answered yet.
    for (FileTransfer *other : qAsConst(m_inFlight)) {
        if (other != transfer && other->manager() == old)
            other->moveIfUnanswered(fresh); // false: answered, it finishes on the old one
    }
}

void CacheFill::noteHttp2()
{
    if (m_overHttp2)
        return;
    m_overHttp2 = true;
    qCInfo(lcFetch, "HTTP/2: up to %d files in flight", m_options.connections);
}
