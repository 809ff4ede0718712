#include "publishfiles.h"

#include <QDir>
#include <QFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush() && file.setPermissions(PublicFile);
}

// Unlike QFile::rename this replaces an existing file in one step. On Windows the C library's
// rename refuses an existing target and takes ANSI names; the wide API does neither.
bool renamePath(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(nativeFrom.utf16()),
                       reinterpret_cast<const wchar_t *>(nativeTo.utf16()),
                       MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

bool replaceFile(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + QStringLiteral(".publishing");
    if (writeAll(temporary, bytes) && renamePath(temporary, path))
        return true;
    QFile::remove(temporary);
    return false;
}
