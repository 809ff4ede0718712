#include "signingtool.h"

#include "publishfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString privateKeyFileName()
{
    return QStringLiteral("update-signing.key");
}

QString publicKeyFileName()
{
    return QStringLiteral("update-signing.pub");
}

namespace {

// The file is made private before anything secret is written into it.
bool writeNewFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    if (file.setPermissions(mode) && file.write(bytes) == bytes.size() && file.flush())
        return true;
    file.remove();
    return false;
}

} // namespace

bool writeKeyPair(const QString &folder, PublicKey *publicKey, QString *error)
{
    const QDir dir(folder);
    const QString keyPath = dir.absoluteFilePath(privateKeyFileName());
    const QString pubPath = dir.absoluteFilePath(publicKeyFileName());
    if (QFileInfo::exists(keyPath) || QFileInfo::exists(pubPath)) {
        *error = QStringLiteral("%1 already holds a key pair; it is never replaced (move it "
                                "away first, or choose another folder)")
                     .arg(dir.absolutePath());
        return false;
    }
    const SigningKey key = SigningKey::generate();
    const QByteArray pem = key.toPem();
    *publicKey = key.publicKey();
    if (pem.isEmpty() || publicKey->isNull()) {
        *error = QStringLiteral("cannot generate an Ed25519 key");
        return false;
    }
    if (!QDir().mkpath(dir.absolutePath()) ||
        !writeNewFile(keyPath, pem, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        !writeNewFile(pubPath, publicKey->toBase64() + '\n', PublicFile)) {
        QFile::remove(keyPath); // no half pair: a left-over would block the next --keygen
        *error = QStringLiteral("cannot write the key pair into %1").arg(dir.absolutePath());
        return false;
    }
    return true;
}

bool readSigningKeys(const QStringList &paths, QList<SigningKey> *keys, QString *error)
{
    for (const QString &path : paths) {
        QFile file(path);
        const SigningKey key =
            file.open(QIODevice::ReadOnly) ? SigningKey::fromPem(file.readAll()) : SigningKey();
        if (key.isNull()) {
            *error = QStringLiteral("%1 is no readable, unencrypted Ed25519 private key (PEM)")
                         .arg(path);
            return false;
        }
        keys->append(key);
    }
    return true;
}

bool readPublicKeys(const QStringList &paths, QList<PublicKey> *keys, QString *error)
{
    for (const QString &path : paths) {
        const PublicKey key = PublicKey::fromBase64(readAll(path));
        if (key.isNull()) {
            *error =
                QStringLiteral("%1 holds no public key (32 bytes in base64 on one line)").arg(path);
            return false;
        }
        keys->append(key);
    }
    return true;
}
