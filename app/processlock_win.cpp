#include "processlock.h"

// Windows removes a named shared memory segment with its last holder: the segment alone
// guards, and no file is needed beside it.
ProcessLock::ProcessLock(const QString &path) : m_path(path) {}

ProcessLock::~ProcessLock() = default;

ProcessLock::Result ProcessLock::tryLock()
{
    return Result::NotNeeded;
}

bool ProcessLock::holdsNamedFile(int) const
{
    return false;
}
