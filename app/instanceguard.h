#pragma once

#include <QSharedMemory>
#include <QString>

#ifndef Q_OS_WIN
#include "processlock.h"
#endif

// Keeps a second updater of the same folder from running. The key is the program's folder
// path followed directly by "update_singleton".
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &appDirPath);

    // False when another live updater holds the guard.
    bool acquire();

    static QString keyFor(const QString &appDirPath);
#ifndef Q_OS_WIN
    static QString lockPathFor(const QString &appDirPath);
#endif

private:
    QSharedMemory m_segment;
#ifndef Q_OS_WIN
    // A System V segment outlives a killed owner; the kernel drops this lock with the
    // process, so a segment without a live lock holder is an orphan.
    ProcessLock m_lock;
#endif
};
