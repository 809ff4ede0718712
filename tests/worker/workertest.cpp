#include "workertest.h"

#include "digest.h"

#include <QTest>

WorkerFolders::WorkerFolders()
{
    root.setAutoRemove(true);
    QDir(root.path()).mkpath(QStringLiteral("cache"));
    QDir(root.path()).mkpath(QStringLiteral("install"));
    cache = QDir(root.filePath(QStringLiteral("cache")));
    install = QDir(root.filePath(QStringLiteral("install")));
}

namespace workertest {

ManifestEntry entryFor(const QString &path, const QByteArray &content)
{
    ManifestEntry entry;
    entry.path = path;
    entry.size = content.size();
    entry.md5 = digestText(content);
    return entry;
}

QByteArray contentFor(const QString &name, int size)
{
    QByteArray bytes = name.toUtf8() + ':';
    while (bytes.size() < size)
        bytes += QByteArray::number(bytes.size()) + ',';
    return bytes.left(size);
}

WorkerOutcome runWorker(const QString &baseUrl, const WorkerFolders &folders,
                        const QList<ManifestEntry> &files, int transferTimeoutMs, int waitMs)
{
    DownloadOptions options;
    options.transferTimeoutMs = transferTimeoutMs;
    return runWorker(baseUrl, folders, files, options, waitMs);
}

WorkerOutcome runWorker(const QString &baseUrl, const WorkerFolders &folders,
                        const QList<ManifestEntry> &files, const DownloadOptions &options,
                        int waitMs)
{
    WorkerOutcome outcome;
    CDownloadThread worker(baseUrl, folders.cache, folders.install, files, options);
    QObject::connect(&worker, &CDownloadThread::downloadStarted,
                     [&](QFileInfo file, int current, int total) {
                         outcome.started.append({file, current});
                         outcome.totals.append(total);
                     });
    QObject::connect(&worker, &CDownloadThread::downloadProgress,
                     [&](int64_t received, int64_t total) {
                         outcome.progress.append({qint64(received), qint64(total)});
                     });
    QObject::connect(&worker, &CDownloadThread::downloadFail, [&](QFileInfo file, QString message) {
        outcome.fails.append({file, message});
    });
    worker.start(QThread::InheritPriority);
    outcome.finished = waitForThreadEnd(&worker, waitMs);
    stopThread(&worker);
    QObject::disconnect(&worker, nullptr, nullptr, nullptr);
    outcome.success = worker.success();
    outcome.errorText = worker.errorText();
    return outcome;
}

bool waitForThreadEnd(QThread *thread, int timeoutMs)
{
    return QTest::qWaitFor([thread] { return thread->isFinished(); }, timeoutMs);
}

void stopThread(CDownloadThread *worker)
{
    worker->quit();
    worker->wait(5000);
}

} // namespace workertest
