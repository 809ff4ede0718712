#include "updatenames.h"

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

} // namespace UpdateNames
