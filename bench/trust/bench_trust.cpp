// The trust checks' costs: `hash FILE...` prints SHA-256 lines like sha256sum;
// `checks LINES` times one signed description's checks and a sha256.txt of LINES files.
#include "releaseverifier.h"
#include "signaturefile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

namespace {

int hashFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        QByteArray hex;
        if (!fileSha256Hex(path, &hex))
            return 1;
        std::printf("%s  %s\n", hex.constData(), qPrintable(path));
    }
    return 0;
}

QByteArray sha256ListOf(int lines)
{
    QByteArray list;
    for (int i = 0; i < lines; ++i)
        list += sha256Hex(QByteArray::number(i)) + "\t0000100000000000\tbin\\file" +
                QByteArray::number(i) + ".dll\r\n";
    return list;
}

// Microseconds per call of `step`, over `rounds` calls.
template <typename Step> double microseconds(int rounds, Step step)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        step();
    return double(timer.nsecsElapsed()) / 1000.0 / rounds;
}

int timeChecks(int lines)
{
    const SigningKey oldKey = SigningKey::generate();
    const SigningKey newKey = SigningKey::generate();
    const QByteArray shaList = sha256ListOf(lines);
    const QByteArray description = "[Summary]\r\nUpdateType=1\r\n\r\n[Version]\r\nFolder=v2\r\n"
                                   "Version=2.0\r\n\r\n[Release]\r\nSequence=7\r\nSha256List=" +
                                   sha256Hex(shaList) + "\r\n";
    const QByteArray signatures =
        signatureLine(oldKey, description) + signatureLine(newKey, description);
    ReleaseVerifier verifier;
    verifier.setPublicKeys({newKey.publicKey()});
    bool ok = true;
    QString error;
    VerifiedRelease described;
    VerifiedRelease complete;
    const double signature = microseconds(
        200, [&] { ok = verifier.checkSignature(description, signatures, &error) && ok; });
    const double release = microseconds(200, [&] {
        ok = ReleaseVerifier::checkRelease(description, QString(), SequenceRecord{6, {}},
                                           &described, &error) &&
             ok;
    });
    const double list =
        microseconds(5, [&] { ok = described.withSha256List(shaList, &complete, &error) && ok; });
    const QString path = QStringLiteral("bin/file%1.dll").arg(lines / 2);
    const QByteArray hex = sha256Hex(QByteArray::number(lines / 2));
    const double lookup =
        microseconds(10000, [&] { ok = complete.checkFile(path, hex, &error) && ok; });
    std::printf("signature %.1f\nrelease %.1f\nlist %.1f\nlistbytes %d\nfile %.3f\n", signature,
                release, list, int(shaList.size()), lookup);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() >= 2 && arguments.first() == QLatin1String("hash"))
        return hashFiles(arguments.mid(1));
    if (arguments.size() == 2 && arguments.first() == QLatin1String("checks"))
        return timeChecks(arguments.at(1).toInt());
    std::fprintf(stderr, "usage: bench_trust hash FILE... | checks LINES\n");
    return 2;
}
