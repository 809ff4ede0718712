#pragma once

#include "manifest.h"
#include "testfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "cdownloadthread.h"

// A cache and an installation folder side by side in one temporary root.
struct WorkerFolders
{
    WorkerFolders();
    QTemporaryDir root;
    QDir cache;
    QDir install;
    QString cachePath(const QString &relative) const { return cache.absoluteFilePath(relative); }
    QString installPath(const QString &relative) const
    {
        return install.absoluteFilePath(relative);
    }
};

// What a worker reported after it was constructed, up to the end of its run.
struct WorkerOutcome
{
    bool finished = false;
    bool success = false;
    QString errorText;
    QList<QPair<QFileInfo, QString>> fails;
    QList<QPair<QFileInfo, int>> started; // file and current
    QList<int> totals;
    QList<QPair<qint64, qint64>> progress;
};

namespace workertest {

ManifestEntry entryFor(const QString &path, const QByteArray &content);
// Some bytes that differ from file to file.
QByteArray contentFor(const QString &name, int size);

// Builds a worker, starts its thread and waits (bounded) for `finished`.
WorkerOutcome runWorker(const QString &baseUrl, const WorkerFolders &folders,
                        const QList<ManifestEntry> &files,
                        int transferTimeoutMs = FetchOptions::DefaultTransferTimeoutMs,
                        int waitMs = 20000);
// The same with the run's options (connections, time-out, a signed release ...).
WorkerOutcome runWorker(const QString &baseUrl, const WorkerFolders &folders,
                        const QList<ManifestEntry> &files, const DownloadOptions &options,
                        int waitMs = 20000);
// Spins the event loop until the thread has ended. QSignalSpy::wait() would miss a
// `finished` the thread emitted before the wait began and then time out.
bool waitForThreadEnd(QThread *thread, int timeoutMs);
// Ends a thread that did not end by itself, so that the worker can be destroyed.
void stopThread(CDownloadThread *worker);

} // namespace workertest
