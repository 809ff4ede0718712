#pragma once

#include "config.h"
#include "description.h"
#include "packlist.h"
#include "proxysettings.h"
#include "releaseverifier.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QString>

#include <optional>

// What an attempt fetched before any file: the description, the MD5 list exactly as
// received and, for a signed release, what its checks yielded.
struct FetchedRelease
{
    UpdateDescription description;
    QByteArray list;
    VerifiedRelease release; // null for an unsigned release
    PackList packs;          // the release's packed copies, once fetched and checked
};

// The requests of an attempt before its files: update.ini (stored in the cache folder) and
// md5.txt, and for a signed release update.ini.sig and sha256.txt with their checks. Without
// "PublicKey" and "CaFile" in system.cfg no check runs and no extra request is made. Each
// file is bounded in size (update.ini and update.ini.sig 1 MiB, the lists 64 MiB). Each
// failure is the message the user sees. The list of packed copies comes last, only when
// files are to be fetched.
class ReleaseFetch
{
public:
    // `config` is the run's, read as it stands at each request.
    ReleaseFetch(QNetworkAccessManager *manager, const UpdateConfig &config, int timeoutSeconds);

    // "CaFile", "PublicKey" and "Proxy" (which goes on the manager at once). An unusable
    // value is a configuration error: the updater never falls back to unchecked releases,
    // to the system's authorities or to another proxy.
    bool configure(QString *error);
    // On every request when "CaFile" is set. Absent otherwise: merely making one starts
    // OpenSSL, which a plain HTTP run never needs.
    std::optional<QSslConfiguration> sslConfiguration() const { return m_sslConfiguration; }
    // For every other manager of the run.
    ProxySettings proxy() const { return m_proxy; }

    bool fetchDescription(FetchedRelease *fetched, QString *error);
    bool fetchLists(FetchedRelease *fetched, QString *error);
    // The list of packed copies that update.ini names (a signed release in its [Release]
    // section, an unsigned one in [Patches]), checked against the SHA-256 named with it. Only
    // a signed release's list that is not the named one fails; when there is none, or it
    // cannot be fetched or used, the files are fetched whole (a log line says why).
    bool fetchPackList(FetchedRelease *fetched, QString *error);

private:
    bool isSigned() const { return m_verifier.has_value(); }
    bool storeDescription(const QByteArray &body, QString *error) const;
    bool verifyLists(FetchedRelease *fetched, QString *error);
    bool checkPackList(const FetchedRelease &fetched, const QByteArray &list,
                       const QByteArray &sha256, QString *error) const;
    void recordSeen(const VerifiedRelease &release) const;
    // At most `limit` bytes are taken; a longer file fails with its own message.
    bool fetch(const QString &address, qint64 limit, QByteArray *body, QString *error);

    QNetworkAccessManager *m_manager;
    const UpdateConfig &m_config;
    int m_timeoutSeconds;
    std::optional<ReleaseVerifier> m_verifier; // the configured keys
    std::optional<QSslConfiguration> m_sslConfiguration;
    ProxySettings m_proxy;
};
