#include "signedreleasefixture.h"

#include "ed25519key.h"
#include "sha256.h"
#include "signaturefile.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

bool SignedReleaseFixture::setUp(const QString &serverDirectives)
{
    if (!setUpKeys({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}) ||
        !QDir().mkpath(root()))
        return false;
    m_server.reset(new NginxServer(root()));
    m_server->setServerDirectives(serverDirectives);
    m_install.reset(new TestInstall);
    return m_server->start() && m_install->isValid();
}

void SignedReleaseFixture::tearDown()
{
    m_install.reset();
    m_server.reset();
    m_work.reset();
}

void SignedReleaseFixture::configure(const QString &publicKey, const QString &url,
                                     const QString &caFile) const
{
    QByteArray text = "[Update]\nURL=" + (url.isEmpty() ? m_server->url() : url).toUtf8() +
                      "\nCache=" + path(QStringLiteral("cache")).toUtf8() + "\n";
    if (!publicKey.isNull())
        text += "PublicKey=" + publicKey.toUtf8() + "\n";
    if (!caFile.isNull())
        text += "CaFile=" + caFile.toUtf8() + "\n";
    m_install->writeConfigText(text);
}

bool SignedReleaseFixture::publish(const QString &folder, const Files &files,
                                   const QStringList &keys, const QStringList &extra) const
{
    const QString release = path(QStringLiteral("releases/") + folder);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!writeFile(release, it.key(), it.value()))
            return false;
    }
    const ToolRun run = publishFolder(release, folder, signOptions(keys) + extra);
    if (run.exitCode != 0)
        qWarning("update-publish: %s", run.errors.constData());
    return run.exitCode == 0;
}

bool SignedReleaseFixture::resign(const QByteArray &description, const QString &name) const
{
    const SigningKey key = SigningKey::fromPem(readFile(keyFile(name)));
    const QByteArray signature = signatureLine(key, description);
    return !signature.isEmpty() && writeFile(root(), QStringLiteral("update.ini"), description) &&
           writeFile(root(), QStringLiteral("update.ini.sig"), signature);
}

bool SignedReleaseFixture::replaceSha256List(const QString &folder, const QByteArray &list,
                                             const QString &signer) const
{
    QByteArray description = readFile(root() + QStringLiteral("/update.ini"));
    const QRegularExpression named(QStringLiteral("Sha256List=[0-9a-f]{64}"));
    const QString replaced =
        QString::fromLatin1(description)
            .replace(named, QStringLiteral("Sha256List=") + QString::fromLatin1(sha256Hex(list)));
    return replaced.toLatin1() != description &&
           writeFile(root(), folder + QStringLiteral("/sha256.txt"), list) &&
           resign(replaced.toLatin1(), signer);
}

QStringList SignedReleaseFixture::clientOnlyNames()
{
    return {QStringLiteral("system.cfg"),           QStringLiteral("update_md5.info"),
            QStringLiteral("update_sequence.info"), QStringLiteral("update"),
            QStringLiteral("update.exe"),           QStringLiteral("Host.exe"),
            QStringLiteral("host-starts.jsonl"),    QStringLiteral("*.old")};
}

QString SignedReleaseFixture::lastError(const UpdaterRun &run)
{
    const int last = run.output.lastIndexOf("{\"errormsg\"");
    return QJsonDocument::fromJson(run.output.mid(last))
        .object()
        .value(QStringLiteral("errormsg"))
        .toString();
}

QByteArray SignedReleaseFixture::flipByte(QByteArray bytes, int index)
{
    bytes[index] = char(bytes.at(index) ^ 0x01);
    return bytes;
}

bool SignedReleaseFixture::snapshotInstall() const
{
    return runTool(QStringLiteral("cp"),
                   {QStringLiteral("-a"), installDir(), path(QStringLiteral("install-before"))})
               .exitCode == 0;
}

bool SignedReleaseFixture::installUnchanged(QByteArray *differences,
                                            const QStringList &ignored) const
{
    return foldersEqual(path(QStringLiteral("install-before")), installDir(), ignored, differences);
}

QStringList SignedReleaseFixture::requestsSince(int from) const
{
    QStringList paths = m_server->requestedPaths().mid(from);
    for (QString &requested : paths)
        requested = QDir::cleanPath(requested);
    return paths;
}
