#include "sha256.h"

#include "manifest.h"

#include <QFile>

#include <openssl/evp.h>

namespace {

constexpr qint64 ChunkSize = 1024 * 1024;

} // namespace

void Sha256Hash::Free::operator()(EVP_MD_CTX *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256Hash::Sha256Hash() : m_context(EVP_MD_CTX_new())
{
    m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
}

bool Sha256Hash::addData(const char *data, qint64 length)
{
    m_ok = m_ok && length >= 0 && EVP_DigestUpdate(m_context.get(), data, size_t(length)) == 1;
    return m_ok;
}

QByteArray Sha256Hash::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    m_ok =
        m_ok && EVP_DigestFinal_ex(m_context.get(),
                                   reinterpret_cast<unsigned char *>(digest.data()), &length) == 1;
    if (!m_ok)
        return QByteArray();
    m_ok = false;
    digest.truncate(int(length));
    return digest;
}

QByteArray sha256(const QByteArray &data)
{
    Sha256Hash hash;
    hash.addData(data.constData(), data.size());
    return hash.result();
}

QByteArray sha256Hex(const QByteArray &data)
{
    return sha256(data).toHex();
}

bool fileSha256Hex(const QString &path, QByteArray *hex)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    Sha256Hash hash;
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), ChunkSize);
        if (got < 0 || !hash.addData(buffer.constData(), got))
            return false;
        if (got == 0)
            break;
    }
    const QByteArray digest = hash.result();
    if (digest.isEmpty())
        return false;
    if (hex)
        *hex = digest.toHex();
    return true;
}

Sha256List parseSha256List(const QByteArray &text, QTextCodec *pathCodec)
{
    // The same lines as md5.txt, so the same parser; its digest field holds the SHA-256.
    Sha256List list;
    const Manifest entries = parseManifest(text, pathCodec);
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        list.insert(list.constEnd(), it.key(), it.value().md5);
    return list;
}
