// What a real `update console` takes from outside besides a release's signature: bounded
// files from a real nginx, system.cfg's keys in any letter case, and a cache folder that a
// second local process writes into while the updater runs.
#include "signedreleasefixture.h"

#include "trustmessages.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";
const QByteArray NothingToDo = R"({"errormsg":"","success":true,"update":false})";
const SignedReleaseFixture::Files V1{{QStringLiteral("a.dll"), "library one"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')}};
const SignedReleaseFixture::Files V2{{QStringLiteral("a.dll"), "library two, longer"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')},
                                     {QStringLiteral("c.txt"), "added in two"}};

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;

QString tooLarge(qint64 limit)
{
    return QStringLiteral("文件超过%1字节的上限").arg(limit);
}

} // namespace

class TestReleaseInputs : public SignedReleaseFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }
    void cachedDescriptionSwappedByAnotherProcessIsNeverUsed();
    void oversizedFileIsRefusedUnread_data();
    void oversizedFileIsRefusedUnread();
    void publicKeyInAnyCaseIsChecked_data();
    void publicKeyInAnyCaseIsChecked();

private:
    QByteArray served(const QString &relative) const { return readFile(root() + '/' + relative); }
    // The server's copy of `relative` made `size` bytes long without writing them (sparse).
    bool growServed(const QString &relative, qint64 size) const;
    // nginx again, compressing every reply on the fly: chunked, without a Content-Length.
    bool serveCompressed();
    // The request nginx logged last, its path with doubled slashes merged.
    NginxServer::LoggedRequest lastLogged() const;
};

// Regression: update.ini was read back from the cache after its signature was checked over
// the fetched bytes; a local process that renamed its own file over the cached copy right
// after the write had its unsigned Folder and Sequence used, and poisoned the rollback record.
void TestReleaseInputs::cachedDescriptionSwappedByAnotherProcessIsNeverUsed()
{
    const QString watcherProgram = QStringLiteral(SWAP_WATCHER_PATH);
    if (watcherProgram.isEmpty())
        QSKIP("the second writer is a Linux program that watches the cache folder with inotify");
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    // The old folder with its lists' hashes under a Sequence far ahead: only the signature
    // tells it from a release.
    const QByteArray forged =
        served(QStringLiteral("update.ini")).replace("Sequence=1", "Sequence=99");
    QVERIFY(writeFile(path(QStringLiteral("forged")), QStringLiteral("update.ini"), forged));
    QVERIFY(publish(QStringLiteral("v2"), V2, {QStringLiteral("a")}));
    QVERIFY(QDir().mkpath(path(QStringLiteral("cache"))));

    QProcess watcher;
    watcher.start(watcherProgram, {path(QStringLiteral("cache")), QStringLiteral("update.ini"),
                                   path(QStringLiteral("forged/update.ini"))});
    QByteArray said;
    const auto swaps = [&] {
        said += watcher.readAllStandardOutput();
        return said.count("swapped");
    };
    QTRY_VERIFY(swaps() >= 0 && said.startsWith("watching"));
    for (int round = 0; round < 10; ++round) {
        const int before = swaps();
        const UpdaterRun run = runConsole();
        QTRY_VERIFY2(swaps() > before, "the second writer swapped nothing");
        QCOMPARE(run.output, round == 0 ? ForcedUpdate : NothingToDo);
        QCOMPARE(run.exitCode, round == 0 ? 0 : 1);
        QCOMPARE(readFile(installDir() + QStringLiteral("/a.dll")), V2.value("a.dll"));
        // The Sequence recorded is the signed one, never the forged 99.
        const QByteArray recorded =
            readFile(installDir() + QStringLiteral("/update_sequence.info"));
        QCOMPARE(recorded.split(' ').value(0).trimmed(), QByteArray("2"));
    }
    watcher.closeWriteChannel();
    QVERIFY(watcher.waitForFinished());
    QVERIFY(!requestsSince(0).join(' ').contains(QStringLiteral("/v1/")));
}

bool TestReleaseInputs::growServed(const QString &relative, qint64 size) const
{
    QFile file(root() + '/' + relative);
    return file.open(QIODevice::ReadWrite) && file.resize(size);
}

bool TestReleaseInputs::serveCompressed()
{
    m_server->stop();
    m_server->setServerDirectives(QStringLiteral("gzip on;\ngzip_types *;\ngzip_min_length 0;\n"));
    return m_server->start();
}

void TestReleaseInputs::oversizedFileIsRefusedUnread_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<QString>("message"); // empty: the release is applied
    const QString description = QStringLiteral("下载升级描述文件失败:%1").arg(tooLarge(MiB));
    const QString signature = TrustMessages::signatureFetchFailed(tooLarge(MiB));
    const QString list = QStringLiteral("下载更新列表文件失败:%1").arg(tooLarge(64 * MiB));
    QTest::newRow("update.ini, 1 MiB and a byte")
        << "update.ini" << MiB + 1 << false << description;
    QTest::newRow("update.ini.sig, 1 GiB") << "update.ini.sig" << GiB << false << signature;
    QTest::newRow("update.ini.sig, 1 GiB chunked without a length")
        << "update.ini.sig" << GiB << true << signature;
    QTest::newRow("update.ini.sig, exactly 1 MiB") << "update.ini.sig" << MiB << false << QString();
    QTest::newRow("md5.txt, 64 MiB and a byte") << "v1/md5.txt" << 64 * MiB + 1 << false << list;
    QTest::newRow("md5.txt, 1 GiB chunked without a length") << "v1/md5.txt" << GiB << true << list;
    QTest::newRow("sha256.txt, 64 MiB and a byte")
        << "v1/sha256.txt" << 64 * MiB + 1 << false
        << TrustMessages::sha256ListFetchFailed(tooLarge(64 * MiB));
}

// Regression: nothing bounded these files; a 1 GB update.ini.sig took 1.99 GB of memory.
void TestReleaseInputs::oversizedFileIsRefusedUnread()
{
    QFETCH(QString, file);
    QFETCH(qint64, size);
    QFETCH(bool, compressed);
    QFETCH(QString, message);
    if (compressed)
        QVERIFY(serveCompressed());
    configure(publicKey(QStringLiteral("a")));
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    QVERIFY(growServed(file, size)); // a signature file's lines after the first are skipped
    const UpdaterRun run = runConsole();
    if (message.isEmpty()) {
        QCOMPARE(run.output, ForcedUpdate);
        QCOMPARE(run.exitCode, 0);
        QTRY_COMPARE(m_install->hostStarts().size(), 1);
        return;
    }
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(lastError(run), message);
    // A list is refused after its description verified, which is the floor from then on.
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences, {QStringLiteral("update_sequence.info")}),
             differences.constData());
    // Refused on the announced length, long before the whole file was sent. What nginx
    // pushed into the socket before the close arrived varies: 80 MiB under Wine, when loaded.
    QTRY_COMPARE(lastLogged().path, QStringLiteral("/") + file);
    if (size >= GiB && !compressed)
        QVERIFY2(lastLogged().bodyBytesSent < size / 4,
                 qPrintable(QString::number(lastLogged().bodyBytesSent)));
}

NginxServer::LoggedRequest TestReleaseInputs::lastLogged() const
{
    const QList<NginxServer::LoggedRequest> logged = m_server->loggedRequests();
    NginxServer::LoggedRequest last = logged.value(logged.size() - 1);
    last.path = QDir::cleanPath(last.path);
    return last;
}

void TestReleaseInputs::publicKeyInAnyCaseIsChecked_data()
{
    QTest::addColumn<QByteArray>("config"); // @KEY@, @URL@ and @CACHE@ are filled in
    QTest::newRow("publickey") << QByteArray(
        "[Update]\nURL=@URL@\nCache=@CACHE@\npublickey=@KEY@\n");
    QTest::newRow("every key and the section in lower case")
        << QByteArray("[update]\nurl=@URL@\ncache=@CACHE@\npublickey=@KEY@\n");
    QTest::newRow("capitals") << QByteArray(
        "[UPDATE]\nURL=@URL@\nCACHE=@CACHE@\nPUBLICKEY=@KEY@\n");
}

// Regression: QSettings matches INI keys exactly on Linux, so "publickey" turned the checks
// off without a word and a tampered release was installed.
void TestReleaseInputs::publicKeyInAnyCaseIsChecked()
{
    QFETCH(QByteArray, config);
    config.replace("@KEY@", publicKey(QStringLiteral("a")).toUtf8())
        .replace("@URL@", m_server->url().toUtf8())
        .replace("@CACHE@", path(QStringLiteral("cache")).toUtf8());
    m_install->writeConfigText(config);
    QVERIFY(snapshotInstall());
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const QByteArray ini = served(QStringLiteral("update.ini"));
    QVERIFY(writeFile(root(), QStringLiteral("update.ini"),
                      QByteArray(ini).replace("Version=", "Version=9")));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(lastError(run), TrustMessages::signatureInvalid());
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences), differences.constData());
    m_server->waitForRequests(2);
    QCOMPARE(requestsSince(0),
             (QStringList{QStringLiteral("/update.ini"), QStringLiteral("/update.ini.sig")}));
}

QTEST_GUILESS_MAIN(TestReleaseInputs)
#include "tst_releaseinputs.moc"
