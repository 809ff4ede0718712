// The checks of a signed release and the TLS settings, both configured in "system.cfg".
// Without "PublicKey" and "CaFile" none of this runs and no extra request is made.
#include "driver.h"

#include "appliedsequence.h"
#include "fileops.h"
#include "tlsconfig.h"
#include "trustmessages.h"

// An unusable value is a configuration error: the updater never falls back to unchecked
// releases or to the system's authorities.
bool UpdateDriver::loadTrustSettings(QString *error)
{
    if (m_config.hasCaFile) {
        QSslConfiguration pinned;
        if (!loadCaFile(m_config.caFile, &pinned, error))
            return false;
        m_sslConfiguration = pinned;
    }
    if (m_config.hasPublicKey && !m_verifier.setPublicKeys(m_config.publicKey)) {
        *error = m_verifier.errorString();
        return false;
    }
    return true;
}

// The signature beside update.ini must verify its exact bytes before they are used.
bool UpdateDriver::verifyDescription(const QByteArray &body, AttemptData *data, Outcome *failure)
{
    QByteArray signature;
    QString transferError;
    if (!fetch(signatureUrl(m_config.url), &signature, &transferError)) {
        *failure = attemptFailure(TrustMessages::signatureFetchFailed(transferError));
        return false;
    }
    if (!data->release.checkSignature(body, signature)) {
        *failure = attemptFailure(data->release.errorString());
        return false;
    }
    return true;
}

// Neither older than the release applied here (rollback) nor expired.
bool UpdateDriver::verifyRelease(AttemptData *data, Outcome *failure)
{
    const QString stored = m_config.cacheDir.absoluteFilePath(QStringLiteral("update.ini"));
    if (!data->release.checkRelease(stored, readAppliedSequence(m_config.installDir))) {
        *failure = attemptFailure(data->release.errorString());
        return false;
    }
    return true;
}

// md5.txt as fetched, and sha256.txt, must be the lists the signed description names.
bool UpdateDriver::verifyLists(AttemptData *data, Outcome *failure)
{
    ReleaseVerifier &release = data->release;
    if (!release.checkMd5List(data->list)) {
        *failure = attemptFailure(release.errorString());
        return false;
    }
    QByteArray sha256List;
    QString transferError;
    if (!fetch(sha256ListUrl(data->description.baseUrl), &sha256List, &transferError)) {
        *failure = attemptFailure(TrustMessages::sha256ListFetchFailed(transferError));
        return false;
    }
    if (!release.checkSha256List(sha256List)) {
        *failure = attemptFailure(release.errorString());
        return false;
    }
    return true;
}

// The installation already is this release: its list, and a signed release's Sequence.
void UpdateDriver::recordNothingToDo(const AttemptData &data)
{
    writeFileBytes(recordPath(), data.list);
    if (isSigned())
        fileops::writeAtomically(appliedSequencePath(m_config.installDir),
                                 appliedSequenceBytes(data.release.release().sequence));
}
