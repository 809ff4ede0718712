#pragma once

#include "manifest.h"
#include "partialstore.h"
#include "sha256.h"
#include "tlsconfig.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class ReleaseVerifier;

// One listed file on its way into the cache: streamed into its partial file, checked (size,
// MD5 and, for a signed release, SHA-256, always over the whole file) and only then renamed
// to its listed name. A transfer that breaks off keeps its body and the server's validator,
// so that the next one asks for the rest only (Range, with If-Range).
class FileTransfer : public QObject
{
    Q_OBJECT
public:
    // Smaller files are fetched whole every time: resuming them would save nothing.
    static constexpr qint64 ResumeMinBytes = 256 * 1024;

    // `release` is null for an unsigned release; it must outlive the transfer.
    FileTransfer(const ManifestEntry &entry, const QFileInfo &target, PartialStore *store,
                 ReleaseVerifier *release, QObject *parent = nullptr);
    ~FileTransfer() override;

    // `request` carries the URL and the run's settings. False, with errorString(), when the
    // partial file cannot be opened: nothing is sent then and `finished` does not follow.
    bool start(QNetworkAccessManager *manager, const QNetworkRequest &request,
               qint64 readBufferBytes);
    // Stops without `finished`; what arrived stays for the next attempt.
    void abort();

    const ManifestEntry &entry() const { return m_entry; }
    QFileInfo target() const { return m_target; }
    QNetworkAccessManager *manager() const { return m_manager; }
    // Bytes of the file at hand so far, a resumed beginning included.
    qint64 bytesReceived() const { return m_bodyBytes; }
    // Empty after success: the file is in the cache under its listed name.
    QString errorString() const { return m_error; }

signals:
    // The reply's progress; a resumed transfer adds the bytes it started with.
    void progress(qint64 bytesReceived, qint64 bytesTotal);
    void finished();

private:
    // What happens with the body of the current response.
    enum class Body { Undecided, Take, Skip, Restart };

    qint64 resumableBytes();
    bool openBody(qint64 offset);
    bool hashBeginning();
    void resetHashes();
    void send();
    Body decideBody();
    bool continuesPartial() const;
    bool takeWholeBody();
    void rememberValidator();
    void onReadyRead();
    bool storeChunk(const char *data, qint64 size);
    void startWriteBack();
    void onDownloadProgress(qint64 received, qint64 total);
    void onFinished();
    bool retryWhole();
    QString checkTransfer();
    QString checkDigests();
    QString networkError() const;
    QString message(const char *text) const;
    void finish(const QString &error);
    void releaseReply();

    ManifestEntry m_entry;
    QFileInfo m_target;
    PartialStore *m_store;
    ReleaseVerifier *m_release;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkRequest m_request;
    qint64 m_readBufferBytes = 0;
    QNetworkReply *m_reply = nullptr;
    TlsErrorLog m_tlsErrors;

    QFile m_file;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
    std::unique_ptr<Sha256Hash> m_sha256; // signed releases only
    qint64 m_offset = 0;                  // bytes asked to be skipped by the current request
    qint64 m_bodyBytes = 0;
    qint64 m_writtenBackBytes = 0;
    Body m_body = Body::Undecided;
    bool m_hasInfo = false; // an info file describes the body on disk
    bool m_retried = false; // a resumed transfer starts over at most once
    bool m_tooLong = false;
    bool m_writeFailed = false;
    bool m_digestsFailed = false;
    QString m_error;
};
