// The file layer on Windows, through the wide-character API only, so that folders whose
// names lie outside the ANSI code page work. A file that another process holds open
// without delete sharing cannot be renamed or removed: such calls are retried with a
// growing pause, about five seconds in all, before they fail.
#include "fileops.h"

#include "fileops_p.h"
#include "fileops_win_p.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace fileops {

namespace {

bool inUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// Takes the read-only attribute from `nativePath`; true when it had one and lost it.
bool clearReadOnly(const QString &nativePath, DWORD *attributes)
{
    const DWORD current = GetFileAttributesW(wide(nativePath));
    if (current == INVALID_FILE_ATTRIBUTES || !(current & FILE_ATTRIBUTE_READONLY))
        return false;
    *attributes = current;
    return SetFileAttributesW(wide(nativePath), current & ~FILE_ATTRIBUTE_READONLY) != 0;
}

// Calls `operation` until it succeeds, fails for another reason than a file in use, or
// about five seconds have passed. Access is also denied to a read-only `readOnlyPath`: that
// is no file in use, so its attribute goes at once, and comes back when all fails.
template <typename Operation>
bool retryWhileInUse(Operation operation, const QString &readOnlyPath = QString())
{
    static const DWORD pausesMs[] = {50, 100, 200, 400, 800, 1200, 1200, 1200};
    DWORD attributes = 0;
    bool cleared = false;
    bool done = operation();
    for (DWORD pause : pausesMs) {
        if (done)
            break;
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED && !cleared && !readOnlyPath.isEmpty() &&
            clearReadOnly(readOnlyPath, &attributes)) {
            cleared = true;
            done = operation();
            continue;
        }
        if (!inUse(error))
            break;
        Sleep(pause);
        done = operation();
    }
    if (!done && cleared)
        SetFileAttributesW(wide(readOnlyPath), attributes); // as good as it gets after a failure
    return done;
}

bool flushHandleOf(const QString &nativePath, DWORD access, DWORD flags)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Another process may hold the file without write sharing for a moment.
    const bool opened = retryWhileInUse([&] {
        handle = CreateFileW(wide(nativePath), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    if (!opened)
        return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
}

} // namespace

bool replace(const QString &from, const QString &to)
{
    const QString source = native(from);
    const QString target = native(to);
    const bool moved = retryWhileInUse(
        [&] {
            return MoveFileExW(wide(source), wide(target),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        },
        target);
    // Where both names are links of one file the move may leave the source; it must go.
    return moved && (kindOf(from) == Kind::Missing || remove(from));
}

bool createLink(const QString &from, const QString &to)
{
    // Refused off NTFS and across volumes; the caller then copies.
    return CreateHardLinkW(wide(native(to)), wide(native(from)), nullptr) != 0;
}

bool remove(const QString &path)
{
    const QString target = native(path);
    const Kind kind = kindOf(path);
    if (kind == Kind::Folder)
        return false;
    if (kind == Kind::Missing)
        return true;
    return retryWhileInUse(
        [&] { return DeleteFileW(wide(target)) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND; },
        target);
}

bool removeEmptyFolder(const QString &path)
{
    return RemoveDirectoryW(wide(native(path))) != 0;
}

bool flushFile(const QString &path)
{
    return flushHandleOf(native(path), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
}

bool createNewFile(QFile &file)
{
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
}

bool flushOpenFile(QFile &file)
{
    return flushWritten(file);
}

bool copyPermissions(const QString &from, const QString &to)
{
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = GetFileAttributesW(wide(native(from)));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD copied = attributes & kept;
    return SetFileAttributesW(wide(native(to)), copied ? copied : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool denyOthersWrite(const QString &)
{
    return true; // the copy has the entries its folder passes on
}

bool syncFolder(const QString &)
{
    // MOVEFILE_WRITE_THROUGH already made each rename durable; NTFS has no folder flush.
    return true;
}

// NTFS has no flush of a whole volume for a program without administrator rights: each new
// file was flushed by its handle before its rename (flushWritten), and renames are journaled.
// A file found in the cache was flushed so by the run that fetched it.
bool flushFiles(const QString &, const QStringList &, QString *)
{
    return true;
}

bool flushWritten(QFile &file)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

void startWriteBack(QFile &, qint64, qint64)
{
    // No such hint without administrator rights; the flush writes it all.
}

bool openSequential(QFile &file)
{
    const HANDLE handle = CreateFileW(wide(native(file.fileName())), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    return false;
}

} // namespace fileops
