#include "resumepoint.h"

#include "fileops.h"
#include "updatelog.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

ResumePoint::ResumePoint(PartialStore *store, const ManifestEntry &entry)
    : m_store(store), m_entry(entry)
{}

qint64 ResumePoint::resumeFrom(QNetworkRequest *request)
{
    PartialInfo info;
    if (m_entry.size >= MinBytes && m_store->readInfo(m_entry.path, &info) &&
        info.describes(m_entry) && !info.validator().isEmpty()) {
        const QFileInfo body(m_store->bodyPath(m_entry.path));
        const qint64 have = body.isFile() && !body.isSymLink() ? body.size() : 0;
        if (have > 0 && have < m_entry.size) {
            request->setRawHeader("Range", "bytes=" + QByteArray::number(have) + '-');
            request->setRawHeader("If-Range", info.validator());
            m_recorded = true;
            qCInfo(lcFetch, "%s: resuming at %lld of %lld bytes", qUtf8Printable(m_entry.path),
                   have, m_entry.size);
            return have;
        }
    }
    request->setRawHeader("Range", QByteArray());
    request->setRawHeader("If-Range", QByteArray());
    // Without it the body is fetched whole; an info file left here is rewritten or removed.
    fileops::remove(m_store->infoPath(m_entry.path));
    m_recorded = false;
    return 0;
}

void ResumePoint::remember(const QNetworkReply *reply)
{
    if (m_entry.size < MinBytes)
        return;
    PartialInfo info{m_entry.path, m_entry.size, m_entry.md5, reply->rawHeader("ETag"),
                     reply->rawHeader("Last-Modified")};
    if (info.etag.startsWith("W/"))
        info.etag.clear(); // If-Range refuses weak validators
    m_recorded = !info.validator().isEmpty() && m_store->writeInfo(info);
    if (!m_recorded) // no validator to resume by: an earlier one must not describe this body
        fileops::remove(m_store->infoPath(m_entry.path));
}

bool ResumePoint::continues(const QNetworkReply *reply, qint64 kept) const
{
    static const QRegularExpression range(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
    const auto match = range.match(QString::fromLatin1(reply->rawHeader("Content-Range")));
    return match.hasMatch() && match.captured(1).toLongLong() == kept &&
           match.captured(2).toLongLong() == m_entry.size - 1 &&
           match.captured(3).toLongLong() == m_entry.size;
}

// A file that cannot be removed is emptied or replaced by the next transfer of its entry.
void ResumePoint::forget()
{
    m_store->discard(m_entry.path);
    m_recorded = false;
}
