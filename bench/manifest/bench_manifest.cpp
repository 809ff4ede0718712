// Measurement helper for bench/manifest/run.sh.
//   bench_manifest hash FILE...        digest text of each file, then peak memory on stderr
//   bench_manifest compare LINES DIR   parse a list of LINES lines and compare it with a
//                                      record holding every path, in the empty folder DIR
//   bench_manifest compare-shuffled LINES DIR   the same with the lines in random order
#include "compare.h"
#include "digest.h"

#include <QElapsedTimer>
#include <QFile>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

namespace {

long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int hashFiles(int argc, char **argv)
{
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        QByteArray digest;
        if (!fileDigestText(QString::fromLocal8Bit(argv[i]), &digest)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            ++failures;
            continue;
        }
        std::printf("%s  %s\n", digest.constData(), argv[i]);
    }
    std::fprintf(stderr, "maxrss_kib %ld\n", peakMemoryKiB());
    return failures == 0 ? 0 : 1;
}

// A list as a tool walking the tree writes it: CRLF, backslashes, some with a leading one.
QByteArray makeList(int lines, bool shuffled)
{
    QList<QByteArray> rows;
    rows.reserve(lines);
    for (int i = 0; i < lines; ++i) {
        const QByteArray folder = QByteArray::number(i / 1000).rightJustified(3, '0');
        const QByteArray sub = QByteArray::number(i / 100 % 10);
        const QByteArray path = QByteArray(i % 3 == 0 ? "\\" : "") + "data" + folder + "\\sub" +
                                sub + "\\file" + QByteArray::number(i).rightJustified(6, '0') +
                                ".dat";
        const QByteArray size = QByteArray::number(i, 16).rightJustified(8, '0') + "00000000";
        rows.append(digestText(QByteArray::number(i)) + '\t' + size + '\t' + path + "\r\n");
    }
    if (shuffled)
        std::shuffle(rows.begin(), rows.end(), std::mt19937(42));
    return rows.join();
}

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

int compareList(int lines, bool shuffled, const QString &dir)
{
    const QByteArray list = makeList(lines, shuffled);
    QFile record(QDir(dir).absoluteFilePath(QStringLiteral("update_md5.info")));
    if (!record.open(QIODevice::WriteOnly) || record.write(list) != list.size())
        return 1;
    record.close();

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuMs();
    const Manifest server = parseManifest(list);
    const double parseMs = timer.nsecsElapsed() / 1e6;
    const double parseCpuMs = cpuMs() - cpuStart;
    const Manifest outdated = compareWithInstalled(server, QDir(dir));
    const double totalMs = timer.nsecsElapsed() / 1e6;
    const double totalCpuMs = cpuMs() - cpuStart;
    std::printf("entries %d\noutdated %d\nparse_ms %.1f\nparse_cpu_ms %.1f\n", server.size(),
                outdated.size(), parseMs, parseCpuMs);
    std::printf("total_ms %.1f\ntotal_cpu_ms %.1f\nmaxrss_kib %ld\n", totalMs, totalCpuMs,
                peakMemoryKiB());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "hash")
        return hashFiles(argc, argv);
    if ((mode == "compare" || mode == "compare-shuffled") && argc == 4)
        return compareList(QByteArray(argv[2]).toInt(), mode == "compare-shuffled",
                           QString::fromLocal8Bit(argv[3]));
    std::fprintf(stderr, "usage: bench_manifest hash FILE... | compare[-shuffled] LINES DIR\n");
    return 2;
}
