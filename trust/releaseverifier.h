#pragma once

#include "ed25519key.h"
#include "releasesection.h"
#include "sha256.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Where a signed release's extra files are fetched, by the same rules as the other
// addresses: the signature beside update.ini, sha256.txt beside md5.txt (two slashes).
QString signatureUrl(const QString &url);
QString sha256ListUrl(const QString &baseUrl);

// The checks of a signed release, in the order the updater makes them. Each returns false
// with errorString() set to the message the user sees (TrustMessages); nothing may be
// downloaded after a failed description or list check, nothing applied after a failed file.
class ReleaseVerifier
{
public:
    // "PublicKey" of system.cfg: one or more base64 keys separated by commas.
    bool setPublicKeys(const QString &configValue);
    void setPublicKeys(const QList<PublicKey> &keys) { m_keys = keys; }
    QList<PublicKey> publicKeys() const { return m_keys; }

    // A line of `signatureFile` verifies the exact fetched bytes with a configured key.
    bool checkSignature(const QByteArray &description, const QByteArray &signatureFile);
    // The [Release] section of the stored description: Sequence present and not lower than
    // `appliedSequence`, Expires (if any) well formed and later than `now`.
    bool checkRelease(const QString &storedDescriptionPath, qint64 appliedSequence,
                      const QDateTime &now = QDateTime::currentDateTimeUtc());
    ReleaseSection release() const { return m_release; }

    // The fetched lists against Md5List and Sha256List; sha256.txt is kept for checkFile.
    bool checkMd5List(const QByteArray &listBytes);
    bool checkSha256List(const QByteArray &listBytes);

    // A downloaded or cached file (its list path) against sha256.txt; size and MD5 are the
    // worker's own checks.
    bool checkFile(const QString &path, const QByteArray &sha256Hex);
    // True once both lists have passed: from then on every file must be checked.
    bool checksFiles() const { return m_listsChecked; }
    // The SHA-256 hex that sha256.txt lists for `path`, or empty.
    QByteArray listedSha256(const QString &path) const { return m_sha256List.value(path); }

    QString errorString() const { return m_error; }

private:
    bool fail(const QString &message);

    QList<PublicKey> m_keys;
    ReleaseSection m_release;
    Sha256List m_sha256List;
    bool m_listsChecked = false;
    QString m_error;
};
