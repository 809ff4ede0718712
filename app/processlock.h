#pragma once

#include <QString>

// Where named shared memory can outlive a killed holder (System V), an exclusive flock(2) on
// a file: the kernel releases it when its holder ends, however it ends, so no state on disk
// can outlive the holder and block later runs. Where the segment dies with its last holder
// (Windows) no lock is needed.
class ProcessLock
{
public:
    enum class Result { Acquired, HeldElsewhere, Unusable, NotNeeded };

    explicit ProcessLock(const QString &path);
    ~ProcessLock();
    ProcessLock(const ProcessLock &) = delete;
    ProcessLock &operator=(const ProcessLock &) = delete;

    Result tryLock();

private:
    bool holdsNamedFile(int fd) const;

    QString m_path;
    int m_fd = -1;
};
