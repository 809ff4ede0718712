#pragma once

#include "manifest.h"
#include "partialstore.h"

class QNetworkReply;
class QNetworkRequest;

// Where a transfer may pick up what an earlier transfer of the same listed file left: the
// partial file of the store, and the server's strong validator (ETag or Last-Modified) in its
// info file, so that the rest is asked for with Range and If-Range.
class ResumePoint
{
public:
    // Smaller files are fetched whole every time: resuming them would save nothing.
    static constexpr qint64 MinBytes = 256 * 1024;

    ResumePoint(PartialStore *store, const ManifestEntry &entry);

    // The bytes of the partial file to keep, with Range and If-Range put on `request`; 0,
    // with neither, when there is nothing to resume.
    qint64 resumeFrom(QNetworkRequest *request);
    // An answer that starts the body from its first byte: its validator is written before
    // the first byte, so that even a killed run leaves both.
    void remember(const QNetworkReply *reply);
    // Whether a 206 continues the `kept` bytes of this very file.
    bool continues(const QNetworkReply *reply, qint64 kept) const;
    // Nothing is to be resumed: the partial file and its info go.
    void forget();
    // Whether an info file describes the body on disk, which makes the body worth keeping.
    bool isRecorded() const { return m_recorded; }

private:
    PartialStore *m_store;
    ManifestEntry m_entry;
    bool m_recorded = false;
};
