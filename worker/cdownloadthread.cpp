#include "cdownloadthread.h"

#include "digest.h"
#include "filecheck.h"
#include "fileops.h"
#include "filetransfer.h"
#include "windowsnames.h"

#include <QFile>
#include <QHash>

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
      m_files(files), m_current(0), m_options(options), m_partials(cacheDir)
{
    m_success.store(false);
    m_options.connections = qBound(1, m_options.connections, DownloadOptions::MaxConnections);
    if (m_options.connections > ConnectionsPerManager)
        m_secondManager = std::make_unique<QNetworkAccessManager>();
    for (const ManifestEntry &entry : qAsConst(m_files))
        m_bytesTotal += entry.size;
    // A run can end right here, before anybody started the managed thread, and start()
    // discards an earlier exit request. So once the thread runs, quit again if the end
    // was already reached; exec() then returns at once, because exit() came after start().
    // Direct connection: this runs on the new thread, and quit() is safe from there.
    connect(this, &QThread::started, this, &CDownloadThread::quitIfEndedBeforeStart,
            Qt::DirectConnection);
    if (!checkPaths())
        return;
    // Only the first file starts here: the others are announced once the event loop runs,
    // when the progress dialog listens.
    m_starting = true;
    downloadNext();
    m_starting = false;
    if (m_options.connections > 1 && !m_ended.load())
        QMetaObject::invokeMethod(this, &CDownloadThread::downloadNext, Qt::QueuedConnection);
}

// A transfer in flight leaves what it received for the next run; the managers then delete
// the pending replies.
CDownloadThread::~CDownloadThread()
{
    qDeleteAll(m_inFlight);
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
        bool refused = !isContainedRelativePath(entry.path) || m_partials.holds(entry.path);
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

// Fills the free places with the next entries to fetch; after the last one, applies.
// Entries already in the cache are passed over in this loop, never by recursion.
void CDownloadThread::downloadNext()
{
    const int places = m_starting ? 1 : m_options.connections;
    while (!m_ended.load() && m_current < m_files.size() && m_inFlight.size() < places) {
        const ManifestEntry entry = m_files.at(m_current);
        const QFileInfo target = cacheTarget(entry);
        if (cachedFileUsable(target, entry)) {
            m_bytesDone += entry.size;
            ++m_current;
            continue;
        }
        if (!clearWayFor(target))
            return;
        emit downloadStarted(target, m_current, m_files.size());
        sendRequest(entry, target);
        if (m_ended.load())
            return;
        ++m_current;
    }
    if (!m_ended.load() && m_current == m_files.size() && m_inFlight.isEmpty()) {
        if (makeCacheDurable())
            applyUpdate();
    }
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
