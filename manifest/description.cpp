#include "description.h"

#include "updatenames.h"

#include <QSettings>

UpdateDescription readUpdateDescription(const QString &path, const QString &url)
{
    return readUpdateDescription(QSettings(path, QSettings::IniFormat), url);
}

UpdateDescription readUpdateDescription(const QSettings &ini, const QString &url)
{
    UpdateDescription description;
    // A value that is not a number reads as 0: an optional update.
    description.updateType = ini.value(QStringLiteral("Summary/UpdateType"), 1).toInt();
    description.folder =
        ini.value(QStringLiteral("Version/Folder"), QStringLiteral("Base")).toString();
    description.version = ini.value(QStringLiteral("Version/Version")).toString();
    description.baseUrl = url + description.folder + QLatin1Char('/');
    description.listUrl = UpdateNames::md5ListUrl(description.baseUrl);
    description.packList = ini.value(QStringLiteral("Patches/List")).toString().trimmed();
    description.packListSha256 =
        ini.value(QStringLiteral("Patches/Sha256")).toString().trimmed().toLatin1();
    return description;
}
