// --verify of the packed copies: the list against the signed update.ini, each copy decoded.
#include "packedcopies.h"

#include "pathrules.h"
#include "publishfiles.h"
#include "signingtool.h"
#include "updatenames.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int MaximumPackProblems = 50;

// The list as update.ini names it: inside the packed copies' folder, as the clients demand.
QString namedList(const QString &named, const QDir &folder, VerifyReport *report)
{
    if (!UpdateNames::isPackListPath(named)) {
        report->problems << QStringLiteral("%1=%2 of update.ini lies outside %3/")
                                .arg(packListKey(true), named, UpdateNames::packFolder());
        return QString();
    }
    const QString path = folder.absoluteFilePath(named);
    if (!QFileInfo(path).isFile()) {
        report->problems << QStringLiteral("%1 is missing").arg(path);
        return QString();
    }
    return path;
}

} // namespace

void verifyPackedCopies(const QString &root, const QDir &folder, const Manifest &listed,
                        const Sha256List &sha256, QTextCodec *codec, VerifyReport *report)
{
    const QSettings ini(QDir(root).absoluteFilePath(UpdateNames::description()),
                        QSettings::IniFormat);
    const QString named = ini.value(packListKey(true)).toString();
    if (named.isEmpty()) {
        if (QFileInfo::exists(packListOf(folder.absolutePath())))
            report->facts << QStringLiteral("packed copies not named in update.ini");
        return;
    }
    const QString path = namedList(named, folder, report);
    if (path.isEmpty())
        return;
    const QByteArray bytes = readAll(path);
    const QByteArray digest = ini.value(packListSha256Key(true)).toString().toLatin1();
    if (sha256Hex(bytes) != digest.toLower())
        report->problems << QStringLiteral("%1 does not match %2 of update.ini")
                                .arg(path, packListSha256Key(true));
    const PackList packs = parsePackList(bytes, codec);
    const QStringList problems = checkPackedCopies(
        packFolderOf(folder.absolutePath()), packs, listed, sha256,
        findVersionFolders(root, folder.absolutePath(), codec), MaximumPackProblems);
    report->problems << problems;
    if (problems.isEmpty())
        report->facts << QStringLiteral("%1 packed copies decoded").arg(packs.size());
}
