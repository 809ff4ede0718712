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

// The first problem of the packed copies that `versionFolder` lists, checked against the
// MD5 and SHA-256 lists in `listsFolder`; empty when they all check out.
QString firstProblem(const QString &listsFolder, const QString &versionFolder,
                     const QList<BaseFolder> &bases, QTextCodec *codec)
{
    PackList packs;
    QString problem;
    if (!readList(versionFolder, codec, &packs, &problem))
        return problem;
    const QDir lists(listsFolder);
    const Manifest listed = parseManifest(readAll(lists.filePath(UpdateNames::md5List())), codec);
    const Sha256List sha256 =
        parseSha256List(readAll(lists.filePath(UpdateNames::sha256List())), codec);
    const QStringList problems =
        checkPackedCopies(packFolderOf(versionFolder), packs, listed, sha256, bases, 1);
    return problems.isEmpty() ? QString() : problems.first();
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
    *error = firstProblem(sourceFolder, versionFolder, settings.bases, codec);
    return error->isEmpty();
}

bool publishedPacksCheckOut(const QString &root, const QString &versionFolder, QTextCodec *codec,
                            QString *problem)
{
    if (!QFileInfo::exists(packListOf(versionFolder)))
        return true;
    *problem = firstProblem(versionFolder, versionFolder,
                            findVersionFolders(root, versionFolder, codec), codec);
    return problem->isEmpty();
}
