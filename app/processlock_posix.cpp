#include "processlock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int OpenAttempts = 16;

} // namespace

ProcessLock::ProcessLock(const QString &path) : m_path(path) {}

// The file goes while still locked, so that a later holder never locks a removed file
// without noticing (see holdsNamedFile).
ProcessLock::~ProcessLock()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

ProcessLock::Result ProcessLock::tryLock()
{
    if (m_fd >= 0)
        return Result::Acquired;
    const QByteArray name = QFile::encodeName(m_path);
    // Read-only: the updater of another user can lock a file that it does not own.
    // Close-on-exec: the host that we start must not inherit the lock.
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return Result::Unusable;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            return held ? Result::HeldElsewhere : Result::Unusable;
        }
        if (holdsNamedFile(fd)) {
            m_fd = fd;
            return Result::Acquired;
        }
        ::close(fd); // its holder removed it between our open and our lock: once more
    }
    return Result::Unusable;
}

bool ProcessLock::holdsNamedFile(int fd) const
{
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 &&
           ::stat(QFile::encodeName(m_path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}
