#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <memory>

class QTextCodec;

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 through OpenSSL's EVP interface.

// Incremental hashing, e.g. of a download while it is written.
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

// The 32-byte digest of `data`.
QByteArray sha256(const QByteArray &data);
// The digest as 64 lower-case hex digits.
QByteArray sha256Hex(const QByteArray &data);
// Hashes a file in chunks; false when it cannot be opened or read.
bool fileSha256Hex(const QString &path, QByteArray *hex);

// sha256.txt: the layout of md5.txt with the file's SHA-256 hex as the first field.
// Keyed like a Manifest (normalised path); the value is the listed hash as it stands.
// Paths are decoded by `pathCodec`, or from the local 8-bit encoding when it is null.
using Sha256List = QMap<QString, QByteArray>;
Sha256List parseSha256List(const QByteArray &text, QTextCodec *pathCodec = nullptr);
