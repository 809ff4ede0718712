#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QStringList>

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
    QStringList publicKeys;    // its value: one base64 key per comma-separated item
    bool hasCaFile = false;    // "CaFile" present: only its authorities are trusted
    QString caFile;            // its value made absolute against the program's folder
    int connections = 1;       // "Connections": files in flight at once, 1 to the limit
    bool patches = true;       // "Patches": false turns compressed copies and patches off
    bool http2 = false;        // "Http2": https requests may use HTTP/2
    bool hasProxy = false;     // "Proxy" present: the managers get ProxySettings of its value
    QString proxy;             // its value
};

// Name of the default cache folder inside the program's folder. On platforms without an
// executable suffix "update" would be the updater itself, so another name is used there.
QString defaultCacheFolderName();

UpdateConfig loadUpdateConfig(const QString &appDir = QCoreApplication::applicationDirPath());
void resolveFolders(UpdateConfig &config);
// The installation folder as resolveFolders makes it, without creating anything.
QDir installFolderOf(const UpdateConfig &config);
// The cache folder as resolveFolders makes it, without creating anything.
QDir cacheFolderOf(const UpdateConfig &config);
void ensureFolder(QDir &folder);
// "Connections": a whole number from 1 up; above the limit counts as the limit, anything
// else (absent, empty, not a number, 0 or less) as 1.
int connectionsFrom(const QString &value, int limit);
// A switch ("Patches", "Http2"): true for "true", "yes", "on" or "1", false for "false", "no",
// "off" or "0", in any letter case; anything else, absent included, is `fallback`.
bool switchFrom(const QString &value, bool fallback);
