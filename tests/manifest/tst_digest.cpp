#include "digest.h"
#include "testfiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The common md5sum notation turned into digest text: each 4-byte word's bytes reversed.
QByteArray md5sumAsDigestText(const QString &path)
{
    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), {path});
    if (!md5sum.waitForFinished(60000) || md5sum.exitCode() != 0)
        return QByteArray();
    const QByteArray common = md5sum.readAllStandardOutput().left(32);
    QByteArray text;
    for (int word = 0; word < 4; ++word) {
        for (int byte = 3; byte >= 0; --byte)
            text += common.mid(word * 8 + byte * 2, 2);
    }
    return text;
}

} // namespace

class TstDigest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void knownTexts_data();
    void knownTexts();
    void fromRawMd5IsByteAssembled();
    void fileAgreesWithMd5sum_data();
    void fileAgreesWithMd5sum();
    void unreadableFilesDoNotMatch_data();
    void unreadableFilesDoNotMatch();
    void otherNotationsDoNotMatch_data();
    void otherNotationsDoNotMatch();

private:
    QTemporaryDir m_dir;
};

void TstDigest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("md5sum")).isEmpty())
        QSKIP("coreutils md5sum is not installed");
}

void TstDigest::knownTexts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("98500190b04fd23c7d3f96d6727fe128");
    // Common notation d41d8cd98f00b204e9800998ecf8427e.
    QTest::newRow("empty") << QByteArray() << QByteArray("d98c1dd404b2008f980980e97e42f8ec");
}

void TstDigest::knownTexts()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, text);
    QCOMPARE(digestText(data), text);
}

void TstDigest::fromRawMd5IsByteAssembled()
{
    const QByteArray raw = QByteArray::fromHex("000102030405060708090a0b0c0d0eff");
    QCOMPARE(digestTextFromMd5(raw), QByteArray("03020100070605040b0a0908ff0e0d0c"));
    QVERIFY(digestTextFromMd5(QByteArray(15, 'x')).isEmpty());
}

void TstDigest::fileAgreesWithMd5sum_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("three bytes") << 3;
    QTest::newRow("one chunk exactly") << 1024 * 1024;
    QTest::newRow("several chunks and a tail") << 3 * 1024 * 1024 + 17;
}

void TstDigest::fileAgreesWithMd5sum()
{
    QFETCH(int, size);
    const QString path = m_dir.filePath(QStringLiteral("f%1.bin").arg(size));
    const QByteArray content = randomBytes(size, quint32(size) + 1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(size));
    file.close();

    const QByteArray expected = md5sumAsDigestText(path);
    QCOMPARE(expected.size(), 32);
    QByteArray actual;
    QVERIFY(fileDigestText(path, &actual));
    QCOMPARE(actual, expected);
    QCOMPARE(digestText(content), expected);
    QVERIFY(fileMatchesDigest(path, expected));
}

void TstDigest::unreadableFilesDoNotMatch_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("missing.bin");
    QTest::newRow("folder") << QStringLiteral("folder");
}

void TstDigest::unreadableFilesDoNotMatch()
{
    QFETCH(QString, name);
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));
    const QString path = m_dir.filePath(name);
    QByteArray digest = "unchanged";
    QVERIFY(!fileDigestText(path, &digest));
    QCOMPARE(digest, QByteArray("unchanged"));
    // The digest of no content must not match an unreadable file either.
    QVERIFY(!fileMatchesDigest(path, digestText(QByteArray())));
}

void TstDigest::otherNotationsDoNotMatch_data()
{
    QTest::addColumn<QByteArray>("given");
    QTest::newRow("upper case") << QByteArray("98500190B04FD23C7D3F96D6727FE128");
    QTest::newRow("common byte order") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("trailing space") << QByteArray("98500190b04fd23c7d3f96d6727fe128 ");
    QTest::newRow("empty") << QByteArray();
}

void TstDigest::otherNotationsDoNotMatch()
{
    QFETCH(QByteArray, given);
    const QString path = m_dir.filePath(QStringLiteral("abc.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    QVERIFY(fileMatchesDigest(path, "98500190b04fd23c7d3f96d6727fe128"));
    QVERIFY(!fileMatchesDigest(path, given));
}

QTEST_GUILESS_MAIN(TstDigest)
#include "tst_digest.moc"
