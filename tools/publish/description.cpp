// update.ini, and for signed releases its [Release] section, sha256.txt and update.ini.sig.
#include "publisher.h"

#include "listformat.h"
#include "packedcopies.h"
#include "publishfiles.h"
#include "releasescan.h"
#include "releasesection.h"
#include "sha256.h"
#include "signaturefile.h"
#include "updatenames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// The SHA-256 hex of the version's list of packed copies; empty when it has none.
QByteArray packListSha256(const QString &folderPath)
{
    const QString list = packListOf(folderPath);
    return QFileInfo::exists(list) ? sha256Hex(readAll(list)) : QByteArray();
}

QString packListName()
{
    return UpdateNames::packFolder() + QLatin1Char('/') + UpdateNames::packList();
}

bool releaseSectionFor(const PublishOptions &options, const QString &live,
                       const QString &folderPath, ReleaseSection *section, QString *error)
{
    const qint64 previous = QFileInfo::exists(live) ? readReleaseSection(live).sequence : 0;
    if (options.sequence > 0 && options.sequence <= previous) {
        *error = QStringLiteral("--sequence %1 is not above the Sequence %2 of the replaced "
                                "update.ini; clients that applied it would refuse this release")
                     .arg(options.sequence)
                     .arg(previous);
        return false;
    }
    section->sequence = options.sequence > 0 ? options.sequence : previous + 1;
    const QDir folder(folderPath);
    section->md5List = sha256Hex(readAll(folder.absoluteFilePath(UpdateNames::md5List())));
    section->sha256List = sha256Hex(readAll(folder.absoluteFilePath(UpdateNames::sha256List())));
    section->patchListSha256 = packListSha256(folderPath);
    if (!section->patchListSha256.isEmpty())
        section->patchList = packListName();
    if (options.expiresDays > 0)
        section->expiresText =
            expiresTextFor(QDateTime::currentDateTimeUtc().addDays(options.expiresDays));
    return true;
}

// Written by QSettings itself, so that the updater's QSettings reads back any text. A signed
// release names its packed copies in [Release], an unsigned one in [Patches].
bool writeIni(const QString &path, const PublishOptions &options, const ReleaseSection *section,
              const QByteArray &listSha256)
{
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(QStringLiteral("Summary/UpdateType"), options.forced ? 1 : 0);
    ini.setValue(QStringLiteral("Version/Folder"), options.folder);
    ini.setValue(QStringLiteral("Version/Version"), options.version);
    if (section) {
        writeReleaseSection(ini, *section);
    } else if (!listSha256.isEmpty()) {
        ini.setValue(packListKey(false), packListName());
        ini.setValue(packListSha256Key(false), QString::fromLatin1(listSha256));
    }
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool readsBack(const QString &path, const PublishOptions &options, const ReleaseSection *section,
               const QByteArray &listSha256)
{
    const QSettings check(path, QSettings::IniFormat);
    if (check.value(QStringLiteral("Version/Folder")).toString() != options.folder ||
        check.value(QStringLiteral("Version/Version")).toString() != options.version)
        return false;
    if (!section)
        return check.value(packListSha256Key(false)).toString().toLatin1() == listSha256;
    const ReleaseSection written = readReleaseSection(path);
    return written.sequence == section->sequence &&
           written.patchListSha256 == section->patchListSha256;
}

QByteArray signatureFileFor(const QList<SigningKey> &keys, const QByteArray &description)
{
    QByteArray lines;
    for (const SigningKey &key : keys) {
        const QByteArray line = signatureLine(key, description);
        if (line.isEmpty())
            return QByteArray();
        lines += line;
    }
    return lines;
}

} // namespace

bool writeDescription(const PublishOptions &options, const QString &folderPath,
                      PublishResult *result, QString *error)
{
    const QDir root(options.serverRoot);
    const QString live = root.absoluteFilePath(UpdateNames::description());
    const QString signatures = root.absoluteFilePath(UpdateNames::signature());
    const QString temporary = live + QStringLiteral(".publishing");
    const bool signing = !options.signingKeys.isEmpty();
    ReleaseSection section;
    if (signing && !releaseSectionFor(options, live, folderPath, &section, error))
        return false;
    result->replacedSigned = !signing && QFileInfo::exists(signatures);
    QFile::remove(temporary); // a left-over in the way fails the write below
    const QByteArray listSha256 = signing ? QByteArray() : packListSha256(folderPath);
    if (!writeIni(temporary, options, signing ? &section : nullptr, listSha256) ||
        !readsBack(temporary, options, signing ? &section : nullptr, listSha256)) {
        *error =
            QStringLiteral("cannot write %1, or it does not read back as written").arg(temporary);
        return false;
    }
    const QByteArray signatureLines =
        signing ? signatureFileFor(options.signingKeys, readAll(temporary)) : QByteArray();
    if (signing && signatureLines.isEmpty()) {
        *error = QStringLiteral("cannot sign %1").arg(temporary);
        return false;
    }
    if (!QFile::setPermissions(temporary, PublicFile) || !renamePath(temporary, live)) {
        *error = QStringLiteral("cannot replace %1").arg(live);
        return false;
    }
    // A signature left from an earlier release would not match the new description.
    if (!signing) {
        if (!QFileInfo::exists(signatures) || QFile::remove(signatures))
            return true;
        *error = QStringLiteral("cannot remove the earlier signature %1").arg(signatures);
        return false;
    }
    result->sequence = section.sequence;
    result->expires = section.expiresText;
    if (!replaceFile(signatures, signatureLines)) {
        *error = QStringLiteral("cannot write %1").arg(signatures);
        return false;
    }
    return true;
}

QString packListKey(bool signedRelease)
{
    return signedRelease ? QStringLiteral("Release/PatchList") : QStringLiteral("Patches/List");
}

QString packListSha256Key(bool signedRelease)
{
    return signedRelease ? QStringLiteral("Release/PatchListSha256")
                         : QStringLiteral("Patches/Sha256");
}

bool composeSha256List(const QList<ReleaseFile> &files, const QString &folderPath, QByteArray *list,
                       QString *error)
{
    const QDir folder(folderPath);
    list->clear();
    for (const ReleaseFile &file : files) {
        QByteArray hex;
        if (!fileSha256Hex(folder.absoluteFilePath(file.relativePath), &hex)) {
            *error = QStringLiteral("cannot read back \"%1\"").arg(file.relativePath);
            return false;
        }
        *list += listLine(hex, file.size, file.encodedPath);
    }
    return true;
}
