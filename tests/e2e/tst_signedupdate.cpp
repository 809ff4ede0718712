// Signed releases applied by real `update console` processes from a real nginx: what a
// client with "PublicKey" accepts, what it refuses, and that a refusal changes nothing.
#include "signedreleasefixture.h"

#include "packedrelease.h"
#include "sha256.h"
#include "trustmessages.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";

const SignedReleaseFixture::Files V1{{QStringLiteral("a.dll"), "library one"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')}};
const SignedReleaseFixture::Files V2{{QStringLiteral("a.dll"), "library two, longer"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')},
                                     {QStringLiteral("c.txt"), "added in two"}};
const SignedReleaseFixture::Files V3{{QStringLiteral("a.dll"), "library three"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')},
                                     {QStringLiteral("c.txt"), "added in two"}};
const QString SequenceRecord = QStringLiteral("update_sequence.info");

const QStringList DescriptionRequests{QStringLiteral("/update.ini"),
                                      QStringLiteral("/update.ini.sig")};
const QStringList ListRequests =
    DescriptionRequests +
    QStringList{QStringLiteral("/v2/md5.txt"), QStringLiteral("/v2/sha256.txt")};

QString fileChecksum(const QString &name)
{
    return QCoreApplication::translate("CDownloadThread", "更新文件%1校验不对").arg(name);
}

} // namespace

class TestSignedUpdate : public SignedReleaseFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }
    void signedUpdateApplies();
    void tamperingIsRefused_data();
    void tamperingIsRefused();
    void rollbackIsRefused_data();
    void rollbackIsRefused();
    void expiredReleaseIsRefused();
    void clientWithoutKeyUpdatesAsBefore();
    void keyRotation_data();
    void keyRotation();
    void unknownKeyIsRefused();
    void unusablePublicKeyRefusesEveryRelease_data();
    void unusablePublicKeyRefusesEveryRelease();

private:
    // v1 signed by "a" applied, v2 signed by "a" published, the installation copied.
    void applyV1ThenPublishV2();
    void tamper(const QString &how);
    // `seen`: the served description verified before the refusal and is the floor now.
    void expectRefusal(const UpdaterRun &run, const QString &message, int requestsBefore,
                       const QStringList &requests, bool seen = false);
    QByteArray served(const QString &relative) const { return readFile(root() + '/' + relative); }
    // The record of the description served now: its Sequence and the digest of its bytes.
    QByteArray recordOfServed(qint64 sequence) const
    {
        return QByteArray::number(sequence) + ' ' + sha256Hex(served("update.ini")) + '\n';
    }
    // update.ini and update.ini.sig as served now, kept as `name` to be served again later.
    void keepDescription(const QString &name);
    void serveKept(const QString &name);
    // Sequence 3 published with its a.dll missing on the server, and a run that fails on it.
    void seeSequence3Fail();
};

void TestSignedUpdate::applyV1ThenPublishV2()
{
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const UpdaterRun first = runConsole();
    QVERIFY2(first.exitCode == 0, first.output.constData());
    // The host is started detached and records its start itself.
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
}

void TestSignedUpdate::expectRefusal(const UpdaterRun &run, const QString &message,
                                     int requestsBefore, const QStringList &requests, bool seen)
{
    QVERIFY2(run.finished, run.errors.constData());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(lastError(run), message);
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences, {SequenceRecord}), differences.constData());
    QCOMPARE(readFile(installDir() + '/' + SequenceRecord),
             seen ? recordOfServed(2) : readFile(path("install-before/") + SequenceRecord));
    m_server->waitForRequests(requestsBefore + requests.size());
    QCOMPARE(requestsSince(requestsBefore), requests);
}

void TestSignedUpdate::signedUpdateApplies()
{
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_sequence.info")), recordOfServed(1));

    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
    const int before = requestCount();
    QCOMPARE(runConsole().exitCode, 0);
    QByteArray differences;
    QVERIFY2(foldersEqual(path(QStringLiteral("releases/v2")), installDir(), clientOnlyNames(),
                          &differences),
             differences.constData());
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_md5.info")), served("v2/md5.txt"));
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_sequence.info")), recordOfServed(2));
    m_server->waitForRequests(before + 6);
    QCOMPARE(requestsSince(before), (ListRequests + QStringList{QStringLiteral("/v2/a.dll"),
                                                                QStringLiteral("/v2/c.txt")}));
    QTRY_COMPARE(m_install->hostStarts().size(), 2);
}

void TestSignedUpdate::tamperingIsRefused_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<bool>("seen");
    const QString invalid = TrustMessages::signatureInvalid();
    const QStringList fetchedA = ListRequests + QStringList{QStringLiteral("/v2/a.dll")};
    QTest::newRow("a byte of update.ini")
        << "update.ini" << invalid << DescriptionRequests << false;
    QTest::newRow("a signature byte") << "signature" << invalid << DescriptionRequests << false;
    QTest::newRow("a malformed signature line")
        << "signature line" << TrustMessages::signatureMissing() << DescriptionRequests << false;
    QTest::newRow("a byte of md5.txt") << "md5.txt" << TrustMessages::md5ListMismatch()
                                       << QStringList(ListRequests.mid(0, 3)) << true;
    QTest::newRow("a byte of sha256.txt")
        << "sha256.txt" << TrustMessages::sha256ListMismatch() << ListRequests << true;
    QTest::newRow("a byte of the list of packed copies")
        << "list.txt" << TrustMessages::patchListMismatch()
        << ListRequests + QStringList{QStringLiteral("/v2/.~zstd/list.txt")} << true;
    QTest::newRow("a byte of a file") << "file" << fileChecksum("a.dll") << fetchedA << true;
    QTest::newRow("a file missing from sha256.txt, signed")
        << "unlisted" << TrustMessages::fileNotInSha256List("a.dll") << ListRequests << true;
    QTest::newRow("another SHA-256 listed, signed")
        << "sha256 differs" << TrustMessages::fileSha256Mismatch("a.dll") << fetchedA << true;
    QTest::newRow("another SHA-256 listed, file in the cache")
        << "cached" << TrustMessages::fileSha256Mismatch("a.dll") << fetchedA << true;
}

void TestSignedUpdate::tamper(const QString &how)
{
    const QByteArray list = served(QStringLiteral("v2/sha256.txt"));
    const int lineOfA = list.indexOf("\ta.dll");
    if (how == QLatin1String("update.ini")) {
        const QByteArray ini = served(QStringLiteral("update.ini"));
        QVERIFY(writeFile(root(), QStringLiteral("update.ini"), flipByte(ini, ini.size() / 2)));
    } else if (how.startsWith(QLatin1String("signature"))) {
        QByteArray sig = served(QStringLiteral("update.ini.sig"));
        const int at = sig.size() - 20; // inside the base64 signature
        sig[at] = how == QLatin1String("signature") ? (sig.at(at) == 'A' ? 'B' : 'A') : '*';
        QVERIFY(writeFile(root(), QStringLiteral("update.ini.sig"), sig));
    } else if (how == QLatin1String("md5.txt") || how == QLatin1String("sha256.txt")) {
        const QString file = QStringLiteral("v2/") + how;
        QVERIFY(writeFile(root(), file, flipByte(served(file), 3)));
    } else if (how == QLatin1String("list.txt")) {
        // A patch of a.dll from v1, listed and named in the signed [Release] section.
        const QString version = root() + QStringLiteral("/v2");
        const QByteArray packed = PackedRelease::patch(V1.value(QStringLiteral("a.dll")),
                                                       V2.value(QStringLiteral("a.dll")));
        const QByteArray list = PackedRelease::writeList(
            version, PackedRelease::servePatch(version, QStringLiteral("a.dll"), packed,
                                               V1.value(QStringLiteral("a.dll"))));
        const QByteArray ini =
            PackedRelease::withReleaseKeys(served(QStringLiteral("update.ini")), list);
        QVERIFY(!ini.isEmpty() && resign(ini, QStringLiteral("a")));
        QVERIFY(writeFile(version, QStringLiteral(".~zstd/list.txt"), flipByte(list, 3)));
    } else if (how == QLatin1String("file")) {
        QVERIFY(writeFile(root(), QStringLiteral("v2/a.dll"),
                          flipByte(served(QStringLiteral("v2/a.dll")), 2)));
    } else if (how == QLatin1String("unlisted")) {
        const int start = list.lastIndexOf('\n', lineOfA) + 1;
        const QByteArray without = list.left(start) + list.mid(list.indexOf('\n', lineOfA) + 1);
        QVERIFY(replaceSha256List(QStringLiteral("v2"), without, QStringLiteral("a")));
    } else {
        const int start = list.lastIndexOf('\n', lineOfA) + 1;
        QVERIFY(replaceSha256List(QStringLiteral("v2"), flipByte(list, start + 5),
                                  QStringLiteral("a")));
        if (how == QLatin1String("cached"))
            QVERIFY(writeFile(path(QStringLiteral("cache")), QStringLiteral("a.dll"),
                              V2.value("a.dll")));
    }
}

void TestSignedUpdate::tamperingIsRefused()
{
    QFETCH(QString, how);
    QFETCH(QString, message);
    QFETCH(QStringList, requests);
    QFETCH(bool, seen);
    applyV1ThenPublishV2();
    tamper(how);
    const int before = requestCount();
    expectRefusal(runConsole(), message, before, requests, seen);
}

void TestSignedUpdate::rollbackIsRefused_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("message"); // empty: the release is applied
    QTest::newRow("an older description replayed")
        << "replayed" << TrustMessages::sequenceRollback(1, 2);
    QTest::newRow("Sequence 3 seen, its file failed, then Sequence 2")
        << "lower after failure" << TrustMessages::sequenceRollback(2, 3);
    QTest::newRow("Sequence 3 seen, its file failed, then Sequence 3 again")
        << "same after failure" << QString();
    QTest::newRow("Sequence 2 applied, then other bytes signed as Sequence 2")
        << "other bytes" << TrustMessages::sequenceReused(2);
}

// The floor is the highest Sequence whose description verified, recorded with its digest.
void TestSignedUpdate::rollbackIsRefused()
{
    QFETCH(QString, how);
    QFETCH(QString, message);
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    keepDescription(QStringLiteral("v1"));
    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
    keepDescription(QStringLiteral("v2"));
    QCOMPARE(runConsole().exitCode, 0);
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
    if (how.endsWith(QLatin1String("after failure")))
        seeSequence3Fail();
    if (how == QLatin1String("replayed")) {
        serveKept(QStringLiteral("v1"));
    } else if (how == QLatin1String("lower after failure")) {
        serveKept(QStringLiteral("v2"));
    } else if (how == QLatin1String("other bytes")) {
        const QByteArray v1 = readFile(path(QStringLiteral("kept/v1/update.ini")));
        QVERIFY(resign(QByteArray(v1).replace("Sequence=1", "Sequence=2"), QStringLiteral("a")));
    } else {
        QVERIFY(QFile::copy(path(QStringLiteral("releases/v3/a.dll")), root() + "/v3/a.dll"));
    }
    QVERIFY(snapshotInstall());
    const int before = requestCount();
    const UpdaterRun run = runConsole();
    if (message.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(installDir() + QStringLiteral("/a.dll")), V3.value("a.dll"));
        QTRY_COMPARE(m_install->hostStarts().size(), 2);
        return;
    }
    expectRefusal(run, message, before, DescriptionRequests);
}

void TestSignedUpdate::keepDescription(const QString &name)
{
    for (const QString &file : DescriptionRequests)
        QVERIFY(writeFile(path(QStringLiteral("kept/") + name), file.mid(1), served(file.mid(1))));
}

void TestSignedUpdate::serveKept(const QString &name)
{
    for (const QString &file : DescriptionRequests)
        QVERIFY(
            writeFile(root(), file.mid(1), readFile(path(QStringLiteral("kept/") + name) + file)));
}

void TestSignedUpdate::seeSequence3Fail()
{
    QVERIFY(publish(QStringLiteral("v3"), V3, {QStringLiteral("a")}));
    QVERIFY(QFile::remove(root() + QStringLiteral("/v3/a.dll")));
    const UpdaterRun failed = runConsole();
    QCOMPARE(failed.exitCode, 1);
    QVERIFY2(lastError(failed).contains(QStringLiteral("404")), failed.output.constData());
    QCOMPARE(readFile(installDir() + '/' + SequenceRecord), recordOfServed(3));
}

void TestSignedUpdate::expiredReleaseIsRefused()
{
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")},
                    {QStringLiteral("--expires"), QStringLiteral("30")}));
    QString ini = QString::fromUtf8(served(QStringLiteral("update.ini")));
    ini.replace(QRegularExpression(QStringLiteral("Expires=[^\r\n]*")),
                QStringLiteral("Expires=2001-02-03T04:05:06Z"));
    QVERIFY(resign(ini.toUtf8(), QStringLiteral("a")));
    const int before = requestCount();
    expectRefusal(runConsole(), TrustMessages::expired(QStringLiteral("2001-02-03 04:05:06 UTC")),
                  before, DescriptionRequests);
}

// Byte for byte as without signing: no request for the signature or sha256.txt, no record
// of a sequence.
void TestSignedUpdate::clientWithoutKeyUpdatesAsBefore()
{
    configure(QString());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_md5.info")), served("v1/md5.txt"));
    QVERIFY(!QFile::exists(installDir() + QStringLiteral("/update_sequence.info")));
    m_server->waitForRequests(4);
    QCOMPARE(requestsSince(0),
             (QStringList{QStringLiteral("/update.ini"), QStringLiteral("/v1/md5.txt"),
                          QStringLiteral("/v1/a.dll"), QStringLiteral("/v1/data/b.dat")}));
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
}

void TestSignedUpdate::keyRotation_data()
{
    QTest::addColumn<QStringList>("configured");
    QTest::addColumn<QStringList>("signers");
    QTest::newRow("old and new known, signed by the old")
        << QStringList{"a", "b"} << QStringList{"a"};
    QTest::newRow("old and new known, signed by the new")
        << QStringList{"a", "b"} << QStringList{"b"};
    QTest::newRow("old known, signed by both") << QStringList{"a"} << QStringList{"a", "b"};
    QTest::newRow("new known, signed by both") << QStringList{"b"} << QStringList{"a", "b"};
}

void TestSignedUpdate::keyRotation()
{
    QFETCH(QStringList, configured);
    QFETCH(QStringList, signers);
    QStringList keys;
    for (const QString &name : configured)
        keys.append(publicKey(name));
    configure(keys.join(QLatin1Char(',')));
    QVERIFY(publish(QStringLiteral("v1"), V1, signers));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(installDir() + QStringLiteral("/a.dll")), V1.value("a.dll"));
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
}

void TestSignedUpdate::unknownKeyIsRefused()
{
    configure(publicKey(QStringLiteral("a")) + ',' + publicKey(QStringLiteral("b")));
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("c")}));
    expectRefusal(runConsole(), TrustMessages::unknownKey(), 0, DescriptionRequests);
}

void TestSignedUpdate::unusablePublicKeyRefusesEveryRelease_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("reported");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("not base64 of 32 bytes") << "c2hvcnQ="
                                            << "c2hvcnQ=";
    QTest::newRow("a good key and a bad one") << "GOOD,not a key"
                                              << "not a key";
}

void TestSignedUpdate::unusablePublicKeyRefusesEveryRelease()
{
    QFETCH(QString, value);
    QFETCH(QString, reported);
    configure(value.replace(QStringLiteral("GOOD"), publicKey(QStringLiteral("a"))));
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    expectRefusal(runConsole(), TrustMessages::publicKeyInvalid(reported), 0, {});
}

QTEST_GUILESS_MAIN(TestSignedUpdate)
#include "tst_signedupdate.moc"
