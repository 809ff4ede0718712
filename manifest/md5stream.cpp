#include "md5stream.h"

#include <cstring>

namespace {

inline quint32 rotateLeft(quint32 value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// In G the two terms never share a bit, so '+' may stand for '|' and runs in parallel.
inline void stepF(quint32 &a, quint32 b, quint32 c, quint32 d, quint32 xt, int s)
{
    a = rotateLeft(a + (d ^ (b & (c ^ d))) + xt, s) + b;
}
inline void stepG(quint32 &a, quint32 b, quint32 c, quint32 d, quint32 xt, int s)
{
    a = rotateLeft(a + (~d & c) + (d & b) + xt, s) + b;
}
inline void stepH(quint32 &a, quint32 b, quint32 c, quint32 d, quint32 xt, int s)
{
    a = rotateLeft(a + (b ^ c ^ d) + xt, s) + b;
}
inline void stepI(quint32 &a, quint32 b, quint32 c, quint32 d, quint32 xt, int s)
{
    a = rotateLeft(a + (c ^ (b | ~d)) + xt, s) + b;
}

// clang-format off
inline void round1(quint32 &a, quint32 &b, quint32 &c, quint32 &d, const quint32 *x)
{
    stepF(a, b, c, d, x[0] + 0xd76aa478u, 7);
    stepF(d, a, b, c, x[1] + 0xe8c7b756u, 12);
    stepF(c, d, a, b, x[2] + 0x242070dbu, 17);
    stepF(b, c, d, a, x[3] + 0xc1bdceeeu, 22);
    stepF(a, b, c, d, x[4] + 0xf57c0fafu, 7);
    stepF(d, a, b, c, x[5] + 0x4787c62au, 12);
    stepF(c, d, a, b, x[6] + 0xa8304613u, 17);
    stepF(b, c, d, a, x[7] + 0xfd469501u, 22);
    stepF(a, b, c, d, x[8] + 0x698098d8u, 7);
    stepF(d, a, b, c, x[9] + 0x8b44f7afu, 12);
    stepF(c, d, a, b, x[10] + 0xffff5bb1u, 17);
    stepF(b, c, d, a, x[11] + 0x895cd7beu, 22);
    stepF(a, b, c, d, x[12] + 0x6b901122u, 7);
    stepF(d, a, b, c, x[13] + 0xfd987193u, 12);
    stepF(c, d, a, b, x[14] + 0xa679438eu, 17);
    stepF(b, c, d, a, x[15] + 0x49b40821u, 22);
}

inline void round2(quint32 &a, quint32 &b, quint32 &c, quint32 &d, const quint32 *x)
{
    stepG(a, b, c, d, x[1] + 0xf61e2562u, 5);
    stepG(d, a, b, c, x[6] + 0xc040b340u, 9);
    stepG(c, d, a, b, x[11] + 0x265e5a51u, 14);
    stepG(b, c, d, a, x[0] + 0xe9b6c7aau, 20);
    stepG(a, b, c, d, x[5] + 0xd62f105du, 5);
    stepG(d, a, b, c, x[10] + 0x02441453u, 9);
    stepG(c, d, a, b, x[15] + 0xd8a1e681u, 14);
    stepG(b, c, d, a, x[4] + 0xe7d3fbc8u, 20);
    stepG(a, b, c, d, x[9] + 0x21e1cde6u, 5);
    stepG(d, a, b, c, x[14] + 0xc33707d6u, 9);
    stepG(c, d, a, b, x[3] + 0xf4d50d87u, 14);
    stepG(b, c, d, a, x[8] + 0x455a14edu, 20);
    stepG(a, b, c, d, x[13] + 0xa9e3e905u, 5);
    stepG(d, a, b, c, x[2] + 0xfcefa3f8u, 9);
    stepG(c, d, a, b, x[7] + 0x676f02d9u, 14);
    stepG(b, c, d, a, x[12] + 0x8d2a4c8au, 20);
}

inline void round3(quint32 &a, quint32 &b, quint32 &c, quint32 &d, const quint32 *x)
{
    stepH(a, b, c, d, x[5] + 0xfffa3942u, 4);
    stepH(d, a, b, c, x[8] + 0x8771f681u, 11);
    stepH(c, d, a, b, x[11] + 0x6d9d6122u, 16);
    stepH(b, c, d, a, x[14] + 0xfde5380cu, 23);
    stepH(a, b, c, d, x[1] + 0xa4beea44u, 4);
    stepH(d, a, b, c, x[4] + 0x4bdecfa9u, 11);
    stepH(c, d, a, b, x[7] + 0xf6bb4b60u, 16);
    stepH(b, c, d, a, x[10] + 0xbebfbc70u, 23);
    stepH(a, b, c, d, x[13] + 0x289b7ec6u, 4);
    stepH(d, a, b, c, x[0] + 0xeaa127fau, 11);
    stepH(c, d, a, b, x[3] + 0xd4ef3085u, 16);
    stepH(b, c, d, a, x[6] + 0x04881d05u, 23);
    stepH(a, b, c, d, x[9] + 0xd9d4d039u, 4);
    stepH(d, a, b, c, x[12] + 0xe6db99e5u, 11);
    stepH(c, d, a, b, x[15] + 0x1fa27cf8u, 16);
    stepH(b, c, d, a, x[2] + 0xc4ac5665u, 23);
}

inline void round4(quint32 &a, quint32 &b, quint32 &c, quint32 &d, const quint32 *x)
{
    stepI(a, b, c, d, x[0] + 0xf4292244u, 6);
    stepI(d, a, b, c, x[7] + 0x432aff97u, 10);
    stepI(c, d, a, b, x[14] + 0xab9423a7u, 15);
    stepI(b, c, d, a, x[5] + 0xfc93a039u, 21);
    stepI(a, b, c, d, x[12] + 0x655b59c3u, 6);
    stepI(d, a, b, c, x[3] + 0x8f0ccc92u, 10);
    stepI(c, d, a, b, x[10] + 0xffeff47du, 15);
    stepI(b, c, d, a, x[1] + 0x85845dd1u, 21);
    stepI(a, b, c, d, x[8] + 0x6fa87e4fu, 6);
    stepI(d, a, b, c, x[15] + 0xfe2ce6e0u, 10);
    stepI(c, d, a, b, x[6] + 0xa3014314u, 15);
    stepI(b, c, d, a, x[13] + 0x4e0811a1u, 21);
    stepI(a, b, c, d, x[4] + 0xf7537e82u, 6);
    stepI(d, a, b, c, x[11] + 0xbd3af235u, 10);
    stepI(c, d, a, b, x[2] + 0x2ad7d2bbu, 15);
    stepI(b, c, d, a, x[9] + 0xeb86d391u, 21);
}
// clang-format on

inline quint32 littleEndianWord(const uchar *p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

} // namespace

void Md5Stream::processBlocks(const uchar *blocks, qint64 count)
{
    quint32 x[16];
    for (qint64 n = 0; n < count; ++n, blocks += 64) {
        for (int i = 0; i < 16; ++i)
            x[i] = littleEndianWord(blocks + 4 * i);
        quint32 a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        round1(a, b, c, d, x);
        round2(a, b, c, d, x);
        round3(a, b, c, d, x);
        round4(a, b, c, d, x);
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }
}

void Md5Stream::addData(const char *data, qint64 size)
{
    auto bytes = reinterpret_cast<const uchar *>(data);
    m_length += quint64(size);
    if (m_pendingSize > 0) {
        const qint64 take = qMin<qint64>(64 - m_pendingSize, size);
        std::memcpy(m_pending + m_pendingSize, bytes, size_t(take));
        m_pendingSize += int(take);
        bytes += take;
        size -= take;
        if (m_pendingSize < 64)
            return;
        processBlocks(m_pending, 1);
        m_pendingSize = 0;
    }
    processBlocks(bytes, size / 64);
    m_pendingSize = int(size % 64);
    std::memcpy(m_pending, bytes + (size - m_pendingSize), size_t(m_pendingSize));
}

QByteArray Md5Stream::result() const
{
    // Padding: 0x80, zeros up to 56 bytes mod 64, then the bit length, little-endian.
    Md5Stream tail = *this;
    uchar padding[72] = {0x80};
    const int padSize = (m_pendingSize < 56 ? 56 : 120) - m_pendingSize;
    const quint64 bits = m_length * 8;
    for (int i = 0; i < 8; ++i)
        padding[padSize + i] = uchar(bits >> (8 * i));
    tail.addData(reinterpret_cast<const char *>(padding), padSize + 8);
    QByteArray raw(16, Qt::Uninitialized);
    for (int i = 0; i < 16; ++i)
        raw[i] = char(tail.m_state[i / 4] >> (8 * (i % 4)));
    return raw;
}
