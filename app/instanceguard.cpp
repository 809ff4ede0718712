#include "instanceguard.h"

#include <QCryptographicHash>
#include <QDir>

InstanceGuard::InstanceGuard(const QString &appDirPath)
    : m_segment(keyFor(appDirPath))
#ifndef Q_OS_WIN
      ,
      m_lock(lockPathFor(appDirPath))
#endif
{}

QString InstanceGuard::keyFor(const QString &appDirPath)
{
    return appDirPath + QStringLiteral("update_singleton");
}

#ifndef Q_OS_WIN
QString InstanceGuard::lockPathFor(const QString &appDirPath)
{
    const QByteArray name =
        QCryptographicHash::hash(keyFor(appDirPath).toUtf8(), QCryptographicHash::Sha1).toHex();
    return QDir::temp().absoluteFilePath(
        QStringLiteral("update_singleton_%1.lock").arg(QString::fromLatin1(name)));
}
#endif

bool InstanceGuard::acquire()
{
#ifndef Q_OS_WIN
    switch (m_lock.tryLock()) {
    case ProcessLock::Result::Acquired:
        // We hold the lock, so a segment that still exists was left by a killed updater.
        // Attaching and detaching again makes Qt remove it.
        if (m_segment.attach(QSharedMemory::ReadWrite))
            m_segment.detach();
        break;
    case ProcessLock::Result::HeldElsewhere:
        return false;
    case ProcessLock::Result::Unusable:
        break; // e.g. no temp folder: the segment alone decides
    }
#endif
    if (m_segment.attach(QSharedMemory::ReadWrite) ||
        m_segment.error() == QSharedMemory::AlreadyExists)
        return false;
    m_segment.create(1, QSharedMemory::ReadWrite);
    return true;
}
