#include "releaseverifier.h"

#include "signaturefile.h"
#include "trustmessages.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime Now(QDate(2030, 6, 1), QTime(12, 0), Qt::UTC);

} // namespace

class TstReleaseVerifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_key = SigningKey::generate(); }
    void init();
    void formsAddressesLikeTheOtherFiles();
    void readsConfiguredKeys_data();
    void readsConfiguredKeys();
    void reportsSignatureFailures_data();
    void reportsSignatureFailures();
    void checksRelease_data();
    void checksRelease();
    void checksListsAgainstTheDescription();
    void checksFilesAgainstSha256List();

private:
    QString iniPath() const { return m_dir->filePath(QStringLiteral("update.ini")); }
    bool writeIni(const QByteArray &bytes) const
    {
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size();
    }

    SigningKey m_key;
    QScopedPointer<QTemporaryDir> m_dir;
};

void TstReleaseVerifier::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TstReleaseVerifier::formsAddressesLikeTheOtherFiles()
{
    QCOMPARE(signatureUrl(QStringLiteral("http://h/app/")),
             QStringLiteral("http://h/app//update.ini.sig"));
    QCOMPARE(sha256ListUrl(QStringLiteral("http://h/app/v2/")),
             QStringLiteral("http://h/app/v2//sha256.txt"));
}

void TstReleaseVerifier::readsConfiguredKeys_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("count");
    const QString one = QString::fromLatin1(SigningKey::generate().publicKey().toBase64());
    const QString two = QString::fromLatin1(SigningKey::generate().publicKey().toBase64());
    QTest::newRow("one key") << one << 1;
    QTest::newRow("two keys") << one + QStringLiteral(" , ") + two << 2;
    QTest::newRow("trailing comma") << one + QStringLiteral(",") << 1;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("second key broken") << one + QStringLiteral(",abc") << -1;
}

void TstReleaseVerifier::readsConfiguredKeys()
{
    QFETCH(QString, value);
    QFETCH(int, count);
    ReleaseVerifier verifier;
    QCOMPARE(verifier.setPublicKeys(value), count > 0);
    QCOMPARE(verifier.publicKeys().size(), qMax(count, 0));
    if (count < 0)
        QVERIFY(verifier.errorString().startsWith(TrustMessages::publicKeyInvalid(QString())));
}

void TstReleaseVerifier::reportsSignatureFailures_data()
{
    QTest::addColumn<QByteArray>("signatureFile");
    QTest::addColumn<QString>("message");
    const SigningKey configured = m_key;
    const QByteArray description = "[Version]\nFolder=v2\n";
    QTest::newRow("valid") << signatureLine(configured, description) << QString();
    QTest::newRow("missing") << QByteArray("<html>404</html>") << TrustMessages::signatureMissing();
    QTest::newRow("unknown key") << signatureLine(SigningKey::generate(), description)
                                 << TrustMessages::unknownKey();
    QTest::newRow("invalid") << signatureLine(configured, description + ' ')
                             << TrustMessages::signatureInvalid();
}

void TstReleaseVerifier::reportsSignatureFailures()
{
    QFETCH(QByteArray, signatureFile);
    QFETCH(QString, message);
    ReleaseVerifier verifier;
    QVERIFY(verifier.setPublicKeys(QString::fromLatin1(m_key.publicKey().toBase64())));
    QCOMPARE(verifier.checkSignature("[Version]\nFolder=v2\n", signatureFile), message.isEmpty());
    QCOMPARE(verifier.errorString(), message);
}

void TstReleaseVerifier::checksRelease_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<qint64>("applied");
    QTest::addColumn<QString>("message");
    QTest::newRow("first release")
        << QByteArray("[Release]\nSequence=1\n") << qint64(0) << QString();
    QTest::newRow("same release again")
        << QByteArray("[Release]\nSequence=5\n") << qint64(5) << QString();
    QTest::newRow("newer release")
        << QByteArray("[Release]\nSequence=6\n") << qint64(5) << QString();
    QTest::newRow("rollback") << QByteArray("[Release]\nSequence=4\n") << qint64(5)
                              << TrustMessages::sequenceRollback(4, 5);
    QTest::newRow("no sequence") << QByteArray("[Version]\nFolder=v1\n") << qint64(0)
                                 << TrustMessages::sequenceMissing();
    QTest::newRow("sequence not a number")
        << QByteArray("[Release]\nSequence=x\n") << qint64(0) << TrustMessages::sequenceMissing();
    QTest::newRow("expires later")
        << QByteArray("[Release]\nSequence=1\nExpires=2030-06-01T12:00:01Z\n") << qint64(0)
        << QString();
    QTest::newRow("expired") << QByteArray("[Release]\nSequence=1\nExpires=2030-06-01T12:00:00Z\n")
                             << qint64(0)
                             << TrustMessages::expired(QStringLiteral("2030-06-01 12:00:00 UTC"));
    QTest::newRow("expiry malformed")
        << QByteArray("[Release]\nSequence=1\nExpires=soon\n") << qint64(0)
        << TrustMessages::expiresInvalid(QStringLiteral("soon"));
}

void TstReleaseVerifier::checksRelease()
{
    QFETCH(QByteArray, ini);
    QFETCH(qint64, applied);
    QFETCH(QString, message);
    QVERIFY(writeIni(ini));
    ReleaseVerifier verifier;
    QCOMPARE(verifier.checkRelease(iniPath(), applied, Now), message.isEmpty());
    QCOMPARE(verifier.errorString(), message);
}

void TstReleaseVerifier::checksListsAgainstTheDescription()
{
    const QByteArray md5List = "98500190b04fd23c7d3f96d6727fe128\t0000000300000000\tabc.txt\r\n";
    const QByteArray shaList = sha256Hex("abc") + "\t0000000300000000\tabc.txt\r\n";
    QVERIFY(writeIni("[Release]\nSequence=1\nMd5List=" + sha256Hex(md5List) +
                     "\nSha256List=" + sha256Hex(shaList).toUpper() + "\n"));
    ReleaseVerifier verifier;
    QVERIFY(verifier.checkRelease(iniPath(), 0, Now));
    QVERIFY(verifier.checkMd5List(md5List));
    QVERIFY(!verifier.checkMd5List(md5List + "\n"));
    QCOMPARE(verifier.errorString(), TrustMessages::md5ListMismatch());
    QVERIFY(verifier.checkSha256List(shaList));
    QVERIFY(!verifier.checkSha256List(QByteArray(shaList).replace("abc.txt", "abd.txt")));
    QCOMPARE(verifier.errorString(), TrustMessages::sha256ListMismatch());

    // A description without the list hashes accepts no list.
    QVERIFY(writeIni("[Release]\nSequence=1\n"));
    QVERIFY(verifier.checkRelease(iniPath(), 0, Now));
    QVERIFY(!verifier.checkMd5List(QByteArray()));
    QVERIFY(!verifier.checkSha256List(QByteArray()));
}

void TstReleaseVerifier::checksFilesAgainstSha256List()
{
    const QByteArray shaList = sha256Hex("abc") + "\t0000000300000000\tdoc\\abc.txt\r\n";
    QVERIFY(writeIni("[Release]\nSequence=1\nSha256List=" + sha256Hex(shaList) + "\n"));
    ReleaseVerifier verifier;
    QVERIFY(verifier.checkRelease(iniPath(), 0, Now));
    QVERIFY(verifier.checkSha256List(shaList));
    QVERIFY(verifier.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abc")));
    QVERIFY(verifier.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abc").toUpper()));
    QVERIFY(!verifier.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abd")));
    QCOMPARE(verifier.errorString(), TrustMessages::fileSha256Mismatch(QStringLiteral("abc.txt")));
    QVERIFY(!verifier.checkFile(QStringLiteral("doc/abc.txt"), QByteArray()));
    QVERIFY(!verifier.checkFile(QStringLiteral("doc/other.txt"), sha256Hex("abc")));
    QCOMPARE(verifier.errorString(),
             TrustMessages::fileNotInSha256List(QStringLiteral("other.txt")));
}

QTEST_GUILESS_MAIN(TstReleaseVerifier)
#include "tst_releaseverifier.moc"
