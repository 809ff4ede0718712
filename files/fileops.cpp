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

// Bytes, then the flush, then the permissions: on Windows a read-only copy cannot be flushed
// through a write handle any more.
bool copyInto(const QString &from, const QString &to, bool flush)
{
    QFile source(from);
    QFile target(to);
    if (!openSequential(source) || !createNewFile(target))
        return false;
    bool copied = copyContent(source, target) && (!flush || flushOpenFile(target));
    target.close();
    copied = copied && copyPermissions(from, to);
    if (!copied)
        remove(to);
    return copied;
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
    return copyInto(from, to, false);
}

bool copyFlushed(const QString &from, const QString &to)
{
    return copyInto(from, to, true);
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

bool stagePrivately(const QString &from, const QString &to)
{
    if (exists(to))
        return false;
    if (isPrivateFile(from) && createLink(from, to))
        return true;
    if (!copyFlushed(from, to))
        return false;
    if (denyOthersWrite(to))
        return true;
    remove(to);
    return false;
}

bool removeTree(const QString &path)
{
    if (kindOf(path) != Kind::Folder)
        return remove(path);
    const QStringList names =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (!removeTree(path + QLatin1Char('/') + name))
            return false;
    }
    return removeEmptyFolder(path);
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
