#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QSettings;

// The [Release] section that a signed update.ini carries beside [Summary] and [Version].
// Clients without a configured key never read it.
struct ReleaseSection
{
    qint64 sequence = 0;   // "Sequence": 1 for the first signed release, then one more each
    QByteArray md5List;    // "Md5List": SHA-256 hex of the exact bytes of md5.txt
    QByteArray sha256List; // "Sha256List": SHA-256 hex of the exact bytes of sha256.txt
    QString expiresText;   // "Expires" as written; empty: the release does not expire
    QDateTime expires;     // "Expires" in UTC; invalid when absent or malformed
    // "PatchList": the list of packed copies, relative to the version's folder, and
    // "PatchListSha256": the SHA-256 hex of its exact bytes; empty when the release has none.
    QString patchList;
    QByteArray patchListSha256;

    bool hasSequence() const { return sequence > 0; }
    bool hasExpiry() const { return !expiresText.isEmpty(); }
};

// Reads the section with Qt's INI reading, as the updater reads the rest of update.ini.
// A Sequence that is no positive number reads as 0 (absent).
ReleaseSection readReleaseSection(const QString &iniPath);
ReleaseSection readReleaseSection(const QSettings &ini);
// Writes the section's keys into `ini`; Expires and the patch list's keys only when set.
void writeReleaseSection(QSettings &ini, const ReleaseSection &section);

// Expires as written: UTC, ISO 8601, seconds, "Z" ("2025-03-01T12:00:00Z").
QString expiresTextFor(const QDateTime &moment);
// ISO 8601; a time without a zone counts as UTC. Invalid when malformed.
QDateTime parseExpires(const QString &text);
