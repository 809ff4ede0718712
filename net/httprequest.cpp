#include "httprequest.h"

#include "tlsconfig.h"
#include "updatelog.h"

#include <QEventLoop>
#include <QHttp2Configuration>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <climits>
#include <optional>

namespace {

int timeoutMilliseconds(int timeoutSeconds)
{
    return int(qMin<qint64>(qint64(timeoutSeconds) * 1000, INT_MAX));
}

// Blocks until `reply` has finished or the time-out has passed; true when it finished.
bool waitForReply(QNetworkReply *reply, int timeoutSeconds)
{
    if (reply->isFinished())
        return true;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The loop is the timer's context: a time-out still pending on return dies with it.
    if (timeoutSeconds > 0)
        QTimer::singleShot(timeoutMilliseconds(timeoutSeconds), &loop, &QEventLoop::quit);
    loop.exec();
    return reply->isFinished();
}

void storeReplyHeaders(const QNetworkReply *reply, QMap<QByteArray, QByteArray> *replyHeaders)
{
    if (!replyHeaders)
        return;
    for (const QNetworkReply::RawHeaderPair &header : reply->rawHeaderPairs())
        replyHeaders->insert(header.first, header.second);
}

// The transfer layer does not report every body that fell short of its Content-Length
// (seen once under load: a 200 cut right after its headers finished without an error).
// A compressed body is decoded, so its announced length says nothing about what was read.
bool matchesAnnouncedLength(const QNetworkReply *reply, const QByteArray &body)
{
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!announced.isValid() || reply->hasRawHeader("Content-Encoding"))
        return true;
    return announced.toLongLong() == body.size();
}

// The body of a reply with a limit, read as it arrives so that the reply never holds more
// than its read buffer. Only a 200's body is kept: an error page is dropped unread.
class BoundedBody
{
public:
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;

    BoundedBody(QNetworkReply *reply, qint64 maxBytes) : m_reply(reply), m_maxBytes(maxBytes)
    {
        reply->setReadBufferSize(ReadBufferBytes);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &m_context, [this] {
            const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
            if (isOk() && announced.isValid() && announced.toLongLong() > m_maxBytes)
                refuse();
        });
        QObject::connect(reply, &QNetworkReply::readyRead, &m_context, [this] { take(); });
    }

    bool exceeded() const { return m_exceeded; }
    qint64 maxBytes() const { return m_maxBytes; }
    // Everything received, once the reply has finished.
    QByteArray body()
    {
        take();
        return m_body;
    }

private:
    bool isOk() const
    {
        return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
    }
    void take()
    {
        if (m_exceeded || !isOk()) {
            m_reply->skip(m_reply->bytesAvailable());
            return;
        }
        if (m_body.size() + m_reply->bytesAvailable() > m_maxBytes)
            refuse();
        else
            m_body += m_reply->read(m_reply->bytesAvailable());
    }
    void refuse()
    {
        m_exceeded = true;
        m_body.clear();
        qCInfo(lcNet, "%s: longer than %lld bytes, refused",
               qUtf8Printable(m_reply->url().fileName()), m_maxBytes);
        m_reply->abort();
    }

    QNetworkReply *m_reply;
    qint64 m_maxBytes;
    QByteArray m_body;
    bool m_exceeded = false;
    QObject m_context; // the connections end with the body
};

// A finished reply: true with its body, or false with the message.
bool takeFinishedReply(QNetworkReply *reply, BoundedBody *bounded, const TlsErrorLog &tlsErrors,
                       QByteArray *body, QString *errorMessage)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A 200 whose transfer broke off (short body, lost connection) is no success.
    const bool transferred = status == 200 && reply->error() == QNetworkReply::NoError;
    if (transferred)
        *body = bounded ? bounded->body() : reply->readAll();
    if (bounded && bounded->exceeded()) {
        *errorMessage = tooLargeMessage(bounded->maxBytes());
        return false;
    }
    if (transferred && matchesAnnouncedLength(reply, *body))
        return true;
    *errorMessage =
        transferred ? QObject::tr("数据不完整") : tlsErrors.explain(reply->errorString());
    return false;
}

} // namespace

QString tooLargeMessage(qint64 maxBodyBytes)
{
    return QObject::tr("文件超过%1字节的上限").arg(maxBodyBytes);
}

bool sendHttpRequest(QNetworkAccessManager *manager, QUrl requestUrl, QByteArray *replyBody,
                     QString *errorMessage, int timeoutSeconds,
                     QMap<QByteArray, QByteArray> requestHeaders, QByteArray verb,
                     QByteArray payload, QMap<QByteArray, QByteArray> *replyHeaders,
                     const QSslConfiguration *sslConfiguration, qint64 maxBodyBytes, bool http2)
{
    QNetworkRequest request(requestUrl);
    if (sslConfiguration)
        request.setSslConfiguration(*sslConfiguration);
    if (http2)
        allowHttp2(&request);
    for (auto it = requestHeaders.constBegin(); it != requestHeaders.constEnd(); ++it)
        request.setRawHeader(it.key(), it.value());

    QNetworkReply *reply = manager->sendCustomRequest(request, verb, payload);
    if (!reply) {
        *errorMessage = QObject::tr("发送请求失败");
        return false;
    }

    TlsErrorLog tlsErrors;
    tlsErrors.watch(reply);
    std::optional<BoundedBody> bounded;
    if (maxBodyBytes >= 0)
        bounded.emplace(reply, maxBodyBytes);
    qCInfo(lcNet, "%s %s", verb.constData(), qUtf8Printable(requestUrl.toString()));
    const bool finished = waitForReply(reply, timeoutSeconds);
    bool succeeded = false;
    if (!finished) {
        // Stop the transfer now so nothing arrives for this call after it returned.
        reply->abort();
        *errorMessage = QObject::tr("网络超时");
    } else {
        QByteArray body;
        succeeded =
            takeFinishedReply(reply, bounded ? &*bounded : nullptr, tlsErrors, &body, errorMessage);
        if (succeeded) {
            storeReplyHeaders(reply, replyHeaders);
            *replyBody = body;
        }
    }
    qCInfo(lcNet, "%s: %s", qUtf8Printable(requestUrl.fileName()),
           succeeded ? qUtf8Printable(QStringLiteral("%1 200, %2 bytes")
                                          .arg(QLatin1String(protocolOf(reply)))
                                          .arg(replyBody->size()))
                     : qUtf8Printable(*errorMessage));
    reply->deleteLater();
    return succeeded;
}

void allowHttp2(QNetworkRequest *request)
{
    if (request->url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return;
    request->setAttribute(QNetworkRequest::Http2AllowedAttribute, true);
    // A stream gets at most a window per round trip: Qt's 21 MB hold a large file below
    // HTTP/1.1 on long round trips (1 GiB over 50 ms: 1.3x its time). Qt's other settings stay:
    // a configuration made from scratch has 64 KiB windows.
    QHttp2Configuration http2 = request->http2Configuration();
    http2.setStreamReceiveWindowSize(Http2StreamWindowBytes);
    request->setHttp2Configuration(http2);
}

const char *protocolOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool() ? "HTTP/2" : "HTTP";
}
