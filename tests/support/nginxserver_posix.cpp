// NginxServer on Linux: nginx is a child process, stopped by signals to its PID.
#include "nginxserver.h"
#include "nginxserver_p.h"

#include <QStandardPaths>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace nginxserver;

QString nginxserver::program()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

bool nginxserver::workersRunAsRoot()
{
    return geteuid() == 0;
}

void NginxProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool NginxServer::launch(QString *error)
{
    m_process.start(program(),
                    {QStringLiteral("-p"), m_prefix.path(), QStringLiteral("-c"),
                     m_prefix.filePath(QStringLiteral("nginx.conf")), QStringLiteral("-e"),
                     m_prefix.filePath(QStringLiteral("error.log"))});
    if (!m_process.waitForStarted(listenWaitMs)) {
        *error = m_process.errorString();
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

bool NginxServer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void NginxServer::signal(const char *name, int timeoutMs)
{
    const QByteArray signalName(name);
    if (signalName == "KILL") {
        m_process.kill();
    } else {
        ::kill(pid_t(m_pid), signalName == "QUIT" ? SIGQUIT : SIGTERM);
    }
    m_process.waitForFinished(timeoutMs);
}

QString NginxServer::serverPath(const QString &path)
{
    return path;
}
