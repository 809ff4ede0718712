#include "scriptedserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>

namespace {

using Response = ScriptedServer::Response;
using Request = ScriptedServer::Request;
using Ending = ScriptedServer::Ending;
using Handler = std::function<Response(const Request &)>;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Scripted";
    }
}

QByteArray responseHead(const Response &response, bool withBody)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\n";
    if (response.sendContentLength) {
        const qint64 length =
            response.contentLength >= 0 ? response.contentLength : response.body.size();
        head += "Content-Length: " + QByteArray::number(withBody ? length : 0) + "\r\n";
    }
    for (const auto &header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    return head + "Connection: close\r\n\r\n";
}

// One accepted connection: reads one request, then plays the scripted answer.
class Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, Handler handler)
        : m_socket(socket), m_handler(std::move(handler))
    {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &Connection::readRequest);
        connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(&m_trickle, &QTimer::timeout, this, &Connection::sendNextChunk);
    }
    ~Connection() override
    {
        m_socket->disconnect(this);
        m_socket->abort();
    }

private:
    void readRequest()
    {
        m_buffer += m_socket->readAll();
        if (m_answering)
            return;
        const int headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        Request request = parseHead(m_buffer.left(headEnd));
        const qint64 bodyLength = contentLength(request);
        if (m_buffer.size() - headEnd - 4 < bodyLength)
            return;
        request.body = m_buffer.mid(headEnd + 4, int(bodyLength));
        m_answering = true;
        m_withBody = request.verb != "HEAD";
        m_response = m_handler(request);
        QTimer::singleShot(qMax(0, m_response.delayMs), this, &Connection::answer);
    }

    static Request parseHead(const QByteArray &head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.verb = requestLine.value(0);
        QByteArray target = requestLine.value(1);
        if (target.startsWith('/'))
            target.remove(0, 1);
        request.path = QUrl::fromPercentEncoding(target);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append(
                    {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        return request;
    }

    static qint64 contentLength(const Request &request)
    {
        for (const auto &header : request.headers) {
            if (header.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                return header.second.toLongLong();
        }
        return 0;
    }

    void answer()
    {
        if (m_response.ending == Ending::NeverAnswer)
            return;
        m_socket->write(responseHead(m_response, m_withBody));
        if (!m_withBody) {
            m_socket->disconnectFromHost();
            return;
        }
        const QByteArray part = m_response.body.left(int(m_response.partBytes));
        switch (m_response.ending) {
        case Ending::Complete:
            m_socket->write(m_response.body);
            m_socket->disconnectFromHost();
            break;
        case Ending::NeverAnswer:
        case Ending::StallAfterHeaders:
            break;
        case Ending::StallAfterPart:
            m_socket->write(part);
            break;
        case Ending::CloseAfterPart:
            m_socket->write(part);
            m_socket->disconnectFromHost();
            break;
        case Ending::Trickle:
            m_trickle.start(qMax(1, m_response.trickleIntervalMs));
            break;
        }
    }

    void sendNextChunk()
    {
        m_socket->write(m_response.body.mid(m_sent, qMax(1, m_response.trickleChunk)));
        m_sent += qMax(1, m_response.trickleChunk);
        if (m_sent >= m_response.body.size()) {
            m_trickle.stop();
            m_socket->disconnectFromHost();
        }
    }

    QTcpSocket *m_socket;
    Handler m_handler;
    QByteArray m_buffer;
    bool m_answering = false;
    bool m_withBody = true;
    Response m_response;
    QTimer m_trickle;
    int m_sent = 0;
};

} // namespace

struct ScriptedServer::Private
{
    QTcpServer server;
    QHash<QString, Response> responses;
    QList<Request> requests;
    QList<QPointer<Connection>> connections;

    Response record(const Request &request)
    {
        requests.append(request);
        const QString withoutQuery = request.path.section(QLatin1Char('?'), 0, 0);
        if (responses.contains(request.path))
            return responses.value(request.path);
        if (responses.contains(withoutQuery))
            return responses.value(withoutQuery);
        Response notFound;
        notFound.status = 404;
        notFound.body = "not found";
        return notFound;
    }
};

ScriptedServer::ScriptedServer(QObject *parent) : QObject(parent), d(new Private)
{
    connect(&d->server, &QTcpServer::newConnection, this, [this] {
        d->connections.removeAll(nullptr);
        while (QTcpSocket *socket = d->server.nextPendingConnection()) {
            auto *connection = new Connection(
                socket, [this](const Request &request) { return d->record(request); });
            d->connections.append(connection);
        }
    });
}

ScriptedServer::~ScriptedServer()
{
    d->server.close();
    for (const QPointer<Connection> &connection : qAsConst(d->connections))
        delete connection.data();
    delete d;
}

bool ScriptedServer::listen()
{
    return d->server.listen(QHostAddress::LocalHost, 0);
}

quint16 ScriptedServer::port() const
{
    return d->server.serverPort();
}

QString ScriptedServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port()) + path;
}

void ScriptedServer::setResponse(const QString &path, const Response &response)
{
    d->responses.insert(path, response);
}

int ScriptedServer::requestCount(const QString &path) const
{
    return int(std::count_if(d->requests.cbegin(), d->requests.cend(),
                             [&path](const Request &request) { return request.path == path; }));
}

QStringList ScriptedServer::requestedPaths() const
{
    QStringList paths;
    for (const Request &request : qAsConst(d->requests))
        paths.append(request.path);
    return paths;
}

QList<ScriptedServer::Request> ScriptedServer::requests() const
{
    return d->requests;
}
