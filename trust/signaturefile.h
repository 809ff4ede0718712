#pragma once

#include "ed25519key.h"

#include <QByteArray>
#include <QList>

// update.ini.sig: one line per signing key, "ed25519 KEYID SIGNATURE", where KEYID is
// PublicKey::keyId() and SIGNATURE the base64 of the Ed25519 signature of update.ini's
// exact bytes. Several lines let clients that know either key accept a release.
struct SignatureLine
{
    QByteArray keyId;     // 16 lower-case hex digits
    QByteArray signature; // the 64 raw bytes
};

// The line for `key` over `message`, ending with LF; empty when signing failed.
QByteArray signatureLine(const SigningKey &key, const QByteArray &message);

// The well-formed ed25519 lines, in file order. Other lines (another algorithm, wrong field
// count, a bad key id or signature encoding) are skipped. CR LF endings are accepted.
QList<SignatureLine> parseSignatureFile(const QByteArray &text);

enum class SignatureCheck {
    Valid,      // a line of a configured key verifies
    Missing,    // no well-formed line at all
    UnknownKey, // well-formed lines, none of a configured key
    Invalid,    // a configured key's line does not verify the message
};

SignatureCheck checkSignature(const QByteArray &message, const QByteArray &signatureFile,
                              const QList<PublicKey> &keys);
