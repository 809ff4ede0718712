#pragma once

#include "manifest.h"
#include "releaseverifier.h"
#include "tlsconfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QNetworkAccessManager>
#include <QSaveFile>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

class QNetworkReply;

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
    // Goes on every request (see tlsconfig.h); null: Qt's defaults.
    QSslConfiguration sslConfiguration;
};

// Fetches the listed files one after another into the cache folder, verifies each and
// then swaps them into the installation. All work runs on the creating thread, driven by
// the network replies; the managed thread only runs an empty event loop and serves as the
// end marker: quit() when the work is done, and `finished` tells the waiting party.
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
    static constexpr int ChunkBytes = 1024 * 1024;
    static constexpr qint64 WriteBackBytes = 8 * 1024 * 1024;

    bool checkPaths();
    bool isSigned() const { return m_options.release.checksFiles(); }
    bool cachedFileUsable(const QFileInfo &target, const ManifestEntry &entry) const;
    void downloadNext();
    bool clearWayFor(const QFileInfo &target);
    void sendRequest(const ManifestEntry &entry, const QFileInfo &target);
    void onReplyReadyRead();
    bool storeChunk(QNetworkReply *reply, const char *data, qint64 size);
    void startWriteBack();
    void onReplyFinished();
    QString checkTransfer(QNetworkReply *reply, const ManifestEntry &entry,
                          const QFileInfo &target);
    void discardBody();

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
    int m_current = 0;
    DownloadOptions m_options;

    std::atomic<bool> m_ended{false};
    // The body of the transfer in flight, streamed to a temporary file beside its target.
    std::unique_ptr<QSaveFile> m_body;
    QCryptographicHash m_bodyHash{QCryptographicHash::Md5};
    std::unique_ptr<Sha256Hash> m_bodySha256; // signed releases only
    TlsErrorLog m_tlsErrors;
    qint64 m_bodyBytes = 0;
    qint64 m_bodySyncedBytes = 0;
    QByteArray m_chunk;
    bool m_bodyTooLong = false;
    bool m_bodyWriteFailed = false;

    // Declared last so it goes first: it deletes any pending reply before the rest.
    QNetworkAccessManager m_manager;
};
