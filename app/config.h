#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>

// The local configuration "system.cfg", section "Update", and the folders derived from it.
struct UpdateConfig
{
    QDir appDir;         // the program's folder: "system.cfg" and relative "ExeName" live here
    QString url;         // "URL": the update folder on the server
    QString downloadUrl; // "DownLoadUrl": a page offering a full installer
    QDir installDir;     // root of the installed files; moves up out of a "bin" folder
    QDir cacheDir;       // "Cache": where "update.ini" and the downloads go
    QString exePath;     // "ExeName", absolute: the host to start
    // Optional keys; when absent every run behaves as without them.
    bool hasPublicKey = false; // "PublicKey" present: only signed releases are accepted
    QString publicKey;         // its value: base64 keys separated by commas
    bool hasCaFile = false;    // "CaFile" present: only its authorities are trusted
    QString caFile;            // its value made absolute against the program's folder
};

// The update description "update.ini", as stored in the cache folder.
struct UpdateDescription
{
    int updateType = 1; // 0: optional (the user is asked first); anything else: forced
    QString folder;     // server folder of this version's files
    QString version;    // shown in the notice dialog
    QString baseUrl;    // url + folder + "/": prefix of every file address
    QString listUrl;    // baseUrl + "/md5.txt"
};

// Name of the default cache folder inside the program's folder. On platforms without an
// executable suffix "update" would be the updater itself, so another name is used there.
QString defaultCacheFolderName();

UpdateConfig loadUpdateConfig(const QString &appDir = QCoreApplication::applicationDirPath());
void resolveFolders(UpdateConfig &config);
// The installation folder as resolveFolders makes it, without creating anything.
QDir installFolderOf(const UpdateConfig &config);
void ensureFolder(QDir &folder);
UpdateDescription readUpdateDescription(const QString &path, const QString &url);
