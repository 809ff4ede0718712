// TinyProxy in the Windows build under Wine: a Linux program started through Wine, which
// gives no handle to it; its pid file stands in for the process.
#include "tinyproxy.h"

#include "testfiles.h"
#include "winehost.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

QString TinyProxy::program()
{
    for (const char *path : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"}) {
        if (QFileInfo::exists(WineHost::windowsPath(QString::fromLatin1(path))))
            return QString::fromLatin1(path);
    }
    return QString();
}

bool TinyProxy::launch(QString *error)
{
    const QString pidFile = m_dir.filePath(QStringLiteral("tinyproxy.pid"));
    QFile::remove(pidFile);
    if (!WineHost::startDetached(program(), {QStringLiteral("-d"), QStringLiteral("-c"),
                                             serverPath(QStringLiteral("tinyproxy.conf"))})) {
        *error = QStringLiteral("tinyproxy could not be started through Wine");
        return false;
    }
    const QDeadlineTimer deadline(5000);
    while (m_pid == 0 && !deadline.hasExpired()) {
        m_pid = readFile(pidFile).trimmed().toLongLong();
        if (m_pid == 0)
            QTest::qWait(20);
    }
    if (m_pid == 0)
        *error = QStringLiteral("tinyproxy wrote no pid file");
    return m_pid != 0;
}

// The pid file stays after a kill; it is removed then.
bool TinyProxy::isRunning() const
{
    return m_pid != 0 && QFile::exists(m_dir.filePath(QStringLiteral("tinyproxy.pid")));
}

void TinyProxy::kill()
{
    WineHost::run(QStringLiteral("/bin/kill"), {QStringLiteral("-KILL"), QString::number(m_pid)});
    QFile::remove(m_dir.filePath(QStringLiteral("tinyproxy.pid")));
}
