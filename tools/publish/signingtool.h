#pragma once

#include "ed25519key.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextCodec;

// File names of a key pair made by --keygen.
QString privateKeyFileName();
QString publicKeyFileName();

// Writes a new Ed25519 key pair into `folder` (created if missing): the private key in PEM
// (PKCS#8), readable by its owner only, and the public key in base64 on one line. Never
// replaces an existing key.
bool writeKeyPair(const QString &folder, PublicKey *publicKey, QString *error);

// Reads the private keys given to --sign; fails naming the first unusable file.
bool readSigningKeys(const QStringList &paths, QList<SigningKey> *keys, QString *error);

// Reads the public keys given to --public-key (.pub files, or anything holding one base64 key).
bool readPublicKeys(const QStringList &paths, QList<PublicKey> *keys, QString *error);

// What --verify found: `problems` empty means the tree is what a client accepts.
struct VerifyReport
{
    QStringList problems;
    QStringList facts; // what was checked, for the success message
};

// Checks a published tree as a client configured with `keys` would see it: the signature
// over update.ini, the [Release] section, md5.txt and sha256.txt against it, every listed
// file's size, MD5 and SHA-256, and the packed copies the section names (verifyPackedCopies).
VerifyReport verifyPublishedRelease(const QString &root, const QList<PublicKey> &keys,
                                    QTextCodec *codec);
