#include "updatenames.h"

#include "fileops.h"

#include <QStringList>

namespace UpdateNames {

QString record()
{
    return QStringLiteral("update_md5.info");
}

QString journal()
{
    return record() + QStringLiteral(".journal");
}

QString appliedSequence()
{
    return QStringLiteral("update_sequence.info");
}

QString oldSuffix()
{
    return QStringLiteral(".old");
}

QString previousSuffix()
{
    return QStringLiteral(".~pv");
}

QString keptOldSuffix()
{
    return QStringLiteral(".~od");
}

QString stagedPrefix()
{
    return QStringLiteral(".~nw");
}

QString stagedName(int index)
{
    return stagedPrefix() + QString::number(index);
}

QString atomicWriteSuffix()
{
    return fileops::temporarySuffix();
}

bool isTemporaryName(const QString &name)
{
    for (const QString &suffix : {previousSuffix(), keptOldSuffix(), atomicWriteSuffix()}) {
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            return true;
    }
    // The prefix alone ends in a suffix above; here it is followed by an index.
    if (!name.startsWith(stagedPrefix(), Qt::CaseInsensitive))
        return false;
    for (const QChar c : name.midRef(stagedPrefix().size())) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool isInstallationFileName(const QString &name)
{
    for (const QString &own : {record(), journal(), appliedSequence()}) {
        if (name.compare(own, Qt::CaseInsensitive) == 0 ||
            name.compare(own + atomicWriteSuffix(), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isVersionFolderName(const QString &name)
{
    return name.compare(packFolder(), Qt::CaseInsensitive) == 0;
}

QString description()
{
    return QStringLiteral("update.ini");
}

QString partialFolder()
{
    return QStringLiteral(".~partial");
}

QString logFolder()
{
    return QStringLiteral(".~log");
}

QString signature()
{
    return description() + QStringLiteral(".sig");
}

QString packFolder()
{
    return QStringLiteral(".~zstd");
}

QString packList()
{
    return QStringLiteral("list.txt");
}

QString md5List()
{
    return QStringLiteral("md5.txt");
}

QString sha256List()
{
    return QStringLiteral("sha256.txt");
}

QString descriptionUrl(const QString &url)
{
    return url + QLatin1Char('/') + description();
}

QString signatureUrl(const QString &url)
{
    return url + QLatin1Char('/') + signature();
}

QString md5ListUrl(const QString &baseUrl)
{
    return baseUrl + QLatin1Char('/') + md5List();
}

QString sha256ListUrl(const QString &baseUrl)
{
    return baseUrl + QLatin1Char('/') + sha256List();
}

QString fileUrl(const QString &baseUrl, const QString &path)
{
    QString escaped = path;
    escaped.replace(QLatin1Char('%'), QLatin1String("%25"));
    escaped.replace(QLatin1Char('#'), QLatin1String("%23"));
    escaped.replace(QLatin1Char('?'), QLatin1String("%3F"));
    return baseUrl + escaped;
}

QString packedCopyUrl(const QString &baseUrl, const QString &fileName)
{
    return fileUrl(baseUrl, packFolder() + QLatin1Char('/') + fileName);
}

bool isPackListPath(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() < 2 || parts.first() != packFolder() || path.contains(QLatin1Char('\\')))
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace UpdateNames
