// "Http2" in system.cfg: real `update console` runs against a real nginx with TLS and HTTP/2
// ("listen ... ssl http2") whose authority "CaFile" pins: many files in flight end as one at a
// time does, a server without HTTP/2 is spoken to over HTTP/1.1, streams broken off are resumed
// by the next run, streams refused after a GOAWAY are sent again, and a failure among many
// streams applies nothing.
#include "nginxserver.h"
#include "partialstore.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"
#include "tlsfixture.h"
#include "toolrun.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;

constexpr int ManyFiles = 200;
constexpr int BigBytes = 16 * 1024 * 1024;
const QString BigPath = QStringLiteral("data/big.pak");

// Files of many sizes in several folders; every tenth holds `version` differently.
Files manyFiles(quint32 version = 2)
{
    Files files;
    for (int i = 0; i < ManyFiles; ++i) {
        const int size = i % 50 == 7 ? 300000 + i : 100 + 61 * i;
        files.insert(QStringLiteral("d%1/f%2.bin").arg(i % 7).arg(i, 3, 10, QLatin1Char('0')),
                     randomBytes(size, quint32(i) * 10 + version));
    }
    return files;
}

} // namespace

class TestHttp2Update : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void manyFilesInFlight_data();
    void manyFilesInFlight();
    void brokenOffStreamIsResumed_data();
    void brokenOffStreamIsResumed();
    void streamsRefusedAfterGoAwayAreSentAgain();
    void failureAmongManyStreamsAppliesNothing_data();
    void failureAmongManyStreamsAppliesNothing();

private:
    // nginx with TLS (and HTTP/2 when asked) serving `files` as version "v2".
    std::unique_ptr<NginxServer> serve(const QTemporaryDir &root, const Files &files, bool http2,
                                       const QString &httpDirectives = QString(),
                                       const QString &serverDirectives = QString());
    // A fresh installation fetching from `server` with `keys` besides URL, Cache and CaFile.
    std::unique_ptr<TestInstall> install(const NginxServer &server,
                                         const QMap<QString, QString> &keys);
    static QString cachePath(const TestInstall &install)
    {
        return install.rootPath() + QStringLiteral("/cache");
    }
    // Lines of the run's log matching `pattern`.
    static QStringList logLines(const TestInstall &install, const QString &pattern);

    TlsFixture m_tls;
    Files m_many;
};

void TestHttp2Update::initTestCase()
{
    QString error;
    QVERIFY2(
        m_tls.makeAuthority(QStringLiteral("ca"), QStringLiteral("http2 test CA"), &error) &&
            m_tls.makeServerCertificate(QStringLiteral("server"), QStringLiteral("ca"), &error),
        qPrintable(error));
    m_many = manyFiles();
}

std::unique_ptr<NginxServer> TestHttp2Update::serve(const QTemporaryDir &root, const Files &files,
                                                    bool http2, const QString &httpDirectives,
                                                    const QString &serverDirectives)
{
    ServerRelease::writeVersion(root.path(), QStringLiteral("v2"), files);
    ServerRelease::writeDescription(root.path(), 1, QStringLiteral("v2"), QStringLiteral("2"));
    auto server = std::make_unique<NginxServer>(root.path());
    server->setTls(m_tls.certificatePath(QStringLiteral("server")),
                   m_tls.keyPath(QStringLiteral("server")));
    server->setHttp2(http2);
    server->setHttpDirectives(httpDirectives);
    server->setServerDirectives(serverDirectives);
    QString error;
    if (!server->start(&error))
        qWarning("nginx: %s", qPrintable(error));
    return server;
}

std::unique_ptr<TestInstall> TestHttp2Update::install(const NginxServer &server,
                                                      const QMap<QString, QString> &keys)
{
    auto made = std::make_unique<TestInstall>();
    QMap<QString, QString> config = keys;
    config.insert(QStringLiteral("URL"), server.url());
    config.insert(QStringLiteral("Cache"), cachePath(*made));
    config.insert(QStringLiteral("CaFile"), QStringLiteral("ca.pem"));
    writeFile(made->appDir() + QStringLiteral("/ca.pem"),
              readFile(m_tls.certificatePath(QStringLiteral("ca"))));
    made->writeConfig(config);
    return made;
}

QStringList TestHttp2Update::logLines(const TestInstall &install, const QString &pattern)
{
    const QString log =
        QString::fromUtf8(readFile(cachePath(install) + QStringLiteral("/.~log/update.log")));
    return log.split(QLatin1Char('\n')).filter(QRegularExpression(pattern));
}

void TestHttp2Update::manyFilesInFlight_data()
{
    QTest::addColumn<bool>("serverHttp2");
    QTest::addColumn<QString>("http2");    // null: the key is absent
    QTest::addColumn<QString>("protocol"); // as nginx logs each request
    QTest::addColumn<QString>("logged");   // as the updater logs each file
    QTest::addColumn<bool>("raised");      // above 8 in flight
    QTest::newRow("HTTP/2, 100 in flight") << true << "true"
                                           << "HTTP/2.0"
                                           << "HTTP/2 200" << true;
    QTest::newRow("server without HTTP/2") << false << "TRUE"
                                           << "HTTP/1.1"
                                           << "HTTP 200" << false;
    QTest::newRow("Http2 absent, as before") << true << QString() << "HTTP/1.1"
                                             << "HTTP 200" << false;
}

// Byte for byte what one file at a time installs; the log tells the protocol of each file.
void TestHttp2Update::manyFilesInFlight()
{
    QFETCH(bool, serverHttp2);
    QFETCH(QString, http2);
    QFETCH(QString, protocol);
    QFETCH(QString, logged);
    QFETCH(bool, raised);
    QTemporaryDir root;
    const auto server = serve(root, m_many, serverHttp2);
    const auto single = install(*server, {});
    const UpdaterRun first = single->run({QStringLiteral("console")}, 120000);
    QVERIFY2(first.finished && first.exitCode == 0, first.output.constData());

    QMap<QString, QString> keys{{QStringLiteral("Connections"), QStringLiteral("100")}};
    if (!http2.isNull())
        keys.insert(QStringLiteral("Http2"), http2);
    const auto many = install(*server, keys);
    const int before = server->loggedRequests().size();
    const UpdaterRun run = many->run({QStringLiteral("console")}, 120000);
    QVERIFY2(run.finished && run.exitCode == 0, run.output.constData());
    QVERIFY(ServerRelease::installed(many->appDir(), m_many));
    QByteArray differences;
    QVERIFY2(foldersEqual(single->appDir(), many->appDir(),
                          {QStringLiteral("system.cfg"), QStringLiteral("host-starts.jsonl")},
                          &differences),
             differences.constData());

    QVERIFY(server->waitForRequests(before + 2 + ManyFiles));
    QStringList files;
    for (const NginxServer::LoggedRequest &request : server->loggedRequests().mid(before)) {
        QCOMPARE(request.protocol, protocol);
        QCOMPARE(request.status, 200);
        if (request.path.startsWith(QLatin1String("/v2/d")))
            files.append(request.path);
    }
    QCOMPARE(files.size(), ManyFiles);
    files.removeDuplicates();
    QCOMPARE(files.size(), ManyFiles);
    QCOMPARE(logLines(*many, QStringLiteral(" update\\.net d\\d/f\\d+\\.bin: ") +
                                 QRegularExpression::escape(logged) + QLatin1Char(','))
                 .size(),
             ManyFiles);
    QCOMPARE(logLines(*many, QStringLiteral(" update\\.fetch HTTP/2: up to 100 files in flight$"))
                 .size(),
             raised ? 1 : 0);
}

void TestHttp2Update::brokenOffStreamIsResumed_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("stream reset: the file cut short on the server") << "reset";
    QTest::newRow("connection cut: nginx's worker killed") << "cut";
    QTest::newRow("reload: GOAWAY, then the connection cut") << "reload";
}

// The first run keeps what arrived; the next asks only for the rest, still over HTTP/2.
void TestHttp2Update::brokenOffStreamIsResumed()
{
    QFETCH(QString, fault);
    QTemporaryDir root;
    const Files release{{BigPath, randomBytes(BigBytes, 7)}, {QStringLiteral("a.dll"), "a"}};
    // Slow enough to be seen half-way; the resumed request (with Range) at full speed.
    const auto server = serve(root, release, true,
                              QStringLiteral("map $http_range $first_rate { \"\" 2m; default 0; }"),
                              QStringLiteral("location /v2/data/ { limit_rate $first_rate; }"));
    const auto made = install(*server, {{QStringLiteral("Http2"), QStringLiteral("true")}});
    const QString served = root.filePath(QStringLiteral("v2/") + BigPath);
    const QDateTime modified = QFileInfo(served).lastModified();
    const QString body = PartialStore(QDir(cachePath(*made))).bodyPath(BigPath);

    std::unique_ptr<QProcess> first(made->start({QStringLiteral("console")}));
    QVERIFY(first->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(body).size() >= BigBytes / 8, 60000);
    if (fault == QLatin1String("reset"))
        QVERIFY(QFile::resize(served, 0));
    else if (fault == QLatin1String("cut"))
        QVERIFY(server->killWorkers());
    else
        QVERIFY(server->reload());
    QVERIFY(first->waitForFinished(60000));
    QCOMPARE(first->exitCode(), 1);
    const QString message =
        lastReportedError({true, 1, first->readAllStandardOutput(), QByteArray()});
    QVERIFY2(message.startsWith(QStringLiteral("下载更新文件big.pak")), qPrintable(message));
    const qint64 kept = QFileInfo(body).size();
    QVERIFY(kept >= BigBytes / 8 && kept < BigBytes);
    QVERIFY(!QFileInfo::exists(made->appDir() + QLatin1Char('/') + BigPath));
    if (fault == QLatin1String("reset")) { // the same file again, validator included
        QVERIFY(writeFile(served, release.value(BigPath)));
        QFile file(served);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    const UpdaterRun second = made->run({QStringLiteral("console")}, 120000);
    QVERIFY2(second.finished && second.exitCode == 0, second.output.constData());
    QVERIFY(ServerRelease::installed(made->appDir(), release));
    const auto resumed = [&server] {
        QList<NginxServer::LoggedRequest> found;
        for (const NginxServer::LoggedRequest &request : server->loggedRequests()) {
            if (request.path.endsWith(QStringLiteral("/big.pak")) && request.status == 206)
                found.append(request);
        }
        return found;
    };
    QTRY_COMPARE(resumed().size(), 1);
    QCOMPARE(resumed().first().bodyBytesSent, BigBytes - kept);
    QCOMPARE(resumed().first().protocol, QStringLiteral("HTTP/2.0"));
    QCOMPARE(logLines(*made, QStringLiteral("GET .*/big\\.pak from byte %1$").arg(kept)).size(), 1);
}

// nginx ends an HTTP/2 connection after 50 requests (GOAWAY): the streams it had not begun
// fail in Qt, which never sends them again; the updater does, and the run succeeds.
void TestHttp2Update::streamsRefusedAfterGoAwayAreSentAgain()
{
    QTemporaryDir root;
    const auto server = serve(root, m_many, true, QStringLiteral("keepalive_requests 50;"));
    const auto made = install(*server, {{QStringLiteral("Http2"), QStringLiteral("true")},
                                        {QStringLiteral("Connections"), QStringLiteral("100")}});
    const UpdaterRun run = made->run({QStringLiteral("console")}, 120000);
    QVERIFY2(run.finished && run.exitCode == 0, run.output.constData());
    QVERIFY(ServerRelease::installed(made->appDir(), m_many));
    const QStringList resent =
        logLines(*made, QStringLiteral(" update\\.fetch .*: refused before it began \\(.*\\), "
                                       "sending it again \\([1-5] of 5\\)$"));
    QVERIFY2(!resent.isEmpty(), "no stream was refused: nginx sent no GOAWAY in time");
    qInfo("sent again: %d, of which a second time %d, a third time %d", int(resent.size()),
          int(resent.filter(QStringLiteral("(2 of 5)")).size()),
          int(resent.filter(QStringLiteral("(3 of 5)")).size()));
}

void TestHttp2Update::failureAmongManyStreamsAppliesNothing_data()
{
    QTest::addColumn<bool>("missing"); // else the file differs from its listed digest
    QTest::addColumn<QString>("message");
    QTest::newRow("a file missing") << true << QStringLiteral("下载更新文件f150.bin网络错误：404-");
    QTest::newRow("a file of other content") << false << QStringLiteral("更新文件f150.bin校验不对");
}

// The first failure ends the run with its own message; every installed file stays as it was.
void TestHttp2Update::failureAmongManyStreamsAppliesNothing()
{
    QFETCH(bool, missing);
    QFETCH(QString, message);
    QTemporaryDir root;
    const auto server = serve(root, m_many, true);
    const QString broken = root.filePath(QStringLiteral("v2/d3/f150.bin"));
    if (missing)
        QVERIFY(QFile::remove(broken));
    else
        QVERIFY(writeFile(broken, randomBytes(int(QFileInfo(broken).size()), 99)));
    const auto made = install(*server, {{QStringLiteral("Http2"), QStringLiteral("true")},
                                        {QStringLiteral("Connections"), QStringLiteral("100")}});
    const Files older = manyFiles(1);
    ServerRelease::install(made->appDir(), older);

    const UpdaterRun run = made->run({QStringLiteral("console")}, 120000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(lastReportedError(run).startsWith(message), qPrintable(lastReportedError(run)));
    QVERIFY(ServerRelease::installed(made->appDir(), older));
    QCOMPARE(filesBelow(made->appDir()).filter(QRegularExpression(QStringLiteral("\\.old$"))),
             QStringList());
    QVERIFY(!QFileInfo::exists(made->appDir() + QStringLiteral("/update_md5.info")));
    QVERIFY(
        !logLines(*made, QStringLiteral(" update\\.net d\\d/f\\d+\\.bin: HTTP/2 200,")).isEmpty());
}

QTEST_GUILESS_MAIN(TestHttp2Update)
#include "tst_http2update.moc"
