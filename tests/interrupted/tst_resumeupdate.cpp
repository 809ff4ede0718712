// The real `update console`, killed half-way through a large file and run again: the second
// run asks nginx only for the rest, and the installation ends as the release, byte for byte.
// Also several files in flight ("Connections") against the same nginx.
#include "nginxserver.h"
#include "partialstore.h"
#include "updatenames.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;

constexpr int BigBytes = 64 * 1024 * 1024;

} // namespace

class TestResumeUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedHalfWayTransfersOnlyTheRest();
    void severalFilesInFlightInstallTheRelease();

private:
    QTemporaryDir m_served;
    std::unique_ptr<NginxServer> m_nginx;
    Files m_release;
};

void TestResumeUpdate::initTestCase()
{
    m_release[QStringLiteral("data/big.pak")] = randomBytes(BigBytes, 'b');
    for (int i = 0; i < 40; ++i)
        m_release[QStringLiteral("lib/f%1.dll").arg(i)] = randomBytes(1000 + 313 * i, quint32(i));
    ServerRelease::writeVersion(m_served.path(), QStringLiteral("v2"), m_release);
    ServerRelease::writeDescription(m_served.path(), 0, QStringLiteral("v2"), QStringLiteral("2"));
    m_nginx = std::make_unique<NginxServer>(m_served.path());
    // Slow enough that the test sees the file half-way.
    m_nginx->setServerDirectives(QStringLiteral("location /v2/data/ { limit_rate 48m; }"));
    QVERIFY(m_nginx->start());
}

void TestResumeUpdate::killedHalfWayTransfersOnlyTheRest()
{
    TestInstall install;
    QVERIFY(install.isValid());
    const QString cache = install.rootPath() + QStringLiteral("/cache");
    install.writeConfig(
        {{QStringLiteral("URL"), m_nginx->url()}, {QStringLiteral("Cache"), cache}});
    const QString body = PartialStore(QDir(cache)).bodyPath(QStringLiteral("data/big.pak"));

    const int atStart = m_nginx->loggedRequests().size();
    std::unique_ptr<QProcess> first(install.start({QStringLiteral("console")}));
    QVERIFY(first->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(body).size() >= BigBytes / 2, 60000);
    first->kill();
    QVERIFY(first->waitForFinished(10000));
    const qint64 kept = QFileInfo(body).size();
    QVERIFY(kept < BigBytes);
    QVERIFY(!QFileInfo::exists(install.appDir() + QStringLiteral("/data/big.pak")));
    // nginx logs the broken-off request once it notices; it must not count as the second run's.
    const auto bigRequests = [this](int from) {
        int count = 0;
        for (const NginxServer::LoggedRequest &request : m_nginx->loggedRequests().mid(from))
            count += request.path == QStringLiteral("/v2/data/big.pak") ? 1 : 0;
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(bigRequests(atStart), 1, 20000);
    const int before = m_nginx->loggedRequests().size();

    const UpdaterRun second = install.run({QStringLiteral("console")}, 120000);
    QVERIFY2(second.finished && second.exitCode == 0, second.output.constData());
    QVERIFY(ServerRelease::installed(install.appDir(), m_release));
    QVERIFY(!QFileInfo::exists(cache + QLatin1Char('/') + UpdateNames::partialFolder()));
    QVERIFY(m_nginx->waitForRequests(before + 1));
    qint64 bigBytesSent = -1;
    for (const NginxServer::LoggedRequest &request : m_nginx->loggedRequests().mid(before)) {
        if (request.path == QStringLiteral("/v2/data/big.pak")) {
            QCOMPARE(request.status, 206);
            bigBytesSent = request.bodyBytesSent;
        }
    }
    QCOMPARE(bigBytesSent, BigBytes - kept);
    QVERIFY(bigBytesSent < BigBytes * 6 / 10);
}

void TestResumeUpdate::severalFilesInFlightInstallTheRelease()
{
    TestInstall install;
    QVERIFY(install.isValid());
    install.writeConfig({{QStringLiteral("URL"), m_nginx->url()},
                         {QStringLiteral("Cache"), install.rootPath() + QStringLiteral("/cache")},
                         {QStringLiteral("Connections"), QStringLiteral("6")}});
    const UpdaterRun run = install.run({QStringLiteral("console")}, 120000);
    QVERIFY2(run.finished && run.exitCode == 0, run.output.constData());
    QVERIFY(ServerRelease::installed(install.appDir(), m_release));
}

QTEST_GUILESS_MAIN(TestResumeUpdate)
#include "tst_resumeupdate.moc"
