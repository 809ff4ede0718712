#include "releasefetch.h"

#include "appliedsequence.h"
#include "httprequest.h"
#include "tlsconfig.h"
#include "trustmessages.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QFile>
#include <QUrl>

ReleaseFetch::ReleaseFetch(QNetworkAccessManager *manager, const UpdateConfig &config,
                           int timeoutSeconds)
    : m_manager(manager), m_config(config), m_timeoutSeconds(timeoutSeconds)
{}

bool ReleaseFetch::configure(QString *error)
{
    if (m_config.hasCaFile) {
        QSslConfiguration pinned;
        if (!loadCaFile(m_config.caFile, &pinned, error))
            return false;
        m_sslConfiguration = pinned;
    }
    if (m_config.hasPublicKey) {
        ReleaseVerifier verifier;
        if (!verifier.setPublicKeys(m_config.publicKeys, error))
            return false;
        m_verifier = verifier;
    }
    return true;
}

// A signed description's signature must verify its exact bytes before they are stored, and
// its [Release] section (neither older than the release applied here nor expired) is read
// from those bytes.
bool ReleaseFetch::fetchDescription(FetchedRelease *fetched, QString *error)
{
    QByteArray body;
    QString transferError;
    if (!fetch(UpdateNames::descriptionUrl(m_config.url), &body, &transferError)) {
        *error = QObject::tr("下载升级描述文件失败:%1").arg(transferError);
        return false;
    }
    if (isSigned()) {
        QByteArray signature;
        if (!fetch(UpdateNames::signatureUrl(m_config.url), &signature, &transferError)) {
            *error = TrustMessages::signatureFetchFailed(transferError);
            return false;
        }
        if (!m_verifier->checkSignature(body, signature, error))
            return false;
        qCInfo(lcCheck, "update.ini: signature verified");
    }
    if (!storeDescription(body, error))
        return false;
    if (isSigned()) {
        if (!ReleaseVerifier::checkRelease(body, m_config.url,
                                           readAppliedSequence(m_config.installDir),
                                           &fetched->release, error))
            return false;
        qCInfo(lcCheck, "update.ini: Sequence %lld accepted", fetched->release.sequence());
        fetched->description = fetched->release.description();
    } else {
        fetched->description = readUpdateDescription(
            m_config.cacheDir.absoluteFilePath(UpdateNames::description()), m_config.url);
    }
    qCInfo(lcRun, "update.ini: folder \"%s\", version \"%s\", %s update",
           qUtf8Printable(fetched->description.folder),
           qUtf8Printable(fetched->description.version),
           fetched->description.updateType != 0 ? "forced" : "optional");
    return true;
}

// Not written through the file layer: the stored copy is the server's text as received.
bool ReleaseFetch::storeDescription(const QByteArray &body, QString *error) const
{
    const QString path = m_config.cacheDir.absoluteFilePath(UpdateNames::description());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        *error = QObject::tr("创建文件[%1]失败:%2").arg(path, file.errorString());
        return false;
    }
    file.write(body); // not checked: a short copy reads back as a description with fewer keys
    file.close();
    return true;
}

bool ReleaseFetch::fetchLists(FetchedRelease *fetched, QString *error)
{
    QString transferError;
    if (!fetch(fetched->description.listUrl, &fetched->list, &transferError)) {
        *error = QObject::tr("下载更新列表文件失败:%1").arg(transferError);
        return false;
    }
    return !isSigned() || verifyLists(fetched, error);
}

// md5.txt as fetched, and sha256.txt, must be the lists the signed description names.
bool ReleaseFetch::verifyLists(FetchedRelease *fetched, QString *error)
{
    if (!fetched->release.checkMd5List(fetched->list, error))
        return false;
    QByteArray sha256List;
    QString transferError;
    if (!fetch(UpdateNames::sha256ListUrl(fetched->description.baseUrl), &sha256List,
               &transferError)) {
        *error = TrustMessages::sha256ListFetchFailed(transferError);
        return false;
    }
    if (!fetched->release.withSha256List(sha256List, &fetched->release, error))
        return false;
    qCInfo(lcCheck, "md5.txt and sha256.txt match update.ini");
    return true;
}

bool ReleaseFetch::fetch(const QString &address, QByteArray *body, QString *error)
{
    return sendHttpRequest(m_manager, QUrl(address), body, error, m_timeoutSeconds, {},
                           QByteArrayLiteral("GET"), {}, nullptr,
                           m_sslConfiguration ? &*m_sslConfiguration : nullptr);
}
