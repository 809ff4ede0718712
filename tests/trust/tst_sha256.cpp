#include "sha256.h"
#include "testfiles.h"
#include "toolrun.h"

#include <QTemporaryDir>
#include <QtTest>

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
    const QByteArray bytes = randomBytes(size, quint32(size));
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
