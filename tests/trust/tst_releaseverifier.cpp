#include "releaseverifier.h"

#include "signaturefile.h"
#include "trustmessages.h"
#include "updatenames.h"

#include <QtTest>

namespace {

const QDateTime Now(QDate(2030, 6, 1), QTime(12, 0), Qt::UTC);

} // namespace

class TstReleaseVerifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_key = SigningKey::generate(); }
    void formsAddressesLikeTheOtherFiles();
    void readsConfiguredKeys_data();
    void readsConfiguredKeys();
    void reportsSignatureFailures_data();
    void reportsSignatureFailures();
    void checksRelease_data();
    void checksRelease();
    void parsesTheDescriptionFromTheCheckedBytes();
    void checksListsAgainstTheDescription();
    void checksFilesAgainstSha256List();

private:
    // The release of a description that passed, as the updater holds it.
    static VerifiedRelease described(const QByteArray &ini)
    {
        VerifiedRelease release;
        QString error;
        if (!ReleaseVerifier::checkRelease(ini, QStringLiteral("http://h/app/"), SequenceRecord(),
                                           &release, &error, Now))
            qWarning("%s", qPrintable(error));
        return release;
    }

    SigningKey m_key;
};

void TstReleaseVerifier::formsAddressesLikeTheOtherFiles()
{
    QCOMPARE(UpdateNames::signatureUrl(QStringLiteral("http://h/app/")),
             QStringLiteral("http://h/app//update.ini.sig"));
    QCOMPARE(UpdateNames::sha256ListUrl(QStringLiteral("http://h/app/v2/")),
             QStringLiteral("http://h/app/v2//sha256.txt"));
    QCOMPARE(UpdateNames::fileUrl(QStringLiteral("http://h/app/v2/"), QStringLiteral("a/b%#?.txt")),
             QStringLiteral("http://h/app/v2/a/b%25%23%3F.txt"));
    QCOMPARE(
        UpdateNames::packedCopyUrl(QStringLiteral("http://h/app/v2/"), QStringLiteral("ab.zst")),
        QStringLiteral("http://h/app/v2/.~zstd/ab.zst"));
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
    QString error;
    // As QSettings reads the value: split at its commas.
    QCOMPARE(verifier.setPublicKeys(value.split(QLatin1Char(',')), &error), count > 0);
    QCOMPARE(verifier.publicKeys().size(), qMax(count, 0));
    if (count < 0)
        QVERIFY(error.startsWith(TrustMessages::publicKeyInvalid(QString())));
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
    verifier.setPublicKeys({m_key.publicKey()});
    QString error;
    QCOMPARE(verifier.checkSignature("[Version]\nFolder=v2\n", signatureFile, &error),
             message.isEmpty());
    QCOMPARE(error, message);
}

void TstReleaseVerifier::checksRelease_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<qint64>("applied");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("recordedOf"); // the description the floor's digest is of
    QTest::newRow("first release")
        << QByteArray("[Release]\nSequence=1\n") << qint64(0) << QString() << QByteArray();
    QTest::newRow("same release again, a record without digest")
        << QByteArray("[Release]\nSequence=5\n") << qint64(5) << QString() << QByteArray();
    QTest::newRow("same release again, its bytes recorded")
        << QByteArray("[Release]\nSequence=5\n") << qint64(5) << QString()
        << QByteArray("[Release]\nSequence=5\n");
    QTest::newRow("same Sequence, other bytes recorded")
        << QByteArray("[Release]\nSequence=5\n") << qint64(5) << TrustMessages::sequenceReused(5)
        << QByteArray("[Version]\nFolder=v1\n[Release]\nSequence=5\n");
    QTest::newRow("newer release") << QByteArray("[Release]\nSequence=6\n") << qint64(5)
                                   << QString() << QByteArray("[Release]\nSequence=5\n");
    QTest::newRow("rollback") << QByteArray("[Release]\nSequence=4\n") << qint64(5)
                              << TrustMessages::sequenceRollback(4, 5) << QByteArray();
    QTest::newRow("no sequence") << QByteArray("[Version]\nFolder=v1\n") << qint64(0)
                                 << TrustMessages::sequenceMissing() << QByteArray();
    QTest::newRow("sequence not a number") << QByteArray("[Release]\nSequence=x\n") << qint64(0)
                                           << TrustMessages::sequenceMissing() << QByteArray();
    QTest::newRow("expires later")
        << QByteArray("[Release]\nSequence=1\nExpires=2030-06-01T12:00:01Z\n") << qint64(0)
        << QString() << QByteArray();
    QTest::newRow("expired") << QByteArray("[Release]\nSequence=1\nExpires=2030-06-01T12:00:00Z\n")
                             << qint64(0)
                             << TrustMessages::expired(QStringLiteral("2030-06-01 12:00:00 UTC"))
                             << QByteArray();
    QTest::newRow("expiry malformed")
        << QByteArray("[Release]\nSequence=1\nExpires=soon\n") << qint64(0)
        << TrustMessages::expiresInvalid(QStringLiteral("soon")) << QByteArray();
}

void TstReleaseVerifier::checksRelease()
{
    QFETCH(QByteArray, ini);
    QFETCH(qint64, applied);
    QFETCH(QString, message);
    QFETCH(QByteArray, recordedOf);
    const SequenceRecord floor{applied,
                               recordedOf.isEmpty() ? QByteArray() : sha256Hex(recordedOf)};
    VerifiedRelease release;
    QString error;
    QCOMPARE(ReleaseVerifier::checkRelease(ini, QStringLiteral("http://h/app/"), floor, &release,
                                           &error, Now),
             message.isEmpty());
    QCOMPARE(error, message);
    QCOMPARE(release.isNull(), !message.isEmpty());
}

void TstReleaseVerifier::parsesTheDescriptionFromTheCheckedBytes()
{
    const QByteArray ini = "[Summary]\nUpdateType=0\n[Version]\nFolder=v9\nVersion=9.0\n"
                           "[Release]\nSequence=3\n";
    const VerifiedRelease release = described(ini);
    QCOMPARE(release.descriptionBytes(), ini);
    QCOMPARE(release.sequence(), qint64(3));
    QCOMPARE(release.description().updateType, 0);
    QCOMPARE(release.description().folder, QStringLiteral("v9"));
    QCOMPARE(release.description().version, QStringLiteral("9.0"));
    QCOMPARE(release.description().listUrl, QStringLiteral("http://h/app/v9//md5.txt"));
}

void TstReleaseVerifier::checksListsAgainstTheDescription()
{
    const QByteArray md5List = "98500190b04fd23c7d3f96d6727fe128\t0000000300000000\tabc.txt\r\n";
    const QByteArray shaList = sha256Hex("abc") + "\t0000000300000000\tabc.txt\r\n";
    const VerifiedRelease release =
        described("[Release]\nSequence=1\nMd5List=" + sha256Hex(md5List) +
                  "\nSha256List=" + sha256Hex(shaList).toUpper() + "\n");
    QString error;
    VerifiedRelease complete;
    QVERIFY(release.checkMd5List(md5List, &error));
    QVERIFY(!release.checkMd5List(md5List + "\n", &error));
    QCOMPARE(error, TrustMessages::md5ListMismatch());
    QVERIFY(release.withSha256List(shaList, &complete, &error));
    QVERIFY(complete.lists(QStringLiteral("abc.txt")));
    QVERIFY(!release.withSha256List(QByteArray(shaList).replace("abc.txt", "abd.txt"), &complete,
                                    &error));
    QCOMPARE(error, TrustMessages::sha256ListMismatch());
    // The list of packed copies, against PatchListSha256; none named is none that matches.
    const QByteArray packList =
        "zstd\t-\t3\t" + md5List.left(32) + '\t' + sha256Hex("x") + "\tabc.txt\r\n";
    const VerifiedRelease withPacks =
        described("[Release]\nSequence=1\nPatchList=.~zstd/list.txt\nPatchListSha256=" +
                  sha256Hex(packList).toUpper() + "\n");
    QCOMPARE(withPacks.section().patchList, QStringLiteral(".~zstd/list.txt"));
    QVERIFY(withPacks.checkPatchList(packList, &error));
    QVERIFY(!withPacks.checkPatchList(packList + "\n", &error));
    QCOMPARE(error, TrustMessages::patchListMismatch());
    error.clear();
    QVERIFY(!release.checkPatchList(packList, &error));
    QCOMPARE(error, TrustMessages::patchListMismatch());

    // A description without the list hashes accepts no list.
    const VerifiedRelease bare = described("[Release]\nSequence=1\n");
    QVERIFY(!bare.checkMd5List(QByteArray(), &error));
    QVERIFY(!bare.withSha256List(QByteArray(), &complete, &error));
}

void TstReleaseVerifier::checksFilesAgainstSha256List()
{
    const QByteArray shaList = sha256Hex("abc") + "\t0000000300000000\tdoc\\abc.txt\r\n";
    VerifiedRelease release;
    QString error;
    QVERIFY(described("[Release]\nSequence=1\nSha256List=" + sha256Hex(shaList) + "\n")
                .withSha256List(shaList, &release, &error));
    QVERIFY(release.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abc"), &error));
    QVERIFY(release.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abc").toUpper(), &error));
    QVERIFY(!release.checkFile(QStringLiteral("doc/abc.txt"), sha256Hex("abd"), &error));
    QCOMPARE(error, TrustMessages::fileSha256Mismatch(QStringLiteral("abc.txt")));
    QVERIFY(!release.checkFile(QStringLiteral("doc/abc.txt"), QByteArray(), &error));
    QVERIFY(!release.checkFile(QStringLiteral("doc/other.txt"), sha256Hex("abc"), &error));
    QCOMPARE(error, TrustMessages::fileNotInSha256List(QStringLiteral("other.txt")));
}

QTEST_GUILESS_MAIN(TstReleaseVerifier)
#include "tst_releaseverifier.moc"
