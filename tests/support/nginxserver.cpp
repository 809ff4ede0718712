#include "nginxserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const int startAttempts = 3;
const int listenWaitMs = 5000;

QString nginxProgram()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

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

void NginxProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
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

void NginxServer::setPort(quint16 port)
{
    m_port = port;
}

bool NginxServer::start(QString *error)
{
    QString ignored;
    QString &message = error ? *error : ignored;
    if (m_process.state() != QProcess::NotRunning)
        return true;
    const QString program = nginxProgram();
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
        m_process.start(program,
                        {QStringLiteral("-p"), m_prefix.path(), QStringLiteral("-c"),
                         m_prefix.filePath(QStringLiteral("nginx.conf")), QStringLiteral("-e"),
                         m_prefix.filePath(QStringLiteral("error.log"))});
        if (!m_process.waitForStarted(listenWaitMs)) {
            message = m_process.errorString();
            return false;
        }
        m_pid = m_process.processId();
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
    const QString prefix = m_prefix.path();
    QString config = QStringLiteral("daemon off;\nworker_processes 1;\n");
    if (geteuid() == 0)
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
    config += QStringLiteral("    server {\n        listen 127.0.0.1:%1;\n        root \"%2\";\n")
                  .arg(m_port)
                  .arg(m_root);
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
        if (m_process.state() == QProcess::NotRunning)
            break;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200) && m_process.state() == QProcess::Running)
            return true;
        m_process.waitForFinished(50);
    }
    *error = QStringLiteral("nginx did not listen on port %1: %2 %3")
                 .arg(m_port)
                 .arg(QString::fromLocal8Bit(m_process.readAll()),
                      readText(m_prefix.filePath(QStringLiteral("error.log"))));
    return false;
}

void NginxServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Graceful first; a transfer that does not end in time is cut by a fast shutdown.
    ::kill(pid_t(m_pid), SIGQUIT);
    if (!m_process.waitForFinished(3000)) {
        ::kill(pid_t(m_pid), SIGTERM);
        if (!m_process.waitForFinished(2000)) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    m_pid = 0;
}

QString NginxServer::url(const QString &path) const
{
    const QString relative = path.startsWith(QLatin1Char('/')) ? path.mid(1) : path;
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port) + relative;
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
