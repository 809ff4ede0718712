// The packed copies as a publishing step: made and checked before they go live.
#include "packedcopies.h"

#include "publishfiles.h"
#include "releasescan.h"
#include "updatenames.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The list read back through the clients' parser, line for line.
bool readList(const QString &versionFolder, QTextCodec *codec, PackList *packs, QString *problem)
{
    const QByteArray bytes = readAll(packListOf(versionFolder));
    *packs = parsePackList(bytes, codec);
    if (packs->size() == bytes.count('\n'))
        return true;
    *problem = QStringLiteral("%1 reads back as %2 entries, it has %3 lines")
                   .arg(packListOf(versionFolder))
                   .arg(packs->size())
                   .arg(bytes.count('\n'));
    return false;
}

} // namespace

bool stagePackedCopies(const PackSettings &settings, const QList<ReleaseFile> &files,
                       const QString &sourceFolder, const QString &versionFolder, QTextCodec *codec,
                       QString *error)
{
    if (!settings.any())
        return true;
    if (!writePackedCopies(settings, files, sourceFolder, packFolderOf(versionFolder), error))
        return false;
    if (!QFileInfo::exists(packListOf(versionFolder)))
        return true;
    PackList packs;
    if (!readList(versionFolder, codec, &packs, error))
        return false;
    const QDir source(sourceFolder);
    const Manifest listed = parseManifest(readAll(source.filePath(UpdateNames::md5List())), codec);
    const Sha256List sha256 =
        parseSha256List(readAll(source.filePath(UpdateNames::sha256List())), codec);
    const QStringList problems =
        checkPackedCopies(packFolderOf(versionFolder), packs, listed, sha256, settings.bases, 1);
    if (problems.isEmpty())
        return true;
    *error = problems.first();
    return false;
}

bool publishedPacksCheckOut(const QString &root, const QString &versionFolder, QTextCodec *codec,
                            QString *problem)
{
    if (!QFileInfo::exists(packListOf(versionFolder)))
        return true;
    PackList packs;
    if (!readList(versionFolder, codec, &packs, problem))
        return false;
    const QDir folder(versionFolder);
    const Manifest listed = parseManifest(readAll(folder.filePath(UpdateNames::md5List())), codec);
    const Sha256List sha256 =
        parseSha256List(readAll(folder.filePath(UpdateNames::sha256List())), codec);
    const QStringList problems =
        checkPackedCopies(packFolderOf(versionFolder), packs, listed, sha256,
                          findVersionFolders(root, versionFolder, codec), 1);
    if (problems.isEmpty())
        return true;
    *problem = problems.first();
    return false;
}
