#include "signaturefile.h"

#include "filehash.h"

namespace {

const QByteArray Algorithm = QByteArrayLiteral("ed25519");

bool parseLine(const QByteArray &line, SignatureLine *parsed)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 3 || fields.at(0) != Algorithm)
        return false;
    const QByteArray keyId = fields.at(1).toLower();
    if (!isLowerHex(keyId, 16))
        return false;
    const auto decoded =
        QByteArray::fromBase64Encoding(fields.at(2), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != SigningKey::SignatureSize)
        return false;
    parsed->keyId = keyId;
    parsed->signature = decoded.decoded;
    return true;
}

} // namespace

QByteArray signatureLine(const SigningKey &key, const QByteArray &message)
{
    const QByteArray signature = key.sign(message);
    if (signature.isEmpty())
        return QByteArray();
    return Algorithm + ' ' + key.publicKey().keyId() + ' ' + signature.toBase64() + '\n';
}

QList<SignatureLine> parseSignatureFile(const QByteArray &text)
{
    QList<SignatureLine> lines;
    for (const QByteArray &line : text.split('\n')) {
        SignatureLine parsed;
        if (parseLine(line, &parsed))
            lines.append(parsed);
    }
    return lines;
}

SignatureCheck checkSignature(const QByteArray &message, const QByteArray &signatureFile,
                              const QList<PublicKey> &keys)
{
    const QList<SignatureLine> lines = parseSignatureFile(signatureFile);
    if (lines.isEmpty())
        return SignatureCheck::Missing;
    bool knownKeySeen = false;
    for (const SignatureLine &line : lines) {
        for (const PublicKey &key : keys) {
            if (key.isNull() || key.keyId() != line.keyId)
                continue;
            knownKeySeen = true;
            if (key.verify(message, line.signature))
                return SignatureCheck::Valid;
        }
    }
    return knownKeySeen ? SignatureCheck::Invalid : SignatureCheck::UnknownKey;
}
