// The file layer on POSIX systems: rename(2) replaces a name in one step, link(2) gives a
// file a second name, fsync(2) on a file or a folder makes it durable.
#include "fileops.h"

#include "fileops_p.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileops {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool fsyncPath(const QString &path, int flags)
{
    int fd;
    do {
        fd = ::open(native(path).constData(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    ::close(fd);
    return result == 0;
}

} // namespace

Kind kindOf(const QString &path)
{
    struct stat status;
    if (::lstat(native(path).constData(), &status) != 0)
        return Kind::Missing;
    if (S_ISREG(status.st_mode))
        return Kind::File;
    if (S_ISDIR(status.st_mode))
        return Kind::Folder;
    return Kind::Other;
}

bool replace(const QString &from, const QString &to)
{
    const QByteArray source = native(from);
    const QByteArray target = native(to);
    if (::rename(source.constData(), target.constData()) != 0)
        return false;
    // rename(2) does nothing when both names are links of one file; `from` must go.
    struct stat left, right;
    if (::lstat(source.constData(), &left) == 0 && ::lstat(target.constData(), &right) == 0 &&
        left.st_dev == right.st_dev && left.st_ino == right.st_ino)
        return ::unlink(source.constData()) == 0;
    return true;
}

bool createLink(const QString &from, const QString &to)
{
    return ::link(native(from).constData(), native(to).constData()) == 0;
}

bool remove(const QString &path)
{
    // A name too long for the file system, or below a file, cannot exist either.
    return ::unlink(native(path).constData()) == 0 || errno == ENOENT || errno == ENOTDIR ||
           errno == ENAMETOOLONG;
}

bool removeEmptyFolder(const QString &path)
{
    return ::rmdir(native(path).constData()) == 0;
}

bool flushFile(const QString &path)
{
    return fsyncPath(path, O_RDONLY);
}

bool createNewFile(QFile &file)
{
    int fd;
    do {
        fd = ::open(native(file.fileName()).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    ::unlink(native(file.fileName()).constData());
    return false;
}

bool flushOpenFile(QFile &file)
{
    int result;
    do {
        result = ::fsync(file.handle());
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool copyPermissions(const QString &from, const QString &to)
{
    struct stat status;
    return ::stat(native(from).constData(), &status) == 0 &&
           ::chmod(native(to).constData(), status.st_mode & 07777) == 0;
}

bool isPrivateFile(const QString &path)
{
    struct stat status;
    return ::lstat(native(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool denyOthersWrite(const QString &path)
{
    struct stat status;
    return ::lstat(native(path).constData(), &status) == 0 &&
           ::chmod(native(path).constData(), status.st_mode & 07777 & ~(S_IWGRP | S_IWOTH)) == 0;
}

bool syncFolder(const QString &path)
{
    return fsyncPath(path, O_RDONLY | O_DIRECTORY);
}

bool flushFiles(const QString &folder, const QStringList &files, QString *failed)
{
    if (files.isEmpty())
        return true;
#ifdef Q_OS_LINUX
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        *failed = folder;
    return synced;
#else
    for (const QString &file : files) {
        if (!flushFile(file) || !syncFolder(QFileInfo(file).absolutePath())) {
            *failed = file;
            return false;
        }
    }
    return true;
#endif
}

bool flushWritten(QFile &)
{
    return true; // flushFiles makes the whole cache durable at once
}

void startWriteBack(QFile &file, qint64 from, qint64 to)
{
#ifdef Q_OS_LINUX
    // A hint: a failure only leaves more for the flush to do.
    ::sync_file_range(file.handle(), from, to - from, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(file);
    Q_UNUSED(from);
    Q_UNUSED(to);
#endif
}

bool openSequential(QFile &file)
{
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    // A hint: the system reads further ahead; a failure changes nothing else.
    ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool isDiskFile(const QString &)
{
    return true; // kindOf already told a regular file from devices, FIFOs and sockets
}

bool isRunningImage(const QString &)
{
    // A running program's file can be renamed, replaced and removed here.
    return false;
}

QString storedName(const QString &path)
{
    return exists(path) ? QFileInfo(path).fileName() : QString();
}

bool windowsNameRules()
{
    return false;
}

QString executableSuffix()
{
    return QString();
}

} // namespace fileops
