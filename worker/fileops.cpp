// The parts of the file layer that Qt already makes portable; the system calls are in
// fileops_posix.cpp and fileops_win.cpp.
#include "fileops.h"

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

bool copyFlushed(const QString &from, const QString &to)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    const bool copied = copyContent(source, target);
    target.close();
    if (copied && flushFile(to))
        return true;
    remove(to);
    return false;
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + temporarySuffix();
    remove(temporary);
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
    remove(copyTemp);
    if (!copyFlushed(from, copyTemp))
        return false;
    if (exists(to) || !replace(copyTemp, to)) {
        remove(copyTemp);
        return false;
    }
    return true;
}

} // namespace fileops
