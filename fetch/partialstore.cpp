#include "partialstore.h"

#include "fileops.h"
#include "updatenames.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr qint64 InfoLimitBytes = 64 * 1024;

} // namespace

PartialStore::PartialStore(const QDir &cacheDir)
    : m_folder(QDir::cleanPath(cacheDir.absoluteFilePath(UpdateNames::partialFolder())))
{}

// A flat name per list path: no folders to create, the same length for every file.
QString PartialStore::stemOf(const QString &listedPath) const
{
    const QByteArray hash =
        QCryptographicHash::hash(listedPath.toUtf8(), QCryptographicHash::Md5).toHex();
    return m_folder + QLatin1Char('/') + QLatin1String(hash);
}

QString PartialStore::bodyPath(const QString &listedPath) const
{
    return stemOf(listedPath) + QStringLiteral(".part");
}

QString PartialStore::infoPath(const QString &listedPath) const
{
    return stemOf(listedPath) + QStringLiteral(".info");
}

bool PartialStore::makeFolder()
{
    if (!m_folderMade)
        m_folderMade = QDir().mkpath(m_folder);
    return m_folderMade;
}

bool PartialStore::readInfo(const QString &listedPath, PartialInfo *info) const
{
    QFile file(infoPath(listedPath));
    if (!file.open(QIODevice::ReadOnly) || file.size() > InfoLimitBytes)
        return false;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    info->path = object.value(QStringLiteral("path")).toString();
    info->size = qint64(object.value(QStringLiteral("size")).toDouble(-1));
    info->md5 = object.value(QStringLiteral("md5")).toString().toLatin1();
    info->etag = object.value(QStringLiteral("etag")).toString().toLatin1();
    info->lastModified = object.value(QStringLiteral("lastModified")).toString().toLatin1();
    return info->path == listedPath;
}

// Not flushed: a body that comes back damaged after a power cut fails its checks.
bool PartialStore::writeInfo(const PartialInfo &info) const
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), info.path);
    object.insert(QStringLiteral("size"), double(info.size));
    object.insert(QStringLiteral("md5"), QString::fromLatin1(info.md5));
    object.insert(QStringLiteral("etag"), QString::fromLatin1(info.etag));
    object.insert(QStringLiteral("lastModified"), QString::fromLatin1(info.lastModified));
    QFile file(infoPath(info.path));
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A file that cannot be removed is emptied or replaced by the next transfer of its entry.
void PartialStore::discard(const QString &listedPath) const
{
    fileops::remove(infoPath(listedPath));
    fileops::remove(bodyPath(listedPath));
}

// What cannot be removed now is removed by the next successful update.
void PartialStore::clear() const
{
    if (fileops::kindOf(m_folder) == fileops::Kind::Folder)
        QDir(m_folder).removeRecursively();
}
