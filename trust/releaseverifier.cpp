#include "releaseverifier.h"

#include "signaturefile.h"
#include "trustmessages.h"

#include <QFileInfo>

QString signatureUrl(const QString &url)
{
    return url + QStringLiteral("/update.ini.sig");
}

QString sha256ListUrl(const QString &baseUrl)
{
    return baseUrl + QStringLiteral("/sha256.txt");
}

bool ReleaseVerifier::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool ReleaseVerifier::setPublicKeys(const QString &configValue)
{
    QList<PublicKey> keys;
    for (const QString &text : configValue.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const PublicKey key = PublicKey::fromBase64(text.trimmed().toLatin1());
        if (key.isNull())
            return fail(TrustMessages::publicKeyInvalid(text.trimmed()));
        keys.append(key);
    }
    if (keys.isEmpty())
        return fail(TrustMessages::publicKeyInvalid(configValue));
    m_keys = keys;
    return true;
}

bool ReleaseVerifier::checkSignature(const QByteArray &description, const QByteArray &signatureFile)
{
    switch (::checkSignature(description, signatureFile, m_keys)) {
    case SignatureCheck::Valid:
        return true;
    case SignatureCheck::Missing:
        return fail(TrustMessages::signatureMissing());
    case SignatureCheck::UnknownKey:
        return fail(TrustMessages::unknownKey());
    case SignatureCheck::Invalid:
        break;
    }
    return fail(TrustMessages::signatureInvalid());
}

bool ReleaseVerifier::checkRelease(const QString &storedDescriptionPath, qint64 appliedSequence,
                                   const QDateTime &now)
{
    m_release = readReleaseSection(storedDescriptionPath);
    if (!m_release.hasSequence())
        return fail(TrustMessages::sequenceMissing());
    if (m_release.sequence < appliedSequence)
        return fail(TrustMessages::sequenceRollback(m_release.sequence, appliedSequence));
    if (!m_release.hasExpiry())
        return true;
    if (!m_release.expires.isValid())
        return fail(TrustMessages::expiresInvalid(m_release.expiresText));
    if (m_release.expires <= now)
        return fail(TrustMessages::expired(
            m_release.expires.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))));
    return true;
}

bool ReleaseVerifier::checkMd5List(const QByteArray &listBytes)
{
    if (m_release.md5List.isEmpty() || sha256Hex(listBytes) != m_release.md5List.toLower())
        return fail(TrustMessages::md5ListMismatch());
    return true;
}

bool ReleaseVerifier::checkSha256List(const QByteArray &listBytes)
{
    if (m_release.sha256List.isEmpty() || sha256Hex(listBytes) != m_release.sha256List.toLower())
        return fail(TrustMessages::sha256ListMismatch());
    m_sha256List = parseSha256List(listBytes);
    m_listsChecked = true;
    return true;
}

bool ReleaseVerifier::checkFile(const QString &path, const QByteArray &sha256Hex)
{
    const QString fileName = QFileInfo(path).fileName();
    const auto listed = m_sha256List.constFind(path);
    if (listed == m_sha256List.constEnd())
        return fail(TrustMessages::fileNotInSha256List(fileName));
    if (sha256Hex.isEmpty() || listed.value().toLower() != sha256Hex.toLower())
        return fail(TrustMessages::fileSha256Mismatch(fileName));
    return true;
}
