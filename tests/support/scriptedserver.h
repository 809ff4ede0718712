#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTcpServer>

// A small HTTP/1.1 server in the test's own process and thread, for faults a real server
// does not produce on demand: no answer, a stall after the headers, a body cut off, a slow
// trickle, a Content-Length that lies. It needs the test's event loop to run.
class ScriptedServer : public QObject
{
public:
    enum class Ending {
        Complete,          // status, headers, whole body, then close
        NeverAnswer,       // accept the connection, read the request, send nothing
        StallAfterHeaders, // send the headers, then nothing more (connection kept open)
        StallAfterPart,    // send headers and the first `partBytes` of the body, then stall
        CloseAfterPart,    // send headers and the first `partBytes`, then close the connection
        Trickle,           // send the body `trickleChunk` bytes every `trickleIntervalMs`
    };
    struct Response
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers; // extra headers
        Ending ending = Ending::Complete;
        qint64 partBytes = 0;
        int trickleChunk = 1;
        int trickleIntervalMs = 10;
        bool sendContentLength = true;
        qint64 contentLength = -1; // -1: the body's real length
        int delayMs = 0;           // wait before answering at all

        // A 200 with `body`, ended as `ending` (after `partBytes` for the *AfterPart endings).
        static Response with(const QByteArray &body, Ending ending = Ending::Complete,
                             qint64 partBytes = 0)
        {
            Response response;
            response.body = body;
            response.ending = ending;
            response.partBytes = partBytes;
            return response;
        }
    };
    // One request as received; the body is read up to its Content-Length.
    struct Request
    {
        QByteArray verb;
        QString path; // URL-decoded target without the leading slash
        QList<QPair<QByteArray, QByteArray>> headers; // in the order sent
        QByteArray body;
    };

    explicit ScriptedServer(QObject *parent = nullptr);
    ~ScriptedServer() override;

    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:PORT/" followed by `path`.
    QString url(const QString &path = QString()) const;

    // `path` is the request target without the leading slash, e.g. "Base/md5.txt".
    // Unknown paths get a 404.
    void setResponse(const QString &path, const Response &response);
    int requestCount(const QString &path) const;
    QStringList requestedPaths() const;
    QList<Request> requests() const;

private:
    struct Private;
    Private *d;
};
