#pragma once

#include "processlock.h"

#include <QSharedMemory>
#include <QString>

// Keeps a second updater of the same folder from running. The key is the program's folder
// path followed directly by "update_singleton".
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &appDirPath);

    // False when another live updater holds the guard.
    bool acquire();

    static QString keyFor(const QString &appDirPath);
    static QString lockPathFor(const QString &appDirPath);

private:
    QSharedMemory m_segment;
    // A System V segment outlives a killed owner; the kernel drops this lock with the
    // process, so a segment without a live lock holder is an orphan.
    ProcessLock m_lock;
};
