#include "filehash.h"

#include "fileops.h"

#include <QFile>

#include <openssl/evp.h>

namespace {

// Large enough to keep the hashes busy, small enough to keep memory flat for any file size.
constexpr qint64 ChunkBytes = 1024 * 1024;

// Reads up to `length` bytes (all when negative) of `file` into `hash`; false on a read
// error, or when a given length ends early.
bool hashChunks(QFile &file, qint64 length, ContentHash *hash)
{
    QByteArray buffer(int(ChunkBytes), Qt::Uninitialized);
    qint64 left = length;
    while (length < 0 || left > 0) {
        const qint64 want = length < 0 ? ChunkBytes : qMin(ChunkBytes, left);
        const qint64 got = file.read(buffer.data(), want);
        if (got < 0)
            return false;
        if (got == 0)
            return length < 0;
        hash->addData(buffer.constData(), got);
        left -= got;
    }
    return true;
}

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

ContentHash::ContentHash(bool withSha256)
    : m_sha256(withSha256 ? std::make_unique<Sha256Hash>() : nullptr)
{}

void ContentHash::addData(const char *data, qint64 length)
{
    m_md5.addData(data, int(length));
    if (m_sha256)
        m_sha256->addData(data, length);
    m_size += length;
}

QByteArray ContentHash::sha256()
{
    return m_sha256 ? m_sha256->result() : QByteArray();
}

bool hashFile(const QString &path, ContentHash *hash)
{
    QFile file(path);
    return fileops::openSequential(file) && hashChunks(file, -1, hash);
}

bool hashFrom(QFile &file, qint64 length, ContentHash *hash)
{
    return hashChunks(file, length, hash);
}

bool isLowerHex(const QByteArray &text, int length)
{
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
