#include "instanceguard.h"

#include <QCryptographicHash>
#include <QDir>

InstanceGuard::InstanceGuard(const QString &appDirPath) : m_segment(keyFor(appDirPath))
{
#ifndef Q_OS_WIN
    const QByteArray name =
        QCryptographicHash::hash(keyFor(appDirPath).toUtf8(), QCryptographicHash::Sha1).toHex();
    m_lock = std::make_unique<QLockFile>(QDir::temp().absoluteFilePath(
        QStringLiteral("update_singleton_%1.lock").arg(QString::fromLatin1(name))));
    // Only a dead holder makes the lock stale, never its age: updates can take long.
    m_lock->setStaleLockTime(0);
#endif
}

QString InstanceGuard::keyFor(const QString &appDirPath)
{
    return appDirPath + QStringLiteral("update_singleton");
}

bool InstanceGuard::acquire()
{
#ifndef Q_OS_WIN
    if (m_lock->tryLock(0)) {
        // We hold the lock, so a segment that still exists was left by a killed updater.
        // Attaching and detaching again makes Qt remove it.
        if (m_segment.attach(QSharedMemory::ReadWrite))
            m_segment.detach();
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        return false;
    }
    // Without a usable lock file (e.g. no temp folder) the segment alone decides.
#endif
    if (m_segment.attach(QSharedMemory::ReadWrite) ||
        m_segment.error() == QSharedMemory::AlreadyExists)
        return false;
    m_segment.create(1, QSharedMemory::ReadWrite);
    return true;
}
