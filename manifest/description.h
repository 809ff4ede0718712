#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

// The update description "update.ini".
struct UpdateDescription
{
    int updateType = 1; // 0: optional (the user is asked first); anything else: forced
    QString folder;     // server folder of this version's files
    QString version;    // shown in the notice dialog
    QString baseUrl;    // url + folder + "/": prefix of every file address
    QString listUrl;    // baseUrl + "/md5.txt"
    // [Patches]: where an unsigned release lists its packed copies (relative to the version's
    // folder) and the SHA-256 hex of that list; empty when it names none. A signed release
    // names them in its [Release] section instead.
    QString packList;
    QByteArray packListSha256;
};

// Reads the stored description at `path` (INI) and forms the addresses below `url`.
UpdateDescription readUpdateDescription(const QString &path, const QString &url);
// The same from an open INI file.
UpdateDescription readUpdateDescription(const QSettings &ini, const QString &url);
