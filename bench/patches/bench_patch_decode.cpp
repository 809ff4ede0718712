// Measurement helper for bench/patches/run.sh: one zstdcodec::decode, as a client decodes a
// packed copy, timed around the call alone.
//   bench_patch_decode PACKED BASE OUTPUT SIZE   (BASE "-" for a compressed copy)
// Prints "decode_ms N" and "mb_per_s N" (output bytes per second, 10^6); OUTPUT must not exist.
#include "zstdcodec.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_patch_decode PACKED BASE OUTPUT SIZE\n");
        return 2;
    }
    const QString base = QString::fromLocal8Bit(argv[2]);
    const qint64 size = QByteArray(argv[4]).toLongLong();
    QString error;
    QElapsedTimer timer;
    timer.start();
    const bool ok = zstdcodec::decode(QString::fromLocal8Bit(argv[1]),
                                      base == QLatin1String("-") ? QString() : base,
                                      QString::fromLocal8Bit(argv[3]), size, &error);
    const qint64 ns = timer.nsecsElapsed();
    if (!ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("decode_ms %.3f\nmb_per_s %.1f\n", ns / 1e6, size * 1e3 / double(ns));
    return 0;
}
