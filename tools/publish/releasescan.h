#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class QTextCodec;

// One file of the release, ready to be listed and copied.
struct ReleaseFile
{
    QString relativePath; // forward slashes, relative to the release folder
    QString sourcePath;   // absolute path in the release folder
    qint64 size = 0;
    QByteArray digest;      // digest text
    QByteArray encodedPath; // list path in the clients' code page, backslashes
};

// Decides which release files are left out. Patterns are shell wildcards: one without
// a slash matches any single path component (file or folder name), one with a slash
// matches the whole relative path or any folder above the file.
class ExcludeRules
{
public:
    // The updater's own files on the clients, which must never come from the server.
    static QStringList alwaysExcluded();

    explicit ExcludeRules(const QStringList &patterns);
    bool excludes(const QString &relativePath) const;

private:
    QList<QRegularExpression> m_namePatterns;
    QList<QRegularExpression> m_pathPatterns;
};

// Walks the release folder (hidden files included), in ascending path order.
// Fails with a message on an unreadable file or a path the clients cannot receive.
bool scanRelease(const QString &releaseDir, const ExcludeRules &rules, QTextCodec *codec,
                 QList<ReleaseFile> *files, QString *error);

// The md5.txt bytes for the scanned files.
QByteArray composeList(const QList<ReleaseFile> &files);
