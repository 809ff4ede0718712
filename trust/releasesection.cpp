#include "releasesection.h"

#include <QSettings>

namespace {

const QString SequenceKey = QStringLiteral("Release/Sequence");
const QString Md5ListKey = QStringLiteral("Release/Md5List");
const QString Sha256ListKey = QStringLiteral("Release/Sha256List");
const QString ExpiresKey = QStringLiteral("Release/Expires");
const QString PatchListKey = QStringLiteral("Release/PatchList");
const QString PatchListSha256Key = QStringLiteral("Release/PatchListSha256");

} // namespace

ReleaseSection readReleaseSection(const QString &iniPath)
{
    return readReleaseSection(QSettings(iniPath, QSettings::IniFormat));
}

ReleaseSection readReleaseSection(const QSettings &ini)
{
    ReleaseSection section;
    bool ok = false;
    const qint64 sequence = ini.value(SequenceKey).toString().trimmed().toLongLong(&ok);
    section.sequence = ok && sequence > 0 ? sequence : 0;
    section.md5List = ini.value(Md5ListKey).toString().trimmed().toLatin1();
    section.sha256List = ini.value(Sha256ListKey).toString().trimmed().toLatin1();
    section.expiresText = ini.value(ExpiresKey).toString().trimmed();
    if (section.hasExpiry())
        section.expires = parseExpires(section.expiresText);
    section.patchList = ini.value(PatchListKey).toString().trimmed();
    section.patchListSha256 = ini.value(PatchListSha256Key).toString().trimmed().toLatin1();
    return section;
}

void writeReleaseSection(QSettings &ini, const ReleaseSection &section)
{
    ini.setValue(SequenceKey, QString::number(section.sequence));
    ini.setValue(Md5ListKey, QString::fromLatin1(section.md5List));
    ini.setValue(Sha256ListKey, QString::fromLatin1(section.sha256List));
    if (section.hasExpiry())
        ini.setValue(ExpiresKey, section.expiresText);
    if (!section.patchList.isEmpty())
        ini.setValue(PatchListKey, section.patchList);
    if (!section.patchListSha256.isEmpty())
        ini.setValue(PatchListSha256Key, QString::fromLatin1(section.patchListSha256));
}

QString expiresTextFor(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

QDateTime parseExpires(const QString &text)
{
    QDateTime moment = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!moment.isValid())
        return QDateTime();
    if (moment.timeSpec() == Qt::LocalTime)
        moment.setTimeSpec(Qt::UTC);
    return moment.toUTC();
}
