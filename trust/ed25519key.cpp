#include "ed25519key.h"

#include "sha256.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using PkeyPointer = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtxPointer = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BioPointer = std::unique_ptr<BIO, BioFree>;

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

PublicKey PublicKey::fromRaw(const QByteArray &raw)
{
    PublicKey key;
    if (raw.size() == Size)
        key.m_raw = raw;
    return key;
}

PublicKey PublicKey::fromBase64(const QByteArray &text)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return PublicKey();
    return fromRaw(decoded.decoded);
}

QByteArray PublicKey::keyId() const
{
    return sha256(m_raw).left(8).toHex();
}

bool PublicKey::verify(const QByteArray &message, const QByteArray &signature) const
{
    if (isNull() || signature.size() != SigningKey::SignatureSize)
        return false;
    const PkeyPointer key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(m_raw), size_t(m_raw.size())));
    const MdCtxPointer context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), bytes(signature), size_t(signature.size()),
                            bytes(message), size_t(message.size())) == 1;
}

SigningKey SigningKey::generate()
{
    SigningKey key;
    key.m_key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), PkeyFree());
    return key;
}

SigningKey SigningKey::fromPem(const QByteArray &pem)
{
    SigningKey key;
    const BioPointer bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    // An empty pass phrase: an encrypted key fails here instead of prompting on the terminal.
    char noPassword[] = "";
    PkeyPointer loaded(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, noPassword)
                           : nullptr);
    if (loaded && EVP_PKEY_get_id(loaded.get()) == EVP_PKEY_ED25519)
        key.m_key.reset(loaded.release(), PkeyFree());
    return key;
}

QByteArray SigningKey::toPem() const
{
    const BioPointer bio(BIO_new(BIO_s_mem()));
    if (isNull() || !bio ||
        PEM_write_bio_PrivateKey(bio.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1)
        return QByteArray();
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

PublicKey SigningKey::publicKey() const
{
    QByteArray raw(PublicKey::Size, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (isNull() || EVP_PKEY_get_raw_public_key(
                        m_key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1)
        return PublicKey();
    return PublicKey::fromRaw(raw.left(int(length)));
}

QByteArray SigningKey::sign(const QByteArray &message) const
{
    const MdCtxPointer context(EVP_MD_CTX_new());
    if (isNull() || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1)
        return QByteArray();
    QByteArray signature(SignatureSize, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       bytes(message), size_t(message.size())) != 1 ||
        int(length) != SignatureSize)
        return QByteArray();
    return signature;
}
