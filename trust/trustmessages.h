#pragma once

#include <QCoreApplication>
#include <QString>

// The messages the updater shows when a check of a signed release refuses it, one per
// check. They pass through tr with the context "TrustMessages".
class TrustMessages
{
    Q_DECLARE_TR_FUNCTIONS(TrustMessages)

public:
    static QString publicKeyInvalid(const QString &value);
    static QString signatureFetchFailed(const QString &reason);
    static QString signatureMissing();
    static QString signatureInvalid();
    static QString unknownKey();
    static QString sequenceMissing();
    static QString sequenceRollback(qint64 sequence, qint64 applied);
    static QString sequenceReused(qint64 sequence);
    static QString expiresInvalid(const QString &text);
    static QString expired(const QString &when);
    static QString md5ListMismatch();
    static QString sha256ListFetchFailed(const QString &reason);
    static QString sha256ListMismatch();
    static QString patchListMismatch();
    static QString fileSha256Mismatch(const QString &fileName);
    static QString fileNotInSha256List(const QString &fileName);
};
