#include "filetransfer.h"

#include "fileops.h"
#include "releaseverifier.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

namespace {

constexpr qint64 HashChunkBytes = 1024 * 1024;

} // namespace

FileTransfer::FileTransfer(const ManifestEntry &entry, const QFileInfo &target, PartialStore *store,
                           ReleaseVerifier *release, QObject *parent)
    : QObject(parent), m_entry(entry), m_target(target), m_store(store), m_release(release),
      m_file(store->bodyPath(entry.path))
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
    if (!m_store->makeFolder() || !openBody(resumableBytes())) {
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
    m_file.close();
    if (!m_hasInfo)
        m_store->discard(m_entry.path);
}

// The length of a partial file that an earlier transfer of this very entry left, with a
// validator to ask for the rest by; 0 (and nothing left behind) when there is none.
qint64 FileTransfer::resumableBytes()
{
    if (m_entry.size < ResumeMinBytes)
        return 0;
    PartialInfo info;
    if (m_store->readInfo(m_entry.path, &info) && info.describes(m_entry) &&
        !info.validator().isEmpty()) {
        const QFileInfo body(m_file.fileName());
        const qint64 have = body.isFile() && !body.isSymLink() ? body.size() : 0;
        if (have > 0 && have < m_entry.size) {
            m_request.setRawHeader("Range", "bytes=" + QByteArray::number(have) + '-');
            m_request.setRawHeader("If-Range", info.validator());
            m_hasInfo = true;
            return have;
        }
    }
    fileops::remove(m_store->infoPath(m_entry.path)); // the body is emptied on opening
    return 0;
}

bool FileTransfer::openBody(qint64 offset)
{
    resetHashes();
    if (offset == 0) { // a plain request for the whole file
        m_request.setRawHeader("Range", QByteArray());
        m_request.setRawHeader("If-Range", QByteArray());
    }
    m_offset = offset;
    m_bodyBytes = offset;
    m_writtenBackBytes = offset;
    QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (offset == 0)
        mode |= QIODevice::Truncate;
    if (!m_file.open(mode))
        return false;
    if (offset > 0 && !hashBeginning()) { // unreadable: start over
        m_file.close();
        m_store->discard(m_entry.path);
        m_hasInfo = false;
        return openBody(0);
    }
    return true;
}

// The checks cover the whole file, so the bytes already at hand are hashed first.
bool FileTransfer::hashBeginning()
{
    QByteArray buffer(int(HashChunkBytes), Qt::Uninitialized);
    qint64 total = 0;
    while (total < m_offset) {
        const qint64 got = m_file.read(buffer.data(), qMin(HashChunkBytes, m_offset - total));
        if (got <= 0)
            return false;
        m_md5.addData(buffer.constData(), int(got));
        if (m_sha256)
            m_sha256->addData(buffer.constData(), got);
        total += got;
    }
    return true;
}

void FileTransfer::resetHashes()
{
    m_md5.reset();
    m_sha256.reset(m_release ? new Sha256Hash : nullptr);
}

void FileTransfer::send()
{
    m_body = Body::Undecided;
    m_tooLong = false;
    m_writeFailed = false;
    m_reply = m_manager->get(m_request);
    // Bounded, so the network thread waits for us instead of buffering the file in memory.
    m_reply->setReadBufferSize(m_readBufferBytes);
    m_tlsErrors.watch(m_reply);
    QNetworkReply *reply = m_reply;
    // Every redirect is accepted, to the same or another host; Qt's hop limit applies.
    connect(reply, &QNetworkReply::redirected, reply, [reply] { emit reply->redirectAllowed(); });
    connect(reply, &QNetworkReply::downloadProgress, this, &FileTransfer::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &FileTransfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &FileTransfer::onFinished);
}

// A 200 is always taken, from its first byte; a 206 only when it continues the partial
// file of the same version. Any other answer to a Range request starts the file over.
FileTransfer::Body FileTransfer::decideBody()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 200)
        return takeWholeBody() ? Body::Take : Body::Skip;
    if (m_offset == 0)
        return Body::Skip;
    if (status == 206)
        return continuesPartial() ? Body::Take : Body::Restart;
    return status == 416 ? Body::Restart : Body::Skip;
}

bool FileTransfer::continuesPartial() const
{
    static const QRegularExpression range(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
    const auto match = range.match(QString::fromLatin1(m_reply->rawHeader("Content-Range")));
    return match.hasMatch() && match.captured(1).toLongLong() == m_offset &&
           match.captured(2).toLongLong() == m_entry.size - 1 &&
           match.captured(3).toLongLong() == m_entry.size;
}

// The server ignored the Range, or the file changed since: the body replaces what we had.
bool FileTransfer::takeWholeBody()
{
    if (m_offset > 0) {
        resetHashes();
        m_offset = m_bodyBytes = m_writtenBackBytes = 0;
        if (!m_file.resize(0) || !m_file.seek(0))
            m_writeFailed = true;
    }
    rememberValidator();
    return true;
}

// Written before the first byte of the body, so that even a killed run leaves both.
void FileTransfer::rememberValidator()
{
    if (m_entry.size < ResumeMinBytes)
        return;
    PartialInfo info{m_entry.path, m_entry.size, m_entry.md5, m_reply->rawHeader("ETag"),
                     m_reply->rawHeader("Last-Modified")};
    if (info.etag.startsWith("W/"))
        info.etag.clear();
    m_hasInfo = !info.validator().isEmpty() && m_store->writeInfo(info);
    if (!m_hasInfo)
        fileops::remove(m_store->infoPath(m_entry.path));
}

QString FileTransfer::message(const char *text) const
{
    return QCoreApplication::translate("CDownloadThread", text).arg(m_target.fileName());
}
