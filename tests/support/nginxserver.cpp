#include "nginxserver.h"
#include "nginxserver_p.h"
#include "toolrun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

using namespace nginxserver;

namespace {

const int startAttempts = 3;

// nginx writes bytes outside printable ASCII, and the quote, as \xHH in its access log.
QByteArray unescapeLogText(const QByteArray &text)
{
    QByteArray result;
    for (int i = 0; i < text.size(); ++i) {
        bool ok = false;
        const int value = text.mid(i + 2, 2).toInt(&ok, 16);
        if (text.at(i) == '\\' && text.mid(i + 1, 1) == "x" && ok && text.size() >= i + 4) {
            result += char(value);
            i += 3;
        } else {
            result += text.at(i);
        }
    }
    return result;
}

} // namespace

QString nginxserver::readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

NginxServer::NginxServer(const QString &root) : m_root(root)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

NginxServer::~NginxServer()
{
    stop();
}

void NginxServer::setServerDirectives(const QString &text)
{
    m_serverDirectives = text;
}

void NginxServer::setHttpDirectives(const QString &text)
{
    m_httpDirectives = text;
}

void NginxServer::setTls(const QString &certificatePath, const QString &keyPath)
{
    m_certificatePath = certificatePath;
    m_keyPath = keyPath;
}

void NginxServer::setPort(quint16 port)
{
    m_port = port;
}

bool NginxServer::start(QString *error)
{
    QString ignored;
    QString &message = error ? *error : ignored;
    if (isRunning())
        return true;
    const QString program = nginxserver::program();
    if (!m_prefix.isValid() || program.isEmpty()) {
        message = QStringLiteral("no nginx program or prefix folder");
        return false;
    }
    // The workers need to pass through the prefix to reach their temporary folders.
    QFile::setPermissions(m_prefix.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup);
    QDir(m_prefix.path()).mkpath(QStringLiteral("tmp"));
    const bool portFixed = m_port != 0;
    for (int attempt = 0; attempt < startAttempts; ++attempt) {
        if (!portFixed)
            m_port = freePort();
        if (!writeConfig(&message))
            return false;
        if (!launch(&message))
            return false;
        if (waitUntilListening(&message))
            return true;
        stop();
        if (portFixed)
            break;
    }
    return false;
}

bool NginxServer::writeConfig(QString *error) const
{
    const QString prefix = serverPath(m_prefix.path());
    QString config = QStringLiteral("daemon off;\nworker_processes 1;\n");
    if (workersRunAsRoot())
        config += QStringLiteral("user root root;\n");
    config += QStringLiteral("worker_shutdown_timeout 1s;\n"
                             "pid \"%1/nginx.pid\";\n"
                             "error_log \"%1/error.log\" warn;\n"
                             "events { worker_connections 64; }\n"
                             "http {\n"
                             "    access_log \"%1/access.log\";\n"
                             "    client_body_temp_path \"%1/tmp/body\";\n"
                             "    proxy_temp_path \"%1/tmp/proxy\";\n"
                             "    fastcgi_temp_path \"%1/tmp/fastcgi\";\n"
                             "    uwsgi_temp_path \"%1/tmp/uwsgi\";\n"
                             "    scgi_temp_path \"%1/tmp/scgi\";\n"
                             "    default_type application/octet-stream;\n"
                             "    sendfile on;\n")
                  .arg(prefix);
    config += m_httpDirectives + QLatin1Char('\n');
    config += QStringLiteral("    server {\n        listen 127.0.0.1:%1%2;\n        root \"%3\";\n")
                  .arg(m_port)
                  .arg(m_certificatePath.isEmpty()
                           ? QString()
                           : (m_http2 ? QStringLiteral(" ssl http2") : QStringLiteral(" ssl")))
                  .arg(serverPath(m_root));
    if (!m_certificatePath.isEmpty())
        config += QStringLiteral("        ssl_certificate \"%1\";\n"
                                 "        ssl_certificate_key \"%2\";\n")
                      .arg(serverPath(m_certificatePath), serverPath(m_keyPath));
    config += m_serverDirectives + QStringLiteral("\n    }\n}\n");

    QFile file(m_prefix.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool NginxServer::waitUntilListening(QString *error)
{
    const QDeadlineTimer deadline(listenWaitMs);
    while (!deadline.hasExpired()) {
        if (!isRunning())
            break;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200) && isRunning())
            return true;
        QTest::qWait(50);
    }
    *error = QStringLiteral("nginx did not listen on port %1: %2 %3")
                 .arg(m_port)
                 .arg(QString::fromLocal8Bit(m_process.readAll()),
                      readText(m_prefix.filePath(QStringLiteral("error.log"))));
    return false;
}

void NginxServer::stop()
{
    if (!isRunning())
        return;
    // Graceful first; a transfer that does not end in time is cut by a fast shutdown.
    signal("QUIT", 3000);
    if (isRunning())
        signal("TERM", 2000);
    if (isRunning())
        signal("KILL", 1000);
    m_pid = 0;
}

bool NginxServer::reload()
{
    return isRunning() &&
           runTool(QStringLiteral("kill"), {QStringLiteral("-HUP"), QString::number(m_pid)})
                   .exitCode == 0;
}

bool NginxServer::killWorkers()
{
    return isRunning() &&
           runTool(QStringLiteral("pkill"),
                   {QStringLiteral("-KILL"), QStringLiteral("-P"), QString::number(m_pid)})
                   .exitCode == 0;
}

QString NginxServer::url(const QString &path) const
{
    const QString relative = path.startsWith(QLatin1Char('/')) ? path.mid(1) : path;
    const QString scheme =
        m_certificatePath.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2/").arg(scheme).arg(m_port) + relative;
}

QStringList NginxServer::requestedPaths() const
{
    QStringList paths;
    for (const LoggedRequest &request : loggedRequests())
        paths.append(request.path);
    return paths;
}

QList<NginxServer::LoggedRequest> NginxServer::loggedRequests() const
{
    QFile log(m_prefix.filePath(QStringLiteral("access.log")));
    QList<LoggedRequest> requests;
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray &line : log.readAll().split('\n')) {
        // Combined format: ... "VERB TARGET PROTOCOL" status body_bytes_sent ...
        const int open = line.indexOf('"');
        const int close = line.indexOf('"', open + 1);
        if (open < 0 || close < 0)
            continue;
        const QList<QByteArray> request = line.mid(open + 1, close - open - 1).split(' ');
        if (request.size() < 2)
            continue;
        const QList<QByteArray> answer = line.mid(close + 1).trimmed().split(' ');
        LoggedRequest logged;
        logged.path = QUrl::fromPercentEncoding(unescapeLogText(request.at(1)));
        logged.protocol = QString::fromLatin1(request.value(2));
        logged.status = answer.value(0).toInt();
        logged.bodyBytesSent = answer.value(1).toLongLong();
        requests.append(logged);
    }
    return requests;
}

bool NginxServer::waitForRequests(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (requestedPaths().size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

quint16 NginxServer::freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}
