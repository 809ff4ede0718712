#include "signingfixture.h"

#include <QSettings>

bool SigningFixture::setUpKeys(const QStringList &keys)
{
    m_work.reset(new QTemporaryDir);
    if (!m_work->isValid())
        return false;
    for (const QString &name : keys) {
        const ToolRun run = keygen(name);
        if (run.exitCode != 0) {
            qWarning("update-publish --keygen: %s", run.errors.constData());
            return false;
        }
    }
    return true;
}

bool SigningFixture::setUpRelease()
{
    return setUpKeys({QStringLiteral("a")}) &&
           writeFile(path(QStringLiteral("release")), QStringLiteral("doc/abc.txt"), "abc") &&
           writeFile(path(QStringLiteral("release")), QStringLiteral("bin/host.dll"),
                     QByteArray(70000, 'h'));
}

QString SigningFixture::keyFile(const QString &name) const
{
    return path(name + QStringLiteral("/update-signing.key"));
}

QString SigningFixture::publicKeyFile(const QString &name) const
{
    return path(name + QStringLiteral("/update-signing.pub"));
}

QString SigningFixture::publicKey(const QString &name) const
{
    return QString::fromLatin1(readFile(publicKeyFile(name)).trimmed());
}

QStringList SigningFixture::signOptions(const QStringList &keys) const
{
    QStringList options;
    for (const QString &name : keys)
        options << QStringLiteral("--sign") << keyFile(name);
    return options;
}

ToolRun SigningFixture::keygen(const QString &name) const
{
    return runPublish({QStringLiteral("--keygen"), path(name)});
}

ToolRun SigningFixture::publishFolder(const QString &release, const QString &folder,
                                      const QStringList &options) const
{
    return runPublish(QStringList{release, root(), QStringLiteral("--folder"), folder} + options);
}

ToolRun SigningFixture::publish(const QString &folder, const QStringList &options) const
{
    return publishFolder(path(QStringLiteral("release")), folder, options);
}

ToolRun SigningFixture::publishSigned(const QString &folder, const QStringList &options) const
{
    return publish(folder, signOptions({QStringLiteral("a")}) + options);
}

ToolRun SigningFixture::verify(const QString &name) const
{
    return runPublish(
        {QStringLiteral("--verify"), root(), QStringLiteral("--public-key"), publicKeyFile(name)});
}

qint64 SigningFixture::sequence() const
{
    return QSettings(root() + QStringLiteral("/update.ini"), QSettings::IniFormat)
        .value(QStringLiteral("Release/Sequence"))
        .toLongLong();
}
