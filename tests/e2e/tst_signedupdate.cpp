// Signed releases applied by real `update console` processes from a real nginx: what a
// client with "PublicKey" accepts, what it refuses, and that a refusal changes nothing.
#include "signedreleasefixture.h"

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

// The client's own files: never part of a release.
const QStringList ClientOnly{
    QStringLiteral("system.cfg"),           QStringLiteral("update_md5.info"),
    QStringLiteral("update_sequence.info"), QStringLiteral("update"),
    QStringLiteral("update.exe"),           QStringLiteral("Host.exe"),
    QStringLiteral("host-starts.jsonl")};

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
    void expectRefusal(const UpdaterRun &run, const QString &message, int requestsBefore,
                       const QStringList &requests);
    QByteArray served(const QString &relative) const { return readFile(root() + '/' + relative); }
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
                                     int requestsBefore, const QStringList &requests)
{
    QVERIFY2(run.finished, run.errors.constData());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(lastError(run), message);
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences), differences.constData());
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
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_sequence.info")), QByteArray("1\n"));

    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
    const int before = requestCount();
    QCOMPARE(runConsole().exitCode, 0);
    QByteArray differences;
    QVERIFY2(foldersEqual(path(QStringLiteral("releases/v2")), installDir(),
                          ClientOnly + QStringList{QStringLiteral("*.old")}, &differences),
             differences.constData());
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_md5.info")), served("v2/md5.txt"));
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_sequence.info")), QByteArray("2\n"));
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
    const QString invalid = TrustMessages::signatureInvalid();
    const QStringList fetchedA = ListRequests + QStringList{QStringLiteral("/v2/a.dll")};
    QTest::newRow("a byte of update.ini") << "update.ini" << invalid << DescriptionRequests;
    QTest::newRow("a signature byte") << "signature" << invalid << DescriptionRequests;
    QTest::newRow("a malformed signature line")
        << "signature line" << TrustMessages::signatureMissing() << DescriptionRequests;
    QTest::newRow("a byte of md5.txt")
        << "md5.txt" << TrustMessages::md5ListMismatch() << QStringList(ListRequests.mid(0, 3));
    QTest::newRow("a byte of sha256.txt")
        << "sha256.txt" << TrustMessages::sha256ListMismatch() << ListRequests;
    QTest::newRow("a byte of a file") << "file" << fileChecksum("a.dll") << fetchedA;
    QTest::newRow("a file missing from sha256.txt, signed")
        << "unlisted" << TrustMessages::fileNotInSha256List("a.dll") << ListRequests;
    QTest::newRow("another SHA-256 listed, signed")
        << "sha256 differs" << TrustMessages::fileSha256Mismatch("a.dll") << fetchedA;
    QTest::newRow("another SHA-256 listed, file in the cache")
        << "cached" << TrustMessages::fileSha256Mismatch("a.dll") << fetchedA;
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
    applyV1ThenPublishV2();
    tamper(how);
    const int before = requestCount();
    expectRefusal(runConsole(), message, before, requests);
}

void TestSignedUpdate::rollbackIsRefused()
{
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const QString oldRoot = path(QStringLiteral("root-v1"));
    QCOMPARE(runTool(QStringLiteral("cp"), {QStringLiteral("-a"), root(), oldRoot}).exitCode, 0);
    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
    QCOMPARE(runConsole().exitCode, 0);
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
    QVERIFY(snapshotInstall());

    // The old, validly signed description served again, as a replaying attacker would.
    for (const QString &name : {QStringLiteral("update.ini"), QStringLiteral("update.ini.sig")})
        QVERIFY(writeFile(root(), name, readFile(oldRoot + '/' + name)));
    const int before = requestCount();
    expectRefusal(runConsole(), TrustMessages::sequenceRollback(1, 2), before, DescriptionRequests);
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
