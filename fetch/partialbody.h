#pragma once

#include "filehash.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// The body of one listed file on its way into the cache: its partial file, written as the
// bytes arrive and hashed over all of it (MD5, and SHA-256 for a signed release), given its
// listed name only once the caller's checks have passed.
class PartialBody
{
public:
    PartialBody(const QString &path, bool withSha256);

    // Opens the partial file, keeping (and hashing now) its first `keep` bytes, or emptied
    // when `keep` is 0. False when it cannot be opened or its beginning cannot be read.
    bool open(qint64 keep);
    // Drops the kept beginning: the body starts again from its first byte.
    bool restart();
    // False when not all of it could be written.
    bool append(const char *data, qint64 size);
    void close();

    // Bytes kept from an earlier transfer, and bytes of the body in all.
    qint64 kept() const { return m_kept; }
    qint64 size() const { return m_size; }
    // Digest text of the MD5, and the SHA-256 hex (empty unsigned); each may be asked once.
    QByteArray md5Text();
    QByteArray sha256Hex();

    // Flushes the body where the cache's barrier needs it, closes it and renames it to
    // `target`, replacing what stood there.
    bool store(const QString &target);

private:
    QFile m_file;
    bool m_withSha256;
    std::unique_ptr<ContentHash> m_hash;
    qint64 m_kept = 0;
    qint64 m_size = 0;
    qint64 m_writtenBack = 0;
};
