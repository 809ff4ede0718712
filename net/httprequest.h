#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QSslConfiguration;

// One blocking HTTP request: waits in a local event loop until the reply has finished
// or `timeoutSeconds` (0 or less: no limit) have passed since the request was sent.
// True only for a reply that finished without a transfer error and with status 200;
// `replyBody` is written only then, `errorMessage` only on failure; a refused server
// certificate adds Qt's reasons to the message. A given `sslConfiguration` goes on the
// request (see tlsconfig.h); without one Qt's defaults apply. With `maxBodyBytes` (0 or more)
// a body longer than that fails (tooLargeMessage) before more is read: an announced length
// above it at once, otherwise at the byte past it. With `http2` the request may use HTTP/2
// (see allowHttp2).
bool sendHttpRequest(QNetworkAccessManager *manager, QUrl requestUrl, QByteArray *replyBody,
                     QString *errorMessage, int timeoutSeconds,
                     QMap<QByteArray, QByteArray> requestHeaders, QByteArray verb,
                     QByteArray payload, QMap<QByteArray, QByteArray> *replyHeaders,
                     const QSslConfiguration *sslConfiguration = nullptr, qint64 maxBodyBytes = -1,
                     bool http2 = false);

// The receive window of one HTTP/2 stream: what the server may send ahead in a round trip.
constexpr unsigned Http2StreamWindowBytes = 128u * 1024 * 1024;

// Lets an https request use HTTP/2; the server decides through ALPN, and one without it
// answers over HTTP/1.1. Plain http requests stay as they are. Of Qt's own HTTP/2 settings
// only the stream window changes (to Http2StreamWindowBytes): a configuration built afresh
// has 64 KiB windows, which stall transfers.
void allowHttp2(QNetworkRequest *request);
// "HTTP/2" when the reply came over HTTP/2, else "HTTP": for the log.
const char *protocolOf(const QNetworkReply *reply);

// "文件超过%1字节的上限": the body is longer than `maxBodyBytes`.
QString tooLargeMessage(qint64 maxBodyBytes);
