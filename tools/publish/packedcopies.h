#pragma once

#include "manifest.h"
#include "packlist.h"
#include "sha256.h"
#include "zstdcodec.h"

#include <QList>
#include <QString>
#include <QStringList>

class QDir;
class QTextCodec;
struct ReleaseFile;
struct VerifyReport;

// A published version whose files are the bases of patches.
struct BaseFolder
{
    QString name;   // below the server root, as --folder gave it
    QString path;   // absolute
    Manifest files; // its md5.txt
};

// What to pack beside a release's full files: compressed copies and patches from the bases.
struct PackSettings
{
    bool compress = false;
    int level = zstdcodec::DefaultLevel;
    QList<BaseFolder> bases;

    bool any() const { return compress || !bases.isEmpty(); }
};

// The keys of update.ini that name the list and its SHA-256 hex: in [Release] of a signed
// release, so that the signature binds them, else in [Patches].
QString packListKey(bool signedRelease);
QString packListSha256Key(bool signedRelease);

// <versionFolder>/.~zstd and the list in it.
QString packFolderOf(const QString &versionFolder);
QString packListOf(const QString &versionFolder);

// The folders `names` below `root` with their md5.txt (read in `codec`); fails naming a
// folder that holds no published version.
bool readBaseFolders(const QString &root, const QStringList &names, QTextCodec *codec,
                     QList<BaseFolder> *bases, QString *error);

// Every published version below `root` (a folder with md5.txt) but the folder `except`:
// where the base of a patch is looked for when nobody says which folders are the bases.
QList<BaseFolder> findVersionFolders(const QString &root, const QString &except, QTextCodec *codec);

// Writes into `packFolder` the compressed copy of each of `files` (lying in `sourceFolder`)
// that is clearly smaller than the file, and each patch from a base that is smaller than the
// copy, named by their SHA-256, and the list of them (in `codec`). Leaves no folder when
// nothing is worth packing.
bool writePackedCopies(const PackSettings &settings, const QList<ReleaseFile> &files,
                       const QString &sourceFolder, const QString &packFolder, QString *error);

// Writes the packed copies of `files` (lying in `sourceFolder` beside md5.txt and, signed,
// sha256.txt) into `versionFolder`'s pack folder and checks them there: the list read back
// with the clients' parser (paths in `codec`), each copy as checkPackedCopies checks it.
bool stagePackedCopies(const PackSettings &settings, const QList<ReleaseFile> &files,
                       const QString &sourceFolder, const QString &versionFolder, QTextCodec *codec,
                       QString *error);

// True when `versionFolder` has no list of packed copies, or when every copy it lists checks
// out as stagePackedCopies checks it (the bases looked for in the other versions below `root`).
bool publishedPacksCheckOut(const QString &root, const QString &versionFolder, QTextCodec *codec,
                            QString *problem);

// Checks each packed copy of `packs` in `packFolder`: its size, MD5 and SHA-256 as listed,
// then that it decodes (a patch from its base in one of `bases`) to the file md5.txt lists,
// and, when `sha256` lists it, to that SHA-256. At most `limit` problems, then a count.
QStringList checkPackedCopies(const QString &packFolder, const PackList &packs,
                              const Manifest &listed, const Sha256List &sha256,
                              const QList<BaseFolder> &bases, int limit);

// The packed copies published, and what a client at each base fetches with and without them.
QStringList packReport(const PackList &packs, qint64 listBytes, const Manifest &listed,
                       const QList<BaseFolder> &bases);

// --verify's part: the list update.ini's [Release] names against its SHA-256 there, and each
// packed copy of the version in `folder` as checkPackedCopies checks it, the bases of patches
// looked for in the other versions below `root`.
void verifyPackedCopies(const QString &root, const QDir &folder, const Manifest &listed,
                        const Sha256List &sha256, QTextCodec *codec, VerifyReport *report);
