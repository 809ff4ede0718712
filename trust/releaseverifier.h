#pragma once

#include "appliedsequence.h"
#include "ed25519key.h"
#include "verifiedrelease.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The configured keys, and the checks of a signed release's description in the order the
// updater makes them. Each check returns false with the message the user sees
// (TrustMessages); nothing may be fetched after a failed check.
class ReleaseVerifier
{
public:
    // "PublicKey" of system.cfg as QSettings reads it: one base64 key per item.
    bool setPublicKeys(const QStringList &configValues, QString *error);
    void setPublicKeys(const QList<PublicKey> &keys) { m_keys = keys; }
    QList<PublicKey> publicKeys() const { return m_keys; }

    // A line of `signatureFile` of a configured key verifies the exact bytes `description`,
    // and checkRelease accepts them: `release` then holds what they say.
    bool verifyDescription(const QByteArray &description, const QByteArray &signatureFile,
                           const QString &url, const SequenceRecord &floor,
                           VerifiedRelease *release, QString *error,
                           const QDateTime &now = QDateTime::currentDateTimeUtc()) const;

    // The two halves of verifyDescription, for a tool that reports every problem.
    bool checkSignature(const QByteArray &description, const QByteArray &signatureFile,
                        QString *error) const;
    // Parses `description` once, from a private copy that nobody else can write: the
    // description with its addresses below `url`, and the [Release] section, whose Sequence
    // must be present and not lower than the floor's (the same only for the very bytes the
    // floor recorded, when it recorded them), and whose Expires (if any) must be well formed
    // and later than `now`.
    static bool checkRelease(const QByteArray &description, const QString &url,
                             const SequenceRecord &floor, VerifiedRelease *release, QString *error,
                             const QDateTime &now = QDateTime::currentDateTimeUtc());

private:
    QList<PublicKey> m_keys;
};
