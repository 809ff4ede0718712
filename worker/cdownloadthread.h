#pragma once

#include "fetchoptions.h"
#include "manifest.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>

class CacheFill;

// What a run may add to the plain download and apply of the listed files.
struct DownloadOptions : FetchOptions
{
    // When not null, the list that the commit stores as the record before the update's
    // journal goes, so that an interruption never separates the two.
    QByteArray record;
};

// The download worker: refuses a list with a path it must not touch, has the cache filled
// with the listed files (CacheFill), then swaps them into the installation as one
// transaction (ApplyTransaction). All work runs on the creating thread, driven by the network
// replies; the managed thread only runs an empty event loop and serves as the end marker:
// quit() when the work is done, and `finished` tells the waiting party.
class CDownloadThread : public QThread
{
    Q_OBJECT
public:
    CDownloadThread(QString baseUrl, QDir cacheDir, QDir installDir, QList<ManifestEntry> files,
                    QObject *parent = nullptr);
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
    bool checkPaths();
    void onCacheFilled();
    void applyUpdate();
    void fail(const QFileInfo &file, const QString &message);
    void succeed();
    void endRun();
    void quitIfEndedBeforeStart();

    std::atomic<bool> m_success{false};
    std::atomic<bool> m_ended{false};
    QString m_errorText;
    QDir m_cacheDir;
    QDir m_installDir;
    QList<ManifestEntry> m_files;
    DownloadOptions m_options;
    CacheFill *m_fill = nullptr; // a child
};
