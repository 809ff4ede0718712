#pragma once

#include "manifest.h"
#include "packlist.h"
#include "partialbody.h"
#include "partialstore.h"
#include "resumepoint.h"
#include "tlsconfig.h"
#include "verifiedrelease.h"

#include <QFileInfo>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// One listed file on its way into the cache: streamed into its partial file, checked (size,
// MD5 and, for a signed release, SHA-256, always over the whole file) and only then renamed
// to its listed name. A transfer that breaks off keeps its body and the server's validator,
// so that the next one asks for the rest only (Range, with If-Range).
// Fetched as a packed copy, the packed bytes take that way instead, checked against the list
// of packed copies (size, MD5, SHA-256) before they are decoded into the file, which is then
// checked and named as a downloaded one.
class FileTransfer : public QObject
{
    Q_OBJECT
public:
    // `release` is null for an unsigned release.
    FileTransfer(const ManifestEntry &entry, const QFileInfo &target, PartialStore *store,
                 const VerifiedRelease &release, QObject *parent);
    // The packed copy `copy` of `entry`; a patch applies to `base`, the installed file.
    FileTransfer(const ManifestEntry &entry, const PackedCopy &copy, const QString &base,
                 const QFileInfo &target, PartialStore *store, const VerifiedRelease &release,
                 QObject *parent);
    ~FileTransfer() override;

    // `request` carries the URL and the run's settings. False, with errorString(), when the
    // partial file cannot be opened: nothing is sent then and `finished` does not follow.
    bool start(QNetworkAccessManager *manager, const QNetworkRequest &request,
               qint64 readBufferBytes);
    // Stops without `finished`; what arrived stays for the next attempt.
    void abort();
    // After `refused`: sends the request again through `manager`.
    void resend(QNetworkAccessManager *manager);
    // Sends the request again through `manager` when no answer to it has begun; what the
    // body kept stays.
    bool moveIfUnanswered(QNetworkAccessManager *manager);

    const ManifestEntry &entry() const { return m_entry; }
    QFileInfo target() const { return m_target; }
    // The packed copy fetched instead of the file, if any.
    const std::optional<PackedCopy> &packedCopy() const { return m_packed; }
    // The bytes that travel: the file's, or its packed copy's.
    qint64 transferSize() const { return m_wire.size; }
    QNetworkAccessManager *manager() const { return m_manager; }
    // Bytes of the file at hand so far, a resumed beginning included.
    qint64 bytesReceived() const { return m_body.size(); }
    // After `finished`: whether the file is in the cache under its listed name, and why not.
    bool succeeded() const { return m_succeeded; }
    QString errorString() const { return m_error; }
    // After `finished`: whether the last reply came over HTTP/2.
    bool overHttp2() const { return m_overHttp2; }

signals:
    // The reply's progress; a resumed transfer adds the bytes it started with.
    void progress(qint64 bytesReceived, qint64 bytesTotal);
    // The server refused the request before it began (after a GOAWAY), and it may be sent
    // again (a few times): resend() must follow.
    void refused();
    void finished();

private:
    // What happens with the body of the current response.
    enum class Decision { Undecided, Take, Skip, Restart };

    FileTransfer(const ManifestEntry &entry, const ManifestEntry &wire,
                 std::optional<PackedCopy> packed, const QString &base, const QFileInfo &target,
                 PartialStore *store, const VerifiedRelease &release, QObject *parent);

    bool openBody(qint64 keep);
    void send();
    Decision decideBody();
    void takeWholeBody();
    void onReadyRead();
    bool storeChunk(const char *data, qint64 size);
    void onDownloadProgress(qint64 received, qint64 total);
    void onFinished();
    bool resendRefused();
    bool retryWhole();
    bool checkTransfer(QString *error);
    bool checkDigests(QString *error);
    bool checkSha256(QString *error);
    bool storeBody(QString *error);
    QString networkError() const;
    QString message(const char *text) const;
    void finish(const QString &error);
    void releaseReply();

    ManifestEntry m_entry;
    ManifestEntry m_wire; // what travels: the entry itself, or its packed copy
    std::optional<PackedCopy> m_packed;
    QString m_base;
    QFileInfo m_target;
    PartialStore *m_store;
    VerifiedRelease m_release;
    PartialBody m_body;
    ResumePoint m_resume;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkRequest m_request;
    qint64 m_readBufferBytes = 0;
    QNetworkReply *m_reply = nullptr;
    TlsErrorLog m_tlsErrors;

    Decision m_decision = Decision::Undecided;
    bool m_retried = false; // a resumed transfer starts over at most once
    int m_resends = 0;      // of a request the server refused before it began
    bool m_overHttp2 = false;
    bool m_tooLong = false;
    bool m_writeFailed = false;
    bool m_digestsFailed = false;
    bool m_succeeded = false;
    QString m_error;
};
