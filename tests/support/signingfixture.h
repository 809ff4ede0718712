#pragma once

#include "publishrun.h"
#include "testfiles.h"

#include <QMap>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Key pairs, release folders and a server root in a temporary folder, and update-publish
// run on them the way a release engineer publishes, signs and checks releases. Each key
// pair is in the folder of its name ("a/update-signing.key", "a/update-signing.pub").
class SigningFixture : public QObject
{
public:
    using Files = QMap<QString, QByteArray>;

protected:
    // A new temporary folder with the key pairs `keys`.
    bool setUpKeys(const QStringList &keys);
    // The same with the key pair "a" and the folder "release" of two files.
    bool setUpRelease();

    QString path(const QString &relative) const { return m_work->filePath(relative); }
    QString root() const { return path(QStringLiteral("root")); }
    QString keyFile(const QString &name) const;
    QString publicKeyFile(const QString &name) const;
    // The base64 public key of the pair `name`, as "PublicKey" in system.cfg takes it.
    QString publicKey(const QString &name) const;
    // "--sign KEYFILE" for each of the pairs `keys`.
    QStringList signOptions(const QStringList &keys) const;

    ToolRun keygen(const QString &name) const;
    // update-publish RELEASE ROOT --folder FOLDER, then `options`.
    ToolRun publishFolder(const QString &release, const QString &folder,
                          const QStringList &options) const;
    // The folder "release" published as `folder`; signed with the key "a".
    ToolRun publish(const QString &folder, const QStringList &options) const;
    ToolRun publishSigned(const QString &folder, const QStringList &options = {}) const;
    // update-publish --verify of the root with the public key of the pair `name`.
    ToolRun verify(const QString &name = QStringLiteral("a")) const;
    // Release/Sequence of the root's update.ini.
    qint64 sequence() const;

    QScopedPointer<QTemporaryDir> m_work;
};
