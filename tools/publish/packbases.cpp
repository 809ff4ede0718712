// The published versions whose files are the bases of patches.
#include "packedcopies.h"

#include "pathrules.h"
#include "publishfiles.h"
#include "updatenames.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A server root holds version folders (possibly below folders of their own) and nothing
// deeper needs a look: a version's own folders are release content.
constexpr int MaximumDepth = 8;

BaseFolder readFolder(const QDir &root, const QString &name, QTextCodec *codec)
{
    BaseFolder folder;
    folder.name = name;
    folder.path = root.absoluteFilePath(name);
    folder.files =
        parseManifest(readAll(QDir(folder.path).absoluteFilePath(UpdateNames::md5List())), codec);
    return folder;
}

// The assembly folders of update-publish and the packed copies hold no version.
bool mayHoldVersions(const QString &name)
{
    return !name.startsWith(QLatin1String(".publishing-")) &&
           !UpdateNames::isVersionFolderName(name);
}

void collectVersions(const QDir &root, const QString &relative, const QString &except,
                     QTextCodec *codec, int depth, QList<BaseFolder> *found)
{
    const QDir dir(root.absoluteFilePath(relative));
    if (dir.exists(UpdateNames::md5List())) {
        if (dir.absolutePath() != except)
            found->append(readFolder(root, relative, codec));
        return;
    }
    if (depth >= MaximumDepth)
        return;
    const QStringList names =
        dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        if (mayHoldVersions(name))
            collectVersions(root, relative.isEmpty() ? name : relative + QLatin1Char('/') + name,
                            except, codec, depth + 1, found);
    }
}

} // namespace

QString packFolderOf(const QString &versionFolder)
{
    return QDir(versionFolder).absoluteFilePath(UpdateNames::packFolder());
}

QString packListOf(const QString &versionFolder)
{
    return QDir(packFolderOf(versionFolder)).absoluteFilePath(UpdateNames::packList());
}

bool readBaseFolders(const QString &root, const QStringList &names, QTextCodec *codec,
                     QList<BaseFolder> *bases, QString *error)
{
    const QDir rootDir(QDir(root).absolutePath());
    for (const QString &name : names) {
        const QString list =
            QDir(rootDir.absoluteFilePath(name)).absoluteFilePath(UpdateNames::md5List());
        if (name.contains(QLatin1Char('\\')) || !isContainedRelativePath(name) ||
            !QFileInfo(list).isFile()) {
            *error = QStringLiteral("--patch-from \"%1\" names no published folder below %2 "
                                    "(a relative path with forward slashes, holding md5.txt)")
                         .arg(name, rootDir.path());
            return false;
        }
        bases->append(readFolder(rootDir, name, codec));
    }
    return true;
}

QList<BaseFolder> findVersionFolders(const QString &root, const QString &except, QTextCodec *codec)
{
    QList<BaseFolder> found;
    collectVersions(QDir(QDir(root).absolutePath()), QString(), QDir(except).absolutePath(), codec,
                    0, &found);
    return found;
}
