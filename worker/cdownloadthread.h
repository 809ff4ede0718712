#pragma once

#include "manifest.h"
#include "partialstore.h"
#include "releaseverifier.h"
#include "tlsconfig.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class FileTransfer;

// What a run may add to the plain download of the listed files.
struct DownloadOptions
{
    static constexpr int DefaultTransferTimeoutMs = 60000;

    int transferTimeoutMs = DefaultTransferTimeoutMs;
    // When not null, the list that the commit stores as "update_md5.info" before the
    // update's journal goes, so that an interruption never separates the two.
    QByteArray record;
    // A signed release whose lists have passed: every file must then also match its size
    // and its SHA-256 in sha256.txt, and the commit records the release's Sequence.
    ReleaseVerifier release;
    // Goes on every request (see tlsconfig.h); absent: Qt's defaults.
    std::optional<QSslConfiguration> sslConfiguration;
    // Files in flight at once, 1 to MaxConnections. With 1, the files are fetched strictly
    // one after another and `downloadProgress` passes on the reply's own figures; with more,
    // it carries the bytes of the whole update: those of the files done (fetched or found
    // in the cache) and in flight, against the listed size of all files.
    int connections = 1;
    static constexpr int MaxConnections = 8;
};

// Fetches the listed files into the cache folder (one after another, or a few at once),
// verifies each and then swaps them into the installation. All work runs on the creating
// thread, driven by the network replies; the managed thread only runs an empty event loop
// and serves as the end marker: quit() when the work is done, and `finished` tells the
// waiting party.
class CDownloadThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int DefaultTransferTimeoutMs = DownloadOptions::DefaultTransferTimeoutMs;

    CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir, QList<ManifestEntry> files,
                    QObject *parent = nullptr, int transferTimeoutMs = DefaultTransferTimeoutMs,
                    QByteArray record = QByteArray());
    CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir, QList<ManifestEntry> files,
                    DownloadOptions options, QObject *parent = nullptr);
    ~CDownloadThread() override;

    bool success() const;
    QString errorText() const;

signals:
    void downloadStarted(QFileInfo filename, int current, int total);
    void downloadProgress(int64_t bytesReceived, int64_t bytesTotal);
    void downloadFail(QFileInfo filename, QString errormsg);

private:
    // One manager opens at most six connections to a host.
    static constexpr int ConnectionsPerManager = 6;

    bool checkPaths();
    bool isSigned() const { return m_options.release.checksFiles(); }
    bool cachedFileUsable(const QFileInfo &target, const ManifestEntry &entry) const;
    void downloadNext();
    bool clearWayFor(const QFileInfo &target);
    void sendRequest(const ManifestEntry &entry, const QFileInfo &target);
    QNetworkAccessManager *idlestManager();
    void onTransferProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onTransferFinished();
    void abortTransfers();
    bool makeCacheDurable();

    void applyUpdate();

    void fail(const QFileInfo &file, const QString &message);
    void succeed();
    void endRun();
    void quitIfEndedBeforeStart();
    QFileInfo cacheTarget(const ManifestEntry &entry) const;

    std::atomic<bool> m_success{false};
    QString m_errorText;
    QString m_baseUrl;
    QDir m_cacheDir;
    QDir m_installDir;
    QList<ManifestEntry> m_files;
    int m_current = 0; // the next entry to fetch
    DownloadOptions m_options;

    std::atomic<bool> m_ended{false};
    bool m_starting = false; // inside the constructor
    PartialStore m_partials;
    QList<FileTransfer *> m_inFlight;
    qint64 m_bytesDone = 0;  // of the files fetched or found in the cache
    qint64 m_bytesTotal = 0; // of all listed files

    // Declared last so they go first: they delete any pending reply before the rest.
    std::unique_ptr<QNetworkAccessManager> m_secondManager; // for more than six connections
    QNetworkAccessManager m_manager;
};
