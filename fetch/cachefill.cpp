#include "cachefill.h"

#include "digest.h"
#include "fileops.h"
#include "filetransfer.h"
#include "httprequest.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QNetworkRequest>
#include <QUrl>

namespace {

// What the network thread may buffer for all replies together, so that memory stays flat
// however large the files and however many are in flight.
constexpr qint64 ReadBufferBytes = 1024 * 1024;
constexpr qint64 MinReadBufferBytes = 256 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("CDownloadThread", text);
}

} // namespace

CacheFill::CacheFill(const QString &baseUrl, const QDir &cacheDir, const QDir &installDir,
                     const QList<ManifestEntry> &files, const FetchOptions &options,
                     QObject *parent)
    : QObject(parent), m_baseUrl(baseUrl), m_cacheDir(cacheDir), m_installDir(installDir),
      m_files(files), m_options(options), m_partials(cacheDir),
      m_managers(options.connections, options.proxy)
{
    Q_ASSERT(options.connections >= 1 &&
             options.connections <=
                 (options.http2 ? FetchOptions::MaxHttp2Streams : FetchOptions::MaxConnections));
    planPackedCopies();
    for (int index = 0; index < m_files.size(); ++index)
        m_bytesTotal += plannedBytes(index);
}

// A transfer in flight leaves what it received for the next run; the managers then delete
// the pending replies.
CacheFill::~CacheFill()
{
    qDeleteAll(m_inFlight);
}

// Only the first file starts here: the others are announced once the event loop runs, when
// the progress dialog listens.
void CacheFill::start()
{
    fillPlaces(1);
    if (!m_ended && m_options.connections > 1)
        QMetaObject::invokeMethod(
            this, [this] { fillPlaces(places()); }, Qt::QueuedConnection);
}

// Fills the free places with the next entries to fetch; after the last one, ends. Entries
// already in the cache are passed over in this loop, never by recursion.
void CacheFill::fillPlaces(int places)
{
    while (!m_ended && m_next < m_files.size() && m_inFlight.size() < places) {
        const ManifestEntry entry = m_files.at(m_next);
        const QFileInfo target = cacheTarget(entry);
        if (cachedFileUsable(target, entry)) {
            qCInfo(lcFetch, "%s: in the cache already", qUtf8Printable(entry.path));
            m_bytesDone += plannedBytes(m_next);
            ++m_next;
            continue;
        }
        if (!clearWayFor(target))
            return;
        emit fileStarted(target, m_next, m_files.size());
        if (!sendRequest(entry, target, m_packed.at(m_next)))
            return;
        ++m_next;
    }
    if (!m_ended && m_next == m_files.size() && m_inFlight.isEmpty())
        end(makeDurable());
}

QFileInfo CacheFill::cacheTarget(const ManifestEntry &entry) const
{
    return QFileInfo(m_cacheDir.absoluteFilePath(entry.path));
}

// A file of a signed release is only used with its size, MD5 and SHA-256 all right.
bool CacheFill::cachedFileUsable(const QFileInfo &target, const ManifestEntry &entry) const
{
    if (!target.isFile() || target.isSymLink())
        return false;
    if (!m_options.release.isNull())
        return fileMatchesEntry(target.absoluteFilePath(), entry,
                                m_options.release.sha256Of(entry.path));
    return fileMatchesDigest(target.absoluteFilePath(), entry.md5);
}

bool CacheFill::clearWayFor(const QFileInfo &target)
{
    const bool exists = target.exists() || target.isSymLink();
    if (!exists) {
        // Not checked: a folder that cannot be made fails the file's write.
        if (!target.absoluteDir().exists())
            QDir().mkpath(target.absolutePath());
        return true;
    }
    if (target.isFile() && !target.isSymLink())
        return true; // wrong content: replaced only once a new body has passed the checks
    const bool removed = target.isDir() && !target.isSymLink()
                             ? QDir(target.absoluteFilePath()).removeRecursively()
                             : QFile::remove(target.absoluteFilePath());
    if (!removed)
        fail(target, tr("路径%1被占用，无法删除!").arg(target.absoluteFilePath()));
    return removed;
}

bool CacheFill::sendRequest(const ManifestEntry &entry, const QFileInfo &target,
                            const std::optional<PackedCopy> &packed)
{
    const QString address = packed ? UpdateNames::packedCopyUrl(m_baseUrl, packed->fileName())
                                   : UpdateNames::fileUrl(m_baseUrl, entry.path);
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    // With a pinned authority the files must stay on TLS: Qt refuses https to http then.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         m_options.sslConfiguration ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                    : QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(m_options.transferTimeoutMs);
    if (m_options.sslConfiguration)
        request.setSslConfiguration(*m_options.sslConfiguration);
    if (m_options.http2)
        allowHttp2(&request);

    FileTransfer *transfer = makeTransfer(entry, target, packed);
    const qint64 buffer = qMax(MinReadBufferBytes, ReadBufferBytes / m_options.connections);
    if (!transfer->start(m_managers.next(managersInFlight(), m_overHttp2), request, buffer)) {
        const QString error = transfer->errorString();
        const bool whole = packed && fetchWhole(transfer);
        delete transfer;
        if (!packed)
            fail(target, error);
        return whole;
    }
    m_inFlight.append(transfer);
    if (m_options.connections == 1)
        connect(transfer, &FileTransfer::progress, this, &CacheFill::progress);
    else
        connect(transfer, &FileTransfer::progress, this, &CacheFill::onTransferProgress);
    connect(transfer, &FileTransfer::refused, this, &CacheFill::onTransferRefused);
    connect(transfer, &FileTransfer::finished, this, &CacheFill::onTransferFinished);
    return true;
}

// With several files in flight: the bytes of the whole update, so the bar never goes back.
void CacheFill::onTransferProgress()
{
    qint64 received = m_bytesDone;
    for (const FileTransfer *transfer : qAsConst(m_inFlight))
        received += transfer->bytesReceived();
    emit progress(received, m_bytesTotal);
}

void CacheFill::onTransferFinished()
{
    auto *transfer = qobject_cast<FileTransfer *>(sender());
    if (!transfer || !m_inFlight.removeOne(transfer))
        return;
    transfer->deleteLater();
    m_managers.dropIdle(managersInFlight());
    if (!transfer->succeeded() && transfer->packedCopy()) {
        if (fetchWhole(transfer))
            fillPlaces(places());
        return;
    }
    if (!transfer->succeeded()) {
        fail(transfer->target(), transfer->errorString());
        return;
    }
    m_bytesDone += transfer->transferSize();
    if (transfer->overHttp2())
        noteHttp2();
    fillPlaces(places());
}

// After a failure nothing more is fetched; what the others received stays for next time.
void CacheFill::abortTransfers()
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
bool CacheFill::makeDurable()
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

void CacheFill::fail(const QFileInfo &file, const QString &message)
{
    if (m_ended)
        return;
    abortTransfers();
    m_error = message;
    m_failedFile = file;
    qCInfo(lcFetch, "failed: %s", qUtf8Printable(message));
    end(false);
}

void CacheFill::end(bool succeeded)
{
    if (m_ended)
        return;
    m_ended = true;
    m_succeeded = succeeded;
    emit finished();
}
