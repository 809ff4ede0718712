#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

typedef struct evp_pkey_st EVP_PKEY;

// An Ed25519 public key: the 32 raw bytes, as configured ("PublicKey") or published (.pub).
class PublicKey
{
public:
    static constexpr int Size = 32;

    PublicKey() = default;
    // Accepts exactly 32 bytes; anything else gives a null key.
    static PublicKey fromRaw(const QByteArray &raw);
    // Base64 of 32 bytes, surrounding white space ignored; anything else gives a null key.
    static PublicKey fromBase64(const QByteArray &text);

    bool isNull() const { return m_raw.isEmpty(); }
    QByteArray raw() const { return m_raw; }
    QByteArray toBase64() const { return m_raw.toBase64(); }
    // The first 8 bytes of the SHA-256 of the raw key, as 16 lower-case hex digits.
    QByteArray keyId() const;
    // True only for a valid Ed25519 signature of exactly `message` by this key.
    bool verify(const QByteArray &message, const QByteArray &signature) const;

private:
    QByteArray m_raw;
};

// An Ed25519 private key, kept by the publisher in a PEM (PKCS#8) file.
class SigningKey
{
public:
    static constexpr int SignatureSize = 64;

    SigningKey() = default;
    static SigningKey generate();
    // Reads an unencrypted PEM private key; anything but Ed25519 gives a null key.
    static SigningKey fromPem(const QByteArray &pem);

    bool isNull() const { return !m_key; }
    QByteArray toPem() const;
    PublicKey publicKey() const;
    // The 64-byte signature of `message`; empty on failure.
    QByteArray sign(const QByteArray &message) const;

private:
    std::shared_ptr<EVP_PKEY> m_key;
};
