#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <windows.h>

// Shared by the Windows parts of the file layer.
namespace fileops {

inline const wchar_t *wide(const QString &nativePath)
{
    return reinterpret_cast<const wchar_t *>(nativePath.utf16());
}

// Absolute, with backslashes; a long path gets the prefix that lifts the MAX_PATH limit.
inline QString native(const QString &path)
{
    const QString absolute = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (absolute.size() < MAX_PATH - 12 || absolute.startsWith(QLatin1String("\\\\?\\")))
        return absolute;
    if (absolute.startsWith(QLatin1String("\\\\")))
        return QStringLiteral("\\\\?\\UNC\\") + absolute.mid(2);
    return QStringLiteral("\\\\?\\") + absolute;
}

} // namespace fileops
