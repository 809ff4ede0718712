#pragma once

#include <QString>
#include <QStringList>

class QTextCodec;

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
};

struct PublishResult
{
    int fileCount = 0;
    qint64 byteCount = 0;
    bool unchanged = false; // the folder already held exactly this release
    QString folderPath;
};

// Writes <root>/<folder>/ with the release's files and md5.txt, checks them, and then
// replaces <root>/update.ini. Clients never see a half-written version: the folder is
// assembled under a temporary name and update.ini is switched last.
bool publishRelease(const PublishOptions &options, PublishResult *result, QString *error);

// Checks every line of md5.txt in `folderPath` against the file it names: size and digest
// through the updater's own parser and digest code, and that exactly `expectedCount`
// files are listed. `codec` is the code page the list was written in.
bool verifyPublishedFolder(const QString &folderPath, QTextCodec *codec, int expectedCount,
                           QString *error);
