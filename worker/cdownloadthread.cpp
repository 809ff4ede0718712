#include "cdownloadthread.h"

#include "digest.h"
#include "filecheck.h"
#include "fileops.h"
#include "windowsnames.h"

#include <QFile>
#include <QHash>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

CDownloadThread::CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir,
                                 QList<ManifestEntry> files, QObject *parent, int transferTimeoutMs,
                                 QByteArray record)
    : CDownloadThread(baseUrl, cacheDir, installDir, files,
                      DownloadOptions{transferTimeoutMs, record, {}, {}}, parent)
{}

CDownloadThread::CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir,
                                 QList<ManifestEntry> files, DownloadOptions options,
                                 QObject *parent)
    : QThread(parent), m_baseUrl(baseUrl), m_cacheDir(cacheDir), m_installDir(installDir),
      m_files(files), m_current(0), m_options(options)
{
    m_success.store(false);
    // A run can end right here, before anybody started the managed thread, and start()
    // discards an earlier exit request. So once the thread runs, quit again if the end
    // was already reached; exec() then returns at once, because exit() came after start().
    // Direct connection: this runs on the new thread, and quit() is safe from there.
    connect(this, &QThread::started, this, &CDownloadThread::quitIfEndedBeforeStart,
            Qt::DirectConnection);
    if (checkPaths())
        downloadNext();
}

CDownloadThread::~CDownloadThread()
{
    // The manager deletes its pending replies first; none of them may reach us meanwhile.
    const auto replies = m_manager.findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        reply->disconnect(this);
}

bool CDownloadThread::success() const
{
    return m_success.load();
}

QString CDownloadThread::errorText() const
{
    return m_errorText;
}

#ifdef Q_OS_WIN
namespace {

// A name with '~' may be the 8.3 short name of an installed file or folder with another
// long name ("PROGRA~1" for "Program Files"): the path would then change a file that the
// list names otherwise, or not at all. Names without '~' are no generated short names.
bool isShortNameAlias(const QDir &installDir, const QString &path)
{
    QString prefix;
    for (const QString &name : path.split(QLatin1Char('/'))) {
        prefix += prefix.isEmpty() ? name : QLatin1Char('/') + name;
        if (!name.contains(QLatin1Char('~')))
            continue;
        const QString stored = fileops::storedName(installDir.absoluteFilePath(prefix));
        if (!stored.isEmpty() && stored.compare(name, Qt::CaseInsensitive) != 0)
            return true;
    }
    return false;
}

} // namespace
#endif

// Refuses the whole list before anything is fetched or moved when one path would leave
// the cache or the installation folder, for a signed release is not in sha256.txt, or, on
// Windows, names another file than it says: the same file as an earlier path that differs
// only in letter case (applying both would replace the first file's new content with the
// second and leave the first file's previous version nowhere), a name Windows maps onto
// another (trailing dot or space, a device, a forbidden character) or the short name of
// another installed name.
bool CDownloadThread::checkPaths()
{
#ifdef Q_OS_WIN
    QHash<QString, QString> byFoldedPath;
#endif
    for (const ManifestEntry &entry : qAsConst(m_files)) {
        bool refused = !isContainedRelativePath(entry.path);
#ifdef Q_OS_WIN
        const QString earlier = byFoldedPath.value(entry.path.toCaseFolded(), entry.path);
        refused = refused || earlier != entry.path || !isWindowsSafePath(entry.path) ||
                  isShortNameAlias(m_installDir, entry.path);
        byFoldedPath.insert(entry.path.toCaseFolded(), entry.path);
#endif
        if (refused) {
            fail(QFileInfo(entry.path), tr("更新文件%1路径不合法").arg(entry.path));
            return false;
        }
        ReleaseVerifier &release = m_options.release;
        if (isSigned() && !release.checkFile(entry.path, release.listedSha256(entry.path))) {
            fail(cacheTarget(entry), release.errorString());
            return false;
        }
    }
    return true;
}

// A file of a signed release is only used with its size, MD5 and SHA-256 all right.
bool CDownloadThread::cachedFileUsable(const QFileInfo &target, const ManifestEntry &entry) const
{
    if (!target.isFile() || target.isSymLink())
        return false;
    if (isSigned())
        return fileMatchesEntry(target.absoluteFilePath(), entry,
                                m_options.release.listedSha256(entry.path));
    return fileMatchesDigest(target.absoluteFilePath(), entry.md5);
}

QFileInfo CDownloadThread::cacheTarget(const ManifestEntry &entry) const
{
    return QFileInfo(m_cacheDir.absoluteFilePath(entry.path));
}

// Entries already in the cache are passed over in this loop, never by recursion.
void CDownloadThread::downloadNext()
{
    while (m_current < m_files.size()) {
        const ManifestEntry entry = m_files.at(m_current);
        const QFileInfo target = cacheTarget(entry);
        if (cachedFileUsable(target, entry)) {
            ++m_current;
            continue;
        }
        if (!clearWayFor(target))
            return;
        emit downloadStarted(target, m_current, m_files.size());
        sendRequest(entry, target);
        return;
    }
    applyUpdate();
}

bool CDownloadThread::clearWayFor(const QFileInfo &target)
{
    const bool exists = target.exists() || target.isSymLink();
    if (!exists) {
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

namespace {

constexpr qint64 ReadBufferBytes = 4 * 1024 * 1024;

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
    m_body = std::make_unique<QSaveFile>(target.absoluteFilePath());
    m_bodyHash.reset();
    m_bodySha256.reset(isSigned() ? new Sha256Hash : nullptr);
    m_bodyBytes = 0;
    m_bodySyncedBytes = 0;
    m_bodyTooLong = false;
    m_bodyWriteFailed = false;
    if (!m_body->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        discardBody();
        fail(target, tr("更新文件%1写入失败").arg(target.fileName()));
        return;
    }

    const QUrl url(m_baseUrl + escapeForUrlPath(entry.path), QUrl::TolerantMode);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(m_options.transferTimeoutMs);
    if (!m_options.sslConfiguration.isNull())
        request.setSslConfiguration(m_options.sslConfiguration);
    QNetworkReply *reply = m_manager.get(request);
    if (!reply) {
        discardBody();
        fail(target, tr("下载更新文件%1失败").arg(target.fileName()));
        return;
    }
    // Bounded, so the network thread waits for us instead of buffering the file in memory.
    reply->setReadBufferSize(ReadBufferBytes);
    m_tlsErrors.watch(reply);
    // Every redirect is accepted, to the same or another host; Qt's hop limit applies.
    connect(reply, &QNetworkReply::redirected, reply, [reply] { emit reply->redirectAllowed(); });
    connect(reply, &QNetworkReply::downloadProgress, this, &CDownloadThread::downloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &CDownloadThread::onReplyReadyRead);
    connect(reply, &QNetworkReply::finished, this, &CDownloadThread::onReplyFinished);
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
