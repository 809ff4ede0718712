#pragma once

#include "ed25519key.h"
#include "zstdcodec.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextCodec;
struct ReleaseFile;

struct PublishOptions
{
    QString releaseDir;
    QString serverRoot;
    QString folder;  // "Version/Folder": the version's folder below the server root
    QString version; // "Version/Version"
    bool forced = true;
    QTextCodec *codec = nullptr; // the clients' 8-bit code page
    QStringList excludes;
    bool replaceExisting = false; // overwrite a folder that holds another version
    // Signing: empty publishes exactly as without signatures (no sha256.txt, no [Release]).
    QList<SigningKey> signingKeys;
    int expiresDays = 0; // 0: the release does not expire
    qint64 sequence = 0; // 0: one more than the replaced update.ini's, 1 for the first
    // Packed copies in <folder>/.~zstd: none unless asked for; the full files stay as they are.
    bool compress = false; // a zstd-compressed copy of each file it makes clearly smaller
    QStringList patchFrom; // published folders whose files are the bases of patches
    int compressLevel = zstdcodec::DefaultLevel; // zstd's level for both
};

struct PublishResult
{
    int fileCount = 0;
    qint64 byteCount = 0;
    bool unchanged = false; // the folder already held exactly this release
    QString folderPath;
    qint64 sequence = 0;         // signed releases only
    QString expires;             // signed releases with --expires only
    bool replacedSigned = false; // the update.ini replaced by an unsigned one was signed
    bool packsAdded = false;     // the unchanged folder got the packed copies it lacked
    QStringList packReport;      // the packed copies and what clients fetch with them
};

// Writes <root>/<folder>/ with the release's files and md5.txt, checks them, and then
// replaces <root>/update.ini. Clients never see a half-written version: the folder is
// assembled under a temporary name and update.ini is switched last.
bool publishRelease(const PublishOptions &options, PublishResult *result, QString *error);

// Writes <root>/update.ini (with [Release] when signing) and, when signing,
// <root>/update.ini.sig right after it. `folderPath` is the live version folder.
bool writeDescription(const PublishOptions &options, const QString &folderPath,
                      PublishResult *result, QString *error);

// sha256.txt for the files as they lie in `folderPath`: md5.txt's lines with the SHA-256 hex.
bool composeSha256List(const QList<ReleaseFile> &files, const QString &folderPath, QByteArray *list,
                       QString *error);

// Checks every line of md5.txt in `folderPath` against the file it names: size and digest
// through the updater's own parser and digest code, and that exactly `expectedCount`
// files are listed. `codec` is the code page the list was written in.
bool verifyPublishedFolder(const QString &folderPath, QTextCodec *codec, int expectedCount,
                           QString *error);
