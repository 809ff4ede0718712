#include "publishfiles.h"

#include "fileops.h"

#include <QFile>

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

bool renamePath(const QString &from, const QString &to)
{
    return fileops::replace(from, to);
}

bool replaceFile(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + QStringLiteral(".publishing");
    if (writeAll(temporary, bytes) && renamePath(temporary, path))
        return true;
    QFile::remove(temporary); // a left-over is replaced by the next publishing
    return false;
}
