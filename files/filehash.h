#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <memory>

class QFile;

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 through OpenSSL's EVP interface, fed in pieces.
class Sha256Hash
{
public:
    Sha256Hash();
    bool addData(const char *data, qint64 length);
    // The 32-byte digest; empty when hashing failed. Ends the hash: add nothing after it.
    QByteArray result();

private:
    struct Free
    {
        void operator()(EVP_MD_CTX *context) const;
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context;
    bool m_ok = false;
};

// The digests of a file's content in one pass over its bytes: always MD5, and SHA-256 when
// asked for (the files of a signed release).
class ContentHash
{
public:
    explicit ContentHash(bool withSha256 = false);

    void addData(const char *data, qint64 length);
    qint64 size() const { return m_size; }
    // Raw digests; each ends its hash. sha256() is empty without SHA-256 or after a failure.
    QByteArray md5() { return m_md5.result(); }
    QByteArray sha256();

private:
    QCryptographicHash m_md5{QCryptographicHash::Md5};
    std::unique_ptr<Sha256Hash> m_sha256;
    qint64 m_size = 0;
};

// Hashes the whole file at `path`, read in chunks with the sequential hint; false when it
// cannot be opened or read.
bool hashFile(const QString &path, ContentHash *hash);
// Hashes the next `length` bytes of the open `file`; false when they cannot all be read.
bool hashFrom(QFile &file, qint64 length, ContentHash *hash);

// True when `text` is `length` lower-case hex digits, as every digest and key id is written.
bool isLowerHex(const QByteArray &text, int length);
