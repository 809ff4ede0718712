#pragma once

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
};

// Reads the stored description at `path` (INI) and forms the addresses below `url`.
UpdateDescription readUpdateDescription(const QString &path, const QString &url);
// The same from an open INI file.
UpdateDescription readUpdateDescription(const QSettings &ini, const QString &url);
