#include "filetransfer.h"

#include "httprequest.h"
#include "packedcopyfetch.h"
#include "updatelog.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// All transfers run on one thread and read one after another: one buffer serves them all.
// A fresh allocation per chunk would cost more than hashing it.
QByteArray &chunkBuffer()
{
    static QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    return buffer;
}

} // namespace

FileTransfer::FileTransfer(const ManifestEntry &entry, const QFileInfo &target, PartialStore *store,
                           const VerifiedRelease &release, QObject *parent)
    : FileTransfer(entry, entry, std::nullopt, QString(), target, store, release, parent)
{}

FileTransfer::FileTransfer(const ManifestEntry &entry, const PackedCopy &copy, const QString &base,
                           const QFileInfo &target, PartialStore *store,
                           const VerifiedRelease &release, QObject *parent)
    : FileTransfer(entry, packedcopy::transferEntry(copy), copy, base, target, store, release,
                   parent)
{}

// Packed bytes are always checked against their SHA-256 in the list of packed copies.
FileTransfer::FileTransfer(const ManifestEntry &entry, const ManifestEntry &wire,
                           std::optional<PackedCopy> packed, const QString &base,
                           const QFileInfo &target, PartialStore *store,
                           const VerifiedRelease &release, QObject *parent)
    : QObject(parent), m_entry(entry), m_wire(wire), m_packed(std::move(packed)), m_base(base),
      m_target(target), m_store(store), m_release(release),
      m_body(store->bodyPath(wire.path), m_packed || !release.isNull()), m_resume(store, wire)
{}

// The manager deletes a reply still pending; none of its signals may reach us meanwhile.
FileTransfer::~FileTransfer()
{
    if (m_reply)
        m_reply->disconnect(this);
}

bool FileTransfer::start(QNetworkAccessManager *manager, const QNetworkRequest &request,
                         qint64 readBufferBytes)
{
    m_manager = manager;
    m_request = request;
    m_readBufferBytes = readBufferBytes;
    if (!m_store->makeFolder() || !openBody(m_resume.resumeFrom(&m_request))) {
        m_error = message("更新文件%1写入失败");
        return false;
    }
    send();
    return true;
}

void FileTransfer::abort()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->abort();
    releaseReply();
    m_body.close();
    if (!m_resume.isRecorded()) // without a validator the body is of no use later
        m_resume.forget();
}

// A beginning that cannot be read starts the file over.
bool FileTransfer::openBody(qint64 keep)
{
    if (keep > 0 && m_body.open(keep))
        return true;
    if (keep > 0)
        m_resume.forget(); // what stays is emptied when opened below
    m_request.setRawHeader("Range", QByteArray());
    m_request.setRawHeader("If-Range", QByteArray());
    return m_body.open(0);
}

void FileTransfer::send()
{
    m_decision = Decision::Undecided;
    m_tooLong = false;
    m_writeFailed = false;
    qCInfo(lcNet, "GET %s%s", qUtf8Printable(m_request.url().toString()),
           m_body.kept() > 0 ? qPrintable(QStringLiteral(" from byte %1").arg(m_body.kept())) : "");
    m_reply = m_manager->get(m_request);
    // Bounded, so the network thread waits for us instead of buffering the file in memory.
    m_reply->setReadBufferSize(m_readBufferBytes);
    m_tlsErrors.watch(m_reply);
    QNetworkReply *reply = m_reply;
    // Every redirect is accepted, to the same or another host; Qt's hop limit applies. Under
    // any other policy Qt decides alone.
    if (m_request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt() ==
        QNetworkRequest::UserVerifiedRedirectPolicy)
        connect(reply, &QNetworkReply::redirected, reply,
                [reply] { emit reply->redirectAllowed(); });
    connect(reply, &QNetworkReply::downloadProgress, this, &FileTransfer::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &FileTransfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &FileTransfer::onFinished);
}

// A 200 is always taken, from its first byte; a 206 only when it continues the partial
// file of the same version. Any other answer to a Range request starts the file over.
FileTransfer::Decision FileTransfer::decideBody()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 200) {
        takeWholeBody();
        return Decision::Take;
    }
    if (m_body.kept() == 0)
        return Decision::Skip;
    if (status == 206)
        return m_resume.continues(m_reply, m_body.kept()) ? Decision::Take : Decision::Restart;
    return status == 416 ? Decision::Restart : Decision::Skip;
}

// The server ignored the Range, or the file changed since: the body replaces what we had.
void FileTransfer::takeWholeBody()
{
    if (m_body.kept() > 0 && !m_body.restart())
        m_writeFailed = true;
    m_resume.remember(m_reply);
}

// Nothing of an answer that is not taken (an error page, a redirect) is kept.
void FileTransfer::onReadyRead()
{
    if (m_decision == Decision::Undecided) {
        m_decision = decideBody();
        if (m_decision == Decision::Restart) {
            m_reply->abort(); // onFinished starts over
            return;
        }
    }
    if (m_decision != Decision::Take || m_tooLong || m_writeFailed) {
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
    if (m_body.size() + size > m_wire.size) {
        m_tooLong = true;
        m_reply->abort();
        return false;
    }
    if (!m_body.append(data, size)) {
        m_writeFailed = true;
        m_reply->abort();
        return false;
    }
    return true;
}

void FileTransfer::onDownloadProgress(qint64 received, qint64 total)
{
    const qint64 kept = m_body.kept();
    emit progress(received + kept, total < 0 ? total : total + kept);
}

void FileTransfer::onFinished()
{
    if (m_decision == Decision::Undecided && resendRefused())
        return;
    if (m_decision == Decision::Undecided)
        m_decision = decideBody();
    if (m_decision == Decision::Take)
        onReadyRead(); // whatever is still buffered
    if (m_decision == Decision::Restart && retryWhole())
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_overHttp2 = m_reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    qCInfo(lcNet, "%s: %s %d, %lld of %lld bytes%s", qUtf8Printable(m_wire.path),
           protocolOf(m_reply), status, m_body.size(), m_wire.size,
           m_reply->error() == QNetworkReply::NoError
               ? ""
               : qPrintable(QStringLiteral(", ") + m_reply->errorString()));
    QString error;
    const bool checked = checkTransfer(&error);
    if (!checked && m_digestsFailed && m_body.kept() > 0 && retryWhole())
        return; // the beginning we had may be damaged, or of another version
    if (checked)
        storeBody(&error);
    m_body.close();
    if (error.isEmpty())
        qCInfo(lcFetch, "%s: stored in the cache", qUtf8Printable(m_entry.path));
    finish(error);
}

// Once per transfer: drops what we had and asks for the whole file with a plain request.
bool FileTransfer::retryWhole()
{
    if (m_retried)
        return false;
    m_retried = true;
    qCInfo(lcFetch, "%s: fetching the whole file again", qUtf8Printable(m_wire.path));
    releaseReply();
    m_body.close();
    m_resume.forget(); // what stays is emptied when opened below
    if (!openBody(0)) {
        finish(message("更新文件%1写入失败"));
        return true;
    }
    send();
    return true;
}

// A failed transfer keeps its body only when it broke off part-way with a validator to
// resume by; a body that failed a check, or that we could not write, goes.
void FileTransfer::finish(const QString &error)
{
    m_succeeded = error.isEmpty();
    m_error = error;
    const bool resumable =
        m_resume.isRecorded() && !m_tooLong && !m_writeFailed && m_body.size() < m_wire.size;
    if (error.isEmpty() ? m_resume.isRecorded() : !resumable)
        m_resume.forget();
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
