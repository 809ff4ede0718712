#include "instanceguard.h"

#include <QCryptographicHash>
#include <QDir>

InstanceGuard::InstanceGuard(const QString &appDirPath)
    : m_segment(keyFor(appDirPath)), m_lock(lockPathFor(appDirPath))
{}

QString InstanceGuard::keyFor(const QString &appDirPath)
{
    return appDirPath + QStringLiteral("update_singleton");
}

QString InstanceGuard::lockPathFor(const QString &appDirPath)
{
    const QByteArray name =
        QCryptographicHash::hash(keyFor(appDirPath).toUtf8(), QCryptographicHash::Sha1).toHex();
    return QDir::temp().absoluteFilePath(
        QStringLiteral("update_singleton_%1.lock").arg(QString::fromLatin1(name)));
}

bool InstanceGuard::acquire()
{
    switch (m_lock.tryLock()) {
    case ProcessLock::Result::Acquired:
        // We hold the lock, so a segment that still exists was left by a killed updater.
        // Attaching and detaching again makes Qt remove it.
        if (m_segment.attach(QSharedMemory::ReadWrite))
            m_segment.detach();
        break;
    case ProcessLock::Result::HeldElsewhere:
        return false;
    case ProcessLock::Result::Unusable: // e.g. no temp folder: the segment alone decides
    case ProcessLock::Result::NotNeeded:
        break;
    }
    if (m_segment.attach(QSharedMemory::ReadWrite) ||
        m_segment.error() == QSharedMemory::AlreadyExists)
        return false;
    // Not checked: a segment that cannot be made guards nothing, and the run goes on as the
    // only one that got this far.
    m_segment.create(1, QSharedMemory::ReadWrite);
    return true;
}
