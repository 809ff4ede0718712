#pragma once

#include <QByteArray>
#include <QtGlobal>

// Streaming MD5 (RFC 1321) for hashing files piece by piece. Same digest as
// QCryptographicHash::Md5; its block function keeps pace with coreutils md5sum, which
// Qt's does not quite, and hashing installed files is the updater's slowest step.
class Md5Stream
{
public:
    void addData(const char *data, qint64 size);
    QByteArray result() const; // the raw 16 bytes, like QCryptographicHash::result()

private:
    void processBlocks(const uchar *blocks, qint64 count);

    quint32 m_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    quint64 m_length = 0;
    uchar m_pending[64] = {};
    int m_pendingSize = 0;
};
