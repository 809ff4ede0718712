// TinyProxy on Linux: a child process, killed by its PID.
#include "tinyproxy.h"

#include <QStandardPaths>

QString TinyProxy::program()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(
        QStringLiteral("tinyproxy"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

bool TinyProxy::launch(QString *error)
{
    m_process.start(program(), {QStringLiteral("-d"), QStringLiteral("-c"),
                                m_dir.filePath(QStringLiteral("tinyproxy.conf"))});
    if (!m_process.waitForStarted(5000)) {
        *error = m_process.errorString();
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

bool TinyProxy::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void TinyProxy::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}
