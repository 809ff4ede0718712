#pragma once

#include "manifest.h"

#include <QByteArray>
#include <QDir>
#include <QString>

// What a later attempt needs to ask the server for the rest of a file: the file it was
// (list path, size and MD5 of the listed entry) and the server's validator of the body.
struct PartialInfo
{
    QString path;
    qint64 size = -1;
    QByteArray md5;
    QByteArray etag;         // only a strong one: If-Range refuses weak validators
    QByteArray lastModified; // the header's text as the server sent it

    bool describes(const ManifestEntry &entry) const
    {
        return path == entry.path && size == entry.size && md5 == entry.md5;
    }
    // The value for If-Range, or empty when the server gave no usable validator.
    QByteArray validator() const { return etag.isEmpty() ? lastModified : etag; }
};

// The bodies of transfers in progress, and of transfers that broke off, in a folder of the
// cache that no listed path may enter (UpdateNames::partialFolder()). Each listed file has
// two fixed names there, derived from its list path: NAME.part (the body) and NAME.info (a
// PartialInfo). A body gets its listed name only after its checks; it is never applied from
// here.
class PartialStore
{
public:
    explicit PartialStore(const QDir &cacheDir);

    QString bodyPath(const QString &listedPath) const;
    QString infoPath(const QString &listedPath) const;
    bool makeFolder();

    bool readInfo(const QString &listedPath, PartialInfo *info) const;
    bool writeInfo(const PartialInfo &info) const;
    void discard(const QString &listedPath) const;
    // Removes the folder with whatever broke off in earlier runs.
    void clear() const;

private:
    QString stemOf(const QString &listedPath) const;

    QString m_folder;
    bool m_folderMade = false;
};
