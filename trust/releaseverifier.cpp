#include "releaseverifier.h"

#include "sha256.h"
#include "signaturefile.h"
#include "trustmessages.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryFile>

namespace {

bool failWith(const QString &message, QString *error)
{
    *error = message;
    return false;
}

// A Sequence names one description: the same Sequence with other bytes is a second release
// slipped in under a number the client has already seen.
bool checkSequence(const ReleaseSection &section, const QByteArray &description,
                   const SequenceRecord &floor, QString *error)
{
    if (!section.hasSequence())
        return failWith(TrustMessages::sequenceMissing(), error);
    if (section.sequence < floor.sequence)
        return failWith(TrustMessages::sequenceRollback(section.sequence, floor.sequence), error);
    if (section.sequence == floor.sequence && !floor.descriptionSha256.isEmpty() &&
        sha256Hex(description) != floor.descriptionSha256.toLower())
        return failWith(TrustMessages::sequenceReused(section.sequence), error);
    return true;
}

bool checkExpiry(const ReleaseSection &section, const QDateTime &now, QString *error)
{
    if (!section.hasExpiry())
        return true;
    if (!section.expires.isValid())
        return failWith(TrustMessages::expiresInvalid(section.expiresText), error);
    if (section.expires <= now)
        return failWith(TrustMessages::expired(
                            section.expires.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))),
                        error);
    return true;
}

} // namespace

bool ReleaseVerifier::setPublicKeys(const QStringList &configValues, QString *error)
{
    QList<PublicKey> keys;
    for (const QString &value : configValues) {
        const QString text = value.trimmed();
        if (text.isEmpty())
            continue;
        const PublicKey key = PublicKey::fromBase64(text.toLatin1());
        if (key.isNull())
            return failWith(TrustMessages::publicKeyInvalid(text), error);
        keys.append(key);
    }
    if (keys.isEmpty())
        return failWith(TrustMessages::publicKeyInvalid(configValues.join(QLatin1Char(','))),
                        error);
    m_keys = keys;
    return true;
}

bool ReleaseVerifier::verifyDescription(const QByteArray &description,
                                        const QByteArray &signatureFile, const QString &url,
                                        const SequenceRecord &floor, VerifiedRelease *release,
                                        QString *error, const QDateTime &now) const
{
    return checkSignature(description, signatureFile, error) &&
           checkRelease(description, url, floor, release, error, now);
}

bool ReleaseVerifier::checkSignature(const QByteArray &description, const QByteArray &signatureFile,
                                     QString *error) const
{
    switch (::checkSignature(description, signatureFile, m_keys)) {
    case SignatureCheck::Valid:
        return true;
    case SignatureCheck::Missing:
        return failWith(TrustMessages::signatureMissing(), error);
    case SignatureCheck::UnknownKey:
        return failWith(TrustMessages::unknownKey(), error);
    case SignatureCheck::Invalid:
        break;
    }
    return failWith(TrustMessages::signatureInvalid(), error);
}

// QSettings reads only files: the verified bytes go into a temporary file of this user's own
// (the cache's copy could be replaced by another local writer between the check and the read).
bool ReleaseVerifier::checkRelease(const QByteArray &description, const QString &url,
                                   const SequenceRecord &floor, VerifiedRelease *release,
                                   QString *error, const QDateTime &now)
{
    QTemporaryFile copy;
    if (!copy.open() || copy.write(description) != description.size() || !copy.flush())
        return failWith(QCoreApplication::translate("QObject", "创建文件[%1]失败:%2")
                            .arg(copy.fileName(), copy.errorString()),
                        error);
    const QSettings ini(copy.fileName(), QSettings::IniFormat);
    const ReleaseSection section = readReleaseSection(ini);
    if (!checkSequence(section, description, floor, error) || !checkExpiry(section, now, error))
        return false;
    *release = VerifiedRelease::described(readUpdateDescription(ini, url), description, section);
    return true;
}
