#pragma once

#include "fetchoptions.h"
#include "managerpool.h"
#include "manifest.h"
#include "partialstore.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QVector>

#include <optional>

class FileTransfer;

// Brings the listed files into the cache folder: passes over those already there with the
// right digests, fetches the others (one after another, or a few at once), and at the end
// makes all of them durable in one barrier. The first failure ends the fill: nothing more is
// fetched, and what the other transfers received stays for the next attempt.
// A file with a packed copy that fits (a patch from the installed file in `installDir`, or
// the compressed copy) is fetched as that; when that fails in any way, the file is fetched
// whole, once, and only the whole file's failure ends the fill.
class CacheFill : public QObject
{
    Q_OBJECT
public:
    CacheFill(const QString &baseUrl, const QDir &cacheDir, const QDir &installDir,
              const QList<ManifestEntry> &files, const FetchOptions &options,
              QObject *parent = nullptr);
    ~CacheFill() override;

    // Takes the first file to fetch here (its `fileStarted` comes now) and the others once
    // the event loop runs. When nothing is to be fetched, or the first file fails at once,
    // `finished` comes before this returns.
    void start();

    bool succeeded() const { return m_succeeded; }
    QString errorString() const { return m_error; }
    // The file the failure concerns.
    QFileInfo failedFile() const { return m_failedFile; }
    // Removes what transfers of earlier runs left; for after the files have been applied.
    void clearPartials() const { m_partials.clear(); }

signals:
    void fileStarted(QFileInfo target, int current, int total);
    void progress(qint64 bytesReceived, qint64 bytesTotal);
    void finished();

private:
    // Files in flight at most: up to MaxConnections until a reply came over HTTP/2.
    int places() const;
    void fillPlaces(int places);
    QFileInfo cacheTarget(const ManifestEntry &entry) const;
    bool cachedFileUsable(const QFileInfo &target, const ManifestEntry &entry) const;
    bool clearWayFor(const QFileInfo &target);
    void planPackedCopies();
    qint64 plannedBytes(int index) const;
    bool sendRequest(const ManifestEntry &entry, const QFileInfo &target,
                     const std::optional<PackedCopy> &packed);
    FileTransfer *makeTransfer(const ManifestEntry &entry, const QFileInfo &target,
                               const std::optional<PackedCopy> &packed);
    bool fetchWhole(const FileTransfer *failed);
    QList<QNetworkAccessManager *> managersInFlight() const;
    void onTransferProgress();
    void onTransferRefused();
    void onTransferFinished();
    void noteHttp2();
    void abortTransfers();
    bool makeDurable();
    void fail(const QFileInfo &file, const QString &message);
    void end(bool succeeded);

    QString m_baseUrl;
    QDir m_cacheDir;
    QDir m_installDir;
    QList<ManifestEntry> m_files;
    QVector<std::optional<PackedCopy>> m_packed; // by entry: the copy to fetch instead
    FetchOptions m_options;
    PartialStore m_partials;
    int m_next = 0; // the next entry to look at
    bool m_ended = false;
    bool m_succeeded = false;
    bool m_overHttp2 = false; // a reply came over HTTP/2
    QString m_error;
    QFileInfo m_failedFile;
    QList<FileTransfer *> m_inFlight;
    qint64 m_bytesDone = 0;  // of the files fetched or found in the cache
    qint64 m_bytesTotal = 0; // of all listed files, as they are to be fetched

    // Declared last so they go first: they delete any pending reply before the rest.
    ManagerPool m_managers;
};
