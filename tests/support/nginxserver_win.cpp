// NginxServer in the Windows build under Wine: nginx is a Linux program started through
// Wine, which gives no handle to it; its pid file stands in for the process.
#include "nginxserver.h"
#include "nginxserver_p.h"
#include "winehost.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace nginxserver;

QString nginxserver::program()
{
    for (const char *path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
        if (QFileInfo::exists(WineHost::windowsPath(QString::fromLatin1(path))))
            return QString::fromLatin1(path);
    }
    return QString();
}

bool nginxserver::workersRunAsRoot()
{
    return true; // Wine runs as the Linux user that started it; nginx ignores "user" otherwise
}

void NginxProcess::setupChildProcess()
{
    // Qt calls this on Unix only; here nginx is not even this process's child.
}

bool NginxServer::launch(QString *error)
{
    QFile::remove(m_prefix.filePath(QStringLiteral("nginx.pid")));
    const QString prefix = serverPath(m_prefix.path());
    if (!WineHost::startDetached(program(),
                                 {QStringLiteral("-p"), prefix, QStringLiteral("-c"),
                                  prefix + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                                  prefix + QStringLiteral("/error.log")})) {
        *error = QStringLiteral("nginx could not be started through Wine");
        return false;
    }
    // The master writes its pid file once its configuration is read and its port is bound.
    const QDeadlineTimer deadline(listenWaitMs);
    while (m_pid == 0 && !deadline.hasExpired()) {
        m_pid = readText(m_prefix.filePath(QStringLiteral("nginx.pid"))).trimmed().toLongLong();
        if (m_pid == 0)
            QTest::qWait(20);
    }
    if (m_pid == 0)
        *error = QStringLiteral("nginx wrote no pid file: %1")
                     .arg(readText(m_prefix.filePath(QStringLiteral("error.log"))));
    return m_pid != 0;
}

// nginx removes its pid file when it ends.
bool NginxServer::isRunning() const
{
    return m_pid != 0 && QFile::exists(m_prefix.filePath(QStringLiteral("nginx.pid")));
}

void NginxServer::signal(const char *name, int timeoutMs)
{
    WineHost::run(QStringLiteral("/bin/kill"),
                  {QStringLiteral("-") + QString::fromLatin1(name), QString::number(m_pid)});
    const QDeadlineTimer deadline(timeoutMs);
    while (isRunning() && !deadline.hasExpired())
        QTest::qWait(20);
    if (QByteArray(name) == "KILL") // a killed master leaves its pid file behind
        QFile::remove(m_prefix.filePath(QStringLiteral("nginx.pid")));
}

QString NginxServer::serverPath(const QString &path)
{
    return WineHost::unixPath(path);
}
