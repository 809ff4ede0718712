// The worker against a real nginx on 127.0.0.1.
#include "nginxserver.h"
#include "testplatform.h"
#include "workertest.h"

#include <QTest>

using namespace workertest;

class TestDownloadNginx : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_served;
    QString servedPath(const QString &relative) const { return m_served.filePath(relative); }
    ManifestEntry serve(const QString &path, const QByteArray &content)
    {
        writeFile(servedPath(QStringLiteral("v2/") + path), content);
        return entryFor(path, content);
    }

private slots:
    void init()
    {
        QVERIFY(m_served.isValid());
        QFile::setPermissions(m_served.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther);
    }
    void cleanup() { QDir(servedPath(QStringLiteral("v2"))).removeRecursively(); }

    void firstInstallIntoEmptyFolder()
    {
        const QList<ManifestEntry> files = {
            serve(QStringLiteral("a.txt"), "alpha"),
            serve(QStringLiteral("bin/host.dll"), contentFor(QStringLiteral("dll"), 300000)),
            serve(QStringLiteral("new/deeper/still/z.dat"), "zed"),
        };
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(nginx.url(QStringLiteral("v2/")), folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("更新成功"));
        QVERIFY(outcome.fails.isEmpty());
        for (const ManifestEntry &entry : files)
            QCOMPARE(readFile(folders.installPath(entry.path)),
                     readFile(servedPath(QStringLiteral("v2/") + entry.path)));
        QCOMPARE(filesBelow(folders.install.path()),
                 QStringList({"a.txt", "bin/host.dll", "new/deeper/still/z.dat"}));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void incrementalUpdateRequestsOnlyWhatIsMissing()
    {
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("a.txt")), "old a");
        writeFile(folders.installPath(QStringLiteral("b.txt")), "old b");
        writeFile(folders.installPath(QStringLiteral("same.txt")), "same");
        const ManifestEntry a = serve(QStringLiteral("a.txt"), "new a");
        const ManifestEntry b = serve(QStringLiteral("b.txt"), "new b");
        serve(QStringLiteral("same.txt"), "same");
        writeFile(folders.cachePath(QStringLiteral("b.txt")), "new b"); // from an earlier run
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());

        const WorkerOutcome outcome = runWorker(nginx.url(QStringLiteral("v2/")), folders, {a, b});
        QVERIFY(outcome.success);
        QCOMPARE(nginx.requestedPaths(), QStringList({"/v2/a.txt"}));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("a.txt"))), QByteArray("new a"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("a.txt.old"))), QByteArray("old a"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))), QByteArray("new b"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt.old"))), QByteArray("old b"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("same.txt"))), QByteArray("same"));
        QVERIFY(!QFile::exists(folders.installPath(QStringLiteral("same.txt.old"))));
    }

    void redirectToAnotherServerIsFollowed()
    {
        const ManifestEntry entry = serve(QStringLiteral("f.bin"), "moved content");
        const quint16 otherPort = NginxServer::freePort();
        NginxServer nginx(m_served.path());
        nginx.setHttpDirectives(QStringLiteral("server { listen 127.0.0.1:%1; root \"%2\"; }")
                                    .arg(otherPort)
                                    .arg(NginxServer::serverPath(m_served.path())));
        nginx.setServerDirectives(
            QStringLiteral("location /moved/ { return 302 http://127.0.0.1:%1/v2/f.bin; }")
                .arg(otherPort));
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("moved/")), folders, {entry});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        // Qt 5.15 itself sometimes asks for the redirecting address twice.
        const QStringList requested = nginx.requestedPaths();
        QCOMPARE(requested.count(QStringLiteral("/v2/f.bin")), 1);
        QCOMPARE(requested.last(), QStringLiteral("/v2/f.bin"));
        QCOMPARE(requested.count(QStringLiteral("/moved/f.bin")), requested.size() - 1);
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.bin"))),
                 QByteArray("moved content"));
    }

    void notFoundReportsTheStatus()
    {
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const ManifestEntry first = serve(QStringLiteral("here.txt"), "here");
        const ManifestEntry missing = entryFor(QStringLiteral("sub/gone.txt"), "gone");
        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("v2/")), folders, {first, missing});
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QVERIFY2(outcome.errorText.startsWith(QStringLiteral("下载更新文件gone.txt网络错误：404-")),
                 qPrintable(outcome.errorText));
        QVERIFY(outcome.errorText.size() >
                QStringLiteral("下载更新文件gone.txt网络错误：404-").size());
        QCOMPARE(outcome.fails.size(), 1);
        QCOMPARE(outcome.fails.first().first.absoluteFilePath(),
                 folders.cachePath(QStringLiteral("sub/gone.txt")));
        QCOMPARE(outcome.fails.first().second, outcome.errorText);
        // Nothing is applied, what was fetched stays in the cache for the next run.
        QCOMPARE(filesBelow(folders.install.path()), QStringList());
        QCOMPARE(filesBelow(folders.cache.path()), QStringList({"here.txt"}));
    }

    void unreachableServerReportsStatusZero()
    {
        const quint16 port = NginxServer::freePort(); // nothing listens there
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(QStringLiteral("http://127.0.0.1:%1/v2/").arg(port),
                                                folders, {entryFor(QStringLiteral("x.txt"), "x")});
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QVERIFY2(outcome.errorText.startsWith(QStringLiteral("下载更新文件x.txt网络错误：0-")),
                 qPrintable(outcome.errorText));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void namesAreEncodedForTheServer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("space") << QStringLiteral("with space.txt");
        QTest::newRow("non-ascii") << QStringLiteral("中文 文件/数据.dat");
        QTest::newRow("accented folder") << QStringLiteral("Données/é è.txt");
        if (!runsOnWindows()) // "?" cannot be part of a Windows file name
            QTest::newRow("url characters") << QStringLiteral("100% #1?x=&y.txt");
        QTest::newRow("url characters but ?") << QStringLiteral("100% #1;x=&y.txt");
        QTest::newRow("percent escape lookalike") << QStringLiteral("a%41b.txt");
    }
    void namesAreEncodedForTheServer()
    {
        QFETCH(QString, path);
        const ManifestEntry entry = serve(path, path.toUtf8() + " body");
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(nginx.url(QStringLiteral("v2/")), folders, {entry});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(nginx.requestedPaths(), QStringList(QStringLiteral("/v2/") + path));
        QCOMPARE(readFile(folders.installPath(path)), path.toUtf8() + " body");
    }
};

QTEST_GUILESS_MAIN(TestDownloadNginx)
#include "tst_downloadnginx.moc"
