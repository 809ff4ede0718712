#include "partialbody.h"

#include "digest.h"
#include "fileops.h"

namespace {

// The durable barrier before the apply would otherwise write a large file at once; asking
// the system to start writing as the body arrives overlaps that with the transfer.
constexpr qint64 WriteBackBytes = 8 * 1024 * 1024;

} // namespace

PartialBody::PartialBody(const QString &path, bool withSha256)
    : m_file(path), m_withSha256(withSha256)
{}

bool PartialBody::open(qint64 keep)
{
    m_hash = std::make_unique<ContentHash>(m_withSha256);
    m_kept = m_size = m_writtenBack = keep;
    QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (keep == 0)
        mode |= QIODevice::Truncate;
    if (!m_file.open(mode))
        return false;
    // The checks cover the whole file, so the bytes at hand are hashed first.
    if (keep > 0 && !hashFrom(m_file, keep, m_hash.get())) {
        m_file.close();
        return false;
    }
    return true;
}

bool PartialBody::restart()
{
    m_hash = std::make_unique<ContentHash>(m_withSha256);
    m_kept = m_size = m_writtenBack = 0;
    return m_file.resize(0) && m_file.seek(0);
}

bool PartialBody::append(const char *data, qint64 size)
{
    m_hash->addData(data, size);
    m_size += size;
    if (m_file.write(data, size) != size)
        return false;
    if (m_size - m_writtenBack >= WriteBackBytes) {
        fileops::startWriteBack(m_file, m_writtenBack, m_size);
        m_writtenBack = m_size;
    }
    return true;
}

void PartialBody::close()
{
    m_file.close();
}

QByteArray PartialBody::md5Text()
{
    return digestTextFromMd5(m_hash->md5());
}

QByteArray PartialBody::sha256Hex()
{
    return m_hash->sha256().toHex();
}

bool PartialBody::store(const QString &target)
{
    const bool flushed = fileops::flushWritten(m_file);
    m_file.close();
    return flushed && fileops::replace(m_file.fileName(), target);
}
