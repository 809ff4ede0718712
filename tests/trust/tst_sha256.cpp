#include "sha256.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_WIN
#include "winehost.h"
#endif

namespace {

QByteArray sha256sum(const QString &path)
{
#ifdef Q_OS_WIN // the Linux sha256sum through Wine
    QByteArray output;
    return WineHost::runTool(QStringLiteral("sha256sum"), {path}, 60000, &output) == 0
               ? output.left(64)
               : QByteArray();
#endif
    QProcess process;
    process.start(QStringLiteral("sha256sum"), {path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput().left(64);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TstSha256 : public QObject
{
    Q_OBJECT

private slots:
    void hashesKnownText();
    void incrementalHashEqualsWholeHash();
    void fileHashAgreesWithSha256sum_data();
    void fileHashAgreesWithSha256sum();
    void unreadableFileIsNoHash();
    void readsListWithTheManifestRules();
};

void TstSha256::hashesKnownText()
{
    QCOMPARE(sha256Hex("abc"),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QCOMPARE(sha256Hex(QByteArray()),
             QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QCOMPARE(sha256("abc").size(), 32);
}

void TstSha256::incrementalHashEqualsWholeHash()
{
    const QByteArray text = "the quick brown fox jumps over the lazy dog";
    Sha256Hash hash;
    QVERIFY(hash.addData(text.constData(), 10));
    QVERIFY(hash.addData(text.constData() + 10, 0));
    QVERIFY(hash.addData(text.constData() + 10, text.size() - 10));
    QCOMPARE(hash.result(), sha256(text));
    // Finished: nothing more can be added.
    QVERIFY(!hash.addData("x", 1));
    QVERIFY(hash.result().isEmpty());
}

void TstSha256::fileHashAgreesWithSha256sum_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("exactly one chunk") << 1024 * 1024;
    QTest::newRow("several chunks and a rest") << 3 * 1024 * 1024 + 17;
}

void TstSha256::fileHashAgreesWithSha256sum()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator{quint32(size)};
    for (char &c : bytes)
        c = char(generator.bounded(256));
    QVERIFY(writeFile(path, bytes));
    QByteArray hex;
    QVERIFY(fileSha256Hex(path, &hex));
    QCOMPARE(hex, sha256sum(path));
    QCOMPARE(hex, sha256Hex(bytes));
}

void TstSha256::unreadableFileIsNoHash()
{
    QTemporaryDir dir;
    QByteArray hex = "unchanged";
    QVERIFY(!fileSha256Hex(dir.filePath(QStringLiteral("missing")), &hex));
    QVERIFY(!fileSha256Hex(dir.path(), &hex));
    QCOMPARE(hex, QByteArray("unchanged"));
}

void TstSha256::readsListWithTheManifestRules()
{
    const QByteArray abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const QByteArray text = abc + "\t0000000300000000\t\\doc\\abc.txt\r\n" + "short\tline\r\n" +
                            "ffff\t0000000100000000\tbin/a.dll\n" +
                            "eeee\t0000000100000000\tbin\\a.dll";
    const Sha256List list = parseSha256List(text);
    QCOMPARE(list.keys(),
             (QStringList{QStringLiteral("bin/a.dll"), QStringLiteral("doc/abc.txt")}));
    QCOMPARE(list.value(QStringLiteral("doc/abc.txt")), abc);
    // As in md5.txt, the last line for a path wins.
    QCOMPARE(list.value(QStringLiteral("bin/a.dll")), QByteArray("eeee"));
    QVERIFY(parseSha256List(QByteArray()).isEmpty());
}

QTEST_GUILESS_MAIN(TstSha256)
#include "tst_sha256.moc"
