#pragma once

#include "manifest.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>

// Fetches the listed files one after another into the cache folder, verifies each and
// then swaps them into the installation. All work runs on the creating thread, driven by
// the network replies; the managed thread only runs an empty event loop and serves as the
// end marker: quit() when the work is done, and `finished` tells the waiting party.
class CDownloadThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int DefaultTransferTimeoutMs = 60000;

    CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir, QList<ManifestEntry> files,
                    QObject *parent = nullptr, int transferTimeoutMs = DefaultTransferTimeoutMs);
    ~CDownloadThread() override;

    bool success() const;
    QString errorText() const;

signals:
    void downloadStarted(QFileInfo filename, int current, int total);
    void downloadProgress(int64_t bytesReceived, int64_t bytesTotal);
    void downloadFail(QFileInfo filename, QString errormsg);

private:
    // Implementation details are the worker's own (see cdownloadthread.cpp).
    std::atomic<bool> m_success{false};
    QString m_errorText;
    QString m_baseUrl;
    QDir m_cacheDir;
    QDir m_installDir;
    QList<ManifestEntry> m_files;
    int m_current = 0;
    QNetworkAccessManager m_manager;
};
