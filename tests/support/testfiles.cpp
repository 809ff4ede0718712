#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QVector>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.setPermissions(file.permissions() | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}

bool writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes)
{
    return writeFile(QDir(dir).absoluteFilePath(relativePath), bytes);
}

bool copyExecutable(const QString &from, const QString &to, const QByteArray &suffix)
{
    const QByteArray bytes = readFile(from);
    // A new file: the one there may be read-only or a program still running.
    QFile::remove(to);
    return !bytes.isEmpty() && writeFile(to, bytes + suffix) &&
           QFile::setPermissions(to, QFile::permissions(from) | QFileDevice::ExeOwner |
                                         QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(dir).relativeFilePath(it.next()));
    files.sort();
    return files;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QVector<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}
