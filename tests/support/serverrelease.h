#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Update-server content for tests: "<root>/update.ini" and "<root>/<folder>/" with the
// files and their "md5.txt", written independently of the updater's own code paths.
namespace ServerRelease {

// The list's digest notation of `content`: MD5 read as four little-endian words.
QByteArray digestText(const QByteArray &content);

// Writes the files and md5.txt (CR LF, backslash paths); returns md5.txt's bytes.
QByteArray writeVersion(const QString &root, const QString &folder,
                        const QMap<QString, QByteArray> &files);
void writeDescription(const QString &root, int updateType, const QString &folder,
                      const QString &version);
// Installs `files` below `dir` as they would be after an update.
void install(const QString &dir, const QMap<QString, QByteArray> &files);
// True when every file of `files` is in `dir` with that content.
bool installed(const QString &dir, const QMap<QString, QByteArray> &files);

} // namespace ServerRelease
