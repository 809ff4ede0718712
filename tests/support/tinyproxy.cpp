#include "tinyproxy.h"

#include "testfiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

namespace {

const int startWaitMs = 5000;

} // namespace

TinyProxy::TinyProxy(Mode mode) : m_mode(mode)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

TinyProxy::~TinyProxy()
{
    stop();
}

QString TinyProxy::serverPath(const QString &name) const
{
    return NginxServer::serverPath(m_dir.filePath(name));
}

bool TinyProxy::writeConfig(QString *error) const
{
    // As root, without "User", it keeps running as root and can write its log here.
    QString config = QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 200\n"
                                    "Allow 127.0.0.1\nLogLevel Connect\n"
                                    "PidFile \"%2\"\nLogFile \"%3\"\n")
                         .arg(m_port)
                         .arg(serverPath(QStringLiteral("tinyproxy.pid")),
                              serverPath(QStringLiteral("tinyproxy.log")));
    if (m_mode == Mode::Refusing) {
        if (!writeFile(m_dir.filePath(QStringLiteral("filter")), "^127\\.0\\.0\\.1$\n")) {
            *error = QStringLiteral("cannot write the filter");
            return false;
        }
        config += QStringLiteral("FilterType ere\nFilter \"%1\"\n")
                      .arg(serverPath(QStringLiteral("filter")));
    } else if (m_mode == Mode::Credentials) {
        config +=
            QStringLiteral("BasicAuth %1 %2\n").arg(QLatin1String(User), QLatin1String(Password));
    }
    if (!writeFile(m_dir.filePath(QStringLiteral("tinyproxy.conf")), config.toUtf8())) {
        *error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

bool TinyProxy::start(QString *error)
{
    if (program().isEmpty()) {
        *error = QStringLiteral("tinyproxy is not installed (package tinyproxy-bin)");
        return false;
    }
    m_port = NginxServer::freePort();
    if (!m_dir.isValid() || !writeConfig(error) || !launch(error))
        return false;
    const QDeadlineTimer deadline(startWaitMs);
    while (!deadline.hasExpired() && isRunning()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    *error = QStringLiteral("tinyproxy did not listen on port %1: %2")
                 .arg(m_port)
                 .arg(QString::fromLocal8Bit(readFile(m_dir.filePath("tinyproxy.log"))));
    stop();
    return false;
}

// Killed at once: on SIGTERM it ends only after its select() times out, up to 2 s.
void TinyProxy::stop()
{
    if (isRunning())
        kill();
    m_pid = 0;
}

QString TinyProxy::url(bool withCredentials) const
{
    const QString credentials =
        withCredentials ? QStringLiteral("%1:%2@").arg(QLatin1String(User), QLatin1String(Password))
                        : QString();
    return QStringLiteral("http://") + credentials + QStringLiteral("127.0.0.1:") +
           QString::number(m_port);
}

QStringList TinyProxy::requests() const
{
    // "CONNECT   Dec 09 11:08:18.398 [PID]: Request (file descriptor 5): GET http://... HTTP/1.1"
    static const QRegularExpression request(
        QStringLiteral("\\]: Request \\([^)]*\\): (\\S+ \\S+)"));
    QStringList found;
    const QString log =
        QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("tinyproxy.log"))));
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = request.match(line);
        if (match.hasMatch())
            found.append(match.captured(1));
    }
    return found;
}
