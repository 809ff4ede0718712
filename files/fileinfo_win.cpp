// What the file layer asks of a file on Windows: its kind, its owner, its stored name, and
// whether it is a disk file or the running updater itself.
#include "fileops.h"

#include "fileops_p.h"
#include "fileops_win_p.h"

#include <QCoreApplication>

#include <aclapi.h>

namespace fileops {

Kind kindOf(const QString &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(native(path)), GetFileExInfoStandard, &data))
        return Kind::Missing;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Kind::Other;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Kind::Folder;
    return Kind::File;
}

// The owner only: a file the updater itself stored in the cache is its own; one that another
// user put there is not. Who else the folder's inherited entries let write it is not looked
// at (see the guide).
bool isPrivateFile(const QString &path)
{
    if (kindOf(path) != Kind::File)
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wide(native(path)), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool own = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size); // asks for the size only
        QByteArray user(int(size), Qt::Uninitialized);
        own = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
              EqualSid(owner, reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid);
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return own;
}

bool isDiskFile(const QString &path)
{
    HANDLE handle = CreateFileW(wide(native(path)), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
}

bool isRunningImage(const QString &path)
{
    const QString running = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    return QFileInfo(path).absoluteFilePath().compare(running, Qt::CaseInsensitive) == 0;
}

QString storedName(const QString &path)
{
    if (path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')))
        return QString(); // a pattern, which FindFirstFileW would expand
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(native(path)), &found);
    if (search == INVALID_HANDLE_VALUE)
        return QString();
    FindClose(search);
    return QString::fromWCharArray(found.cFileName);
}

bool windowsNameRules()
{
    return true;
}

QString executableSuffix()
{
    return QStringLiteral(".exe");
}

} // namespace fileops
