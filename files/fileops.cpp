// The parts of the file layer that Qt already makes portable; the system calls are in
// fileops_posix.cpp and fileops_win.cpp.
#include "fileops.h"

#include "fileops_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace fileops {

namespace {

constexpr qint64 CopyChunkBytes = 1024 * 1024;

bool copyContent(QFile &source, QFile &target)
{
    QByteArray buffer(int(CopyChunkBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), CopyChunkBytes);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (target.write(buffer.constData(), got) != got)
            return false;
    }
}

} // namespace

QString temporarySuffix()
{
    return QStringLiteral(".~nw");
}

bool isRegularFileInside(const QString &folder, const QString &relativePath)
{
    QString root = QDir::cleanPath(QDir(folder).absolutePath());
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    const QString path = QDir::cleanPath(root + relativePath);
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) ||
        relativePath.contains(QLatin1Char(':')) || !path.startsWith(root))
        return false;
    return kindOf(path) == Kind::File && isDiskFile(path);
}

bool copyFile(const QString &from, const QString &to)
{
    QFile source(from);
    QFile target(to);
    if (!openSequential(source) ||
        !target.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    // By path: a file opened from a native handle has no name to ask.
    const bool copied =
        copyContent(source, target) && target.setPermissions(QFile::permissions(from));
    target.close();
    if (!copied)
        remove(to);
    return copied;
}

bool copyFlushed(const QString &from, const QString &to)
{
    if (!copyFile(from, to))
        return false;
    if (flushFile(to))
        return true;
    remove(to);
    return false;
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + temporarySuffix();
    remove(temporary); // a left-over of an interrupted write; open() below fails if it stays
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || !flushFile(temporary) || !replace(temporary, path)) {
        remove(temporary);
        return false;
    }
    return syncFolder(QFileInfo(path).absolutePath());
}

bool linkOrCopy(const QString &from, const QString &to, const QString &copyTemp)
{
    if (exists(to))
        return false;
    if (createLink(from, to))
        return true;
    if (copyTemp.isEmpty())
        return copyFlushed(from, to);
    remove(copyTemp); // copyFlushed below fails if it stays
    if (!copyFlushed(from, copyTemp))
        return false;
    if (exists(to) || !replace(copyTemp, to)) {
        remove(copyTemp);
        return false;
    }
    return true;
}

} // namespace fileops
