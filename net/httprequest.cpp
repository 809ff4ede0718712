#include "httprequest.h"

#include "tlsconfig.h"
#include "updatelog.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <climits>

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

} // namespace

bool sendHttpRequest(QNetworkAccessManager *manager, QUrl requestUrl, QByteArray *replyBody,
                     QString *errorMessage, int timeoutSeconds,
                     QMap<QByteArray, QByteArray> requestHeaders, QByteArray verb,
                     QByteArray payload, QMap<QByteArray, QByteArray> *replyHeaders,
                     const QSslConfiguration *sslConfiguration)
{
    QNetworkRequest request(requestUrl);
    if (sslConfiguration)
        request.setSslConfiguration(*sslConfiguration);
    for (auto it = requestHeaders.constBegin(); it != requestHeaders.constEnd(); ++it)
        request.setRawHeader(it.key(), it.value());

    QNetworkReply *reply = manager->sendCustomRequest(request, verb, payload);
    if (!reply) {
        *errorMessage = QObject::tr("发送请求失败");
        return false;
    }

    TlsErrorLog tlsErrors;
    tlsErrors.watch(reply);
    qCInfo(lcNet, "%s %s", verb.constData(), qUtf8Printable(requestUrl.toString()));
    const bool finished = waitForReply(reply, timeoutSeconds);
    bool succeeded = false;
    if (!finished) {
        // Stop the transfer now so nothing arrives for this call after it returned.
        reply->abort();
        *errorMessage = QObject::tr("网络超时");
    } else {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A 200 whose transfer broke off (short body, lost connection) is no success.
        const bool transferred = status == 200 && reply->error() == QNetworkReply::NoError;
        const QByteArray body = transferred ? reply->readAll() : QByteArray();
        succeeded = transferred && matchesAnnouncedLength(reply, body);
        if (succeeded) {
            storeReplyHeaders(reply, replyHeaders);
            *replyBody = body;
        } else if (transferred) {
            *errorMessage = QObject::tr("数据不完整");
        } else {
            *errorMessage = tlsErrors.explain(reply->errorString());
        }
    }
    qCInfo(lcNet, "%s: %s", qUtf8Printable(requestUrl.fileName()),
           succeeded ? qUtf8Printable(QStringLiteral("HTTP 200, %1 bytes").arg(replyBody->size()))
                     : qUtf8Printable(*errorMessage));
    reply->deleteLater();
    return succeeded;
}
