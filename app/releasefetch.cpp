#include "releasefetch.h"

#include "appliedsequence.h"
#include "httprequest.h"
#include "sha256.h"
#include "tlsconfig.h"
#include "trustmessages.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QUrl>

namespace {

// The most bytes taken of each file before the release's files: enough for any real
// description and signature, and for a list of 100,000 files (about 6 MiB) ten times over.
constexpr qint64 DescriptionLimit = 1024 * 1024;
constexpr qint64 ListLimit = 64 * 1024 * 1024;

} // namespace

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
    if (m_config.hasProxy) {
        if (!ProxySettings::fromValue(m_config.proxy, QProcessEnvironment::systemEnvironment(),
                                      &m_proxy, error))
            return false;
        m_proxy.applyTo(m_manager);
        qCInfo(lcRun, "proxy: %s", qUtf8Printable(m_proxy.description()));
    }
    return true;
}

// A signed description's signature must verify its exact bytes before they are stored, and
// its [Release] section (not below the floor, the floor's own bytes at its Sequence, not
// expired) is read from those bytes, never from the stored copy.
bool ReleaseFetch::fetchDescription(FetchedRelease *fetched, QString *error)
{
    QByteArray body;
    QString transferError;
    if (!fetch(UpdateNames::descriptionUrl(m_config.url), DescriptionLimit, &body,
               &transferError)) {
        *error = QObject::tr("下载升级描述文件失败:%1").arg(transferError);
        return false;
    }
    if (isSigned()) {
        QByteArray signature;
        if (!fetch(UpdateNames::signatureUrl(m_config.url), DescriptionLimit, &signature,
                   &transferError)) {
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
                                           readSequenceRecord(m_config.installDir),
                                           &fetched->release, error))
            return false;
        qCInfo(lcCheck, "update.ini: Sequence %lld accepted", fetched->release.sequence());
        recordSeen(fetched->release);
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

// A verified Sequence is the floor from now on, whether or not its files arrive: a release
// seen once is never traded for an older one, nor for other bytes under its number.
void ReleaseFetch::recordSeen(const VerifiedRelease &release) const
{
    // Not checked beyond the log: the floor only ever protects, and the commit of the update
    // writes it again and fails if it cannot.
    if (!writeSequenceRecord(m_config.installDir,
                             {release.sequence(), release.descriptionSha256()}))
        qCInfo(lcCheck, "update.ini: Sequence %lld could not be recorded", release.sequence());
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
    if (!fetch(fetched->description.listUrl, ListLimit, &fetched->list, &transferError)) {
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
    if (!fetch(UpdateNames::sha256ListUrl(fetched->description.baseUrl), ListLimit, &sha256List,
               &transferError)) {
        *error = TrustMessages::sha256ListFetchFailed(transferError);
        return false;
    }
    if (!fetched->release.withSha256List(sha256List, &fetched->release, error))
        return false;
    qCInfo(lcCheck, "md5.txt and sha256.txt match update.ini");
    return true;
}

bool ReleaseFetch::fetchPackList(FetchedRelease *fetched, QString *error)
{
    const ReleaseSection section = fetched->release.section();
    const QString name = isSigned() ? section.patchList : fetched->description.packList;
    const QByteArray sha256 =
        isSigned() ? section.patchListSha256 : fetched->description.packListSha256;
    if (name.isEmpty())
        return true;
    if (!UpdateNames::isPackListPath(name) || !isLowerHex(sha256.toLower(), 64)) {
        qCInfo(lcFetch,
               "update.ini names no usable list of packed copies (\"%s\"): files are "
               "fetched whole",
               qUtf8Printable(name));
        return true;
    }
    QByteArray list;
    QString transferError;
    if (!fetch(UpdateNames::fileUrl(fetched->description.baseUrl, name), ListLimit, &list,
               &transferError)) {
        qCInfo(lcFetch, "%s could not be fetched (%s): files are fetched whole",
               qUtf8Printable(name), qUtf8Printable(transferError));
        return true;
    }
    if (!checkPackList(*fetched, list, sha256, error))
        return error->isEmpty();
    fetched->packs = parsePackList(list);
    qCInfo(lcCheck, "%s matches update.ini: %d packed copies", qUtf8Printable(name),
           int(fetched->packs.size()));
    return true;
}

// A signed release's list must be the one its signed description names; an unsigned one
// that is not costs the packed copies only (false with an empty error).
bool ReleaseFetch::checkPackList(const FetchedRelease &fetched, const QByteArray &list,
                                 const QByteArray &sha256, QString *error) const
{
    error->clear();
    if (isSigned())
        return fetched.release.checkPatchList(list, error);
    if (sha256Hex(list) == sha256.toLower())
        return true;
    qCInfo(lcFetch, "%s differs from update.ini: files are fetched whole",
           qUtf8Printable(fetched.description.packList));
    return false;
}

bool ReleaseFetch::fetch(const QString &address, qint64 limit, QByteArray *body, QString *error)
{
    return sendHttpRequest(
        m_manager, QUrl(address), body, error, m_timeoutSeconds, {}, QByteArrayLiteral("GET"), {},
        nullptr, m_sslConfiguration ? &*m_sslConfiguration : nullptr, limit, m_config.http2);
}
