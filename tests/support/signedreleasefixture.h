#pragma once

#include "nginxserver.h"
#include "signingfixture.h"
#include "testinstall.h"

#include <QScopedPointer>
#include <QString>
#include <QStringList>

// Signed releases published into the root that a private nginx serves, and an installation
// whose `update console` is run against it as a real process.
class SignedReleaseFixture : public SigningFixture
{
protected:
    // The key pairs "a", "b" and "c", the server and the installation; `serverDirectives`
    // go into nginx's server block.
    bool setUp(const QString &serverDirectives = QString());
    void tearDown();

    QString installDir() const { return m_install->appDir(); }

    // system.cfg with the server, the cache and, when not null, "PublicKey" (and "CaFile").
    void configure(const QString &publicKey, const QString &url = QString(),
                   const QString &caFile = QString()) const;
    // A release folder with `files`, published as `folder` with each of `keys` signing.
    bool publish(const QString &folder, const Files &files, const QStringList &keys,
                 const QStringList &extra = {}) const;

    // update.ini replaced by `description` and signed anew with the key `name` only, as a
    // publisher who holds that key would.
    bool resign(const QByteArray &description, const QString &name) const;
    // The folder's sha256.txt replaced by `list`, named in update.ini, signed by `signer`.
    bool replaceSha256List(const QString &folder, const QByteArray &list,
                           const QString &signer) const;

    // From a working folder outside the installation.
    UpdaterRun runConsole() const
    {
        return m_install->run({QStringLiteral("console")}, 60000, m_work->path());
    }
    // The message of the run's last report; empty when it reported success.
    static QString lastError(const UpdaterRun &run);
    static QByteArray flipByte(QByteArray bytes, int index);
    // The client's own files and the replaced ones (*.old): never part of a release.
    static QStringList clientOnlyNames();

    // A copy of the installation folder to compare with after a refused run.
    bool snapshotInstall() const;
    // Every file as in the copy but those matching `ignored`.
    bool installUnchanged(QByteArray *differences, const QStringList &ignored = {}) const;

    // Requests since `from`, as paths with doubled slashes merged.
    QStringList requestsSince(int from) const;
    int requestCount() const { return m_server->requestedPaths().size(); }

    QScopedPointer<NginxServer> m_server;
    QScopedPointer<TestInstall> m_install;
};
