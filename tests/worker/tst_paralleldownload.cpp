// Several files in flight ("Connections" above 1): the same end state as one at a time, the
// signals still describe the run, and a failure anywhere ends it with nothing applied.
#include "nginxserver.h"
#include "scriptedserver.h"
#include "workertest.h"

#include <QRegularExpression>
#include <QTest>
#include <QVector>

using namespace workertest;

namespace {

DownloadOptions withConnections(int connections)
{
    DownloadOptions options;
    options.connections = connections;
    return options;
}

// Every file below `dir` with its content, for a byte-for-byte comparison of two trees.
QMap<QString, QByteArray> treeOf(const QString &dir)
{
    QMap<QString, QByteArray> tree;
    for (const QString &file : filesBelow(dir))
        tree.insert(file, readFile(QDir(dir).absoluteFilePath(file)));
    return tree;
}

} // namespace

class TestParallelDownload : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_served;
    QList<ManifestEntry> m_release; // files of mixed sizes in several folders
    QString servedPath(const QString &relative) const { return m_served.filePath(relative); }

    // An installation with some files of the release, some older ones and one cached file.
    void prepare(const WorkerFolders &folders) const
    {
        writeFile(folders.installPath(QStringLiteral("f00/file0.bin")), "older 0");
        writeFile(folders.installPath(QStringLiteral("f01/file1.bin")), "older 1");
        writeFile(folders.installPath(QStringLiteral("f01/file1.bin.old")), "oldest 1");
        writeFile(folders.installPath(QStringLiteral("kept.txt")), "not in the list");
        const ManifestEntry cached = m_release.at(5);
        writeFile(folders.cachePath(cached.path),
                  readFile(servedPath(QStringLiteral("v2/") + cached.path)));
    }

private slots:
    void initTestCase()
    {
        QFile::setPermissions(m_served.path(), QFile::permissions(m_served.path()) |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther);
        for (int i = 0; i < 24; ++i) {
            const QString path =
                QStringLiteral("f%1/file%2.bin").arg(i % 4, 2, 10, QLatin1Char('0')).arg(i);
            const QByteArray content = contentFor(path, i % 5 == 0 ? 400000 + i : 100 + 997 * i);
            writeFile(servedPath(QStringLiteral("v2/") + path), content);
            m_release.append(entryFor(path, content));
        }
    }

    void sameEndStateAsOneAtATime_data()
    {
        QTest::addColumn<int>("connections");
        QTest::newRow("2") << 2;
        QTest::newRow("6") << 6;
        QTest::newRow("8, two managers") << 8;
    }
    void sameEndStateAsOneAtATime()
    {
        QFETCH(int, connections);
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders single, parallel;
        prepare(single);
        prepare(parallel);
        const QString base = nginx.url(QStringLiteral("v2/"));
        const WorkerOutcome one = runWorker(base, single, m_release, withConnections(1));
        const WorkerOutcome several =
            runWorker(base, parallel, m_release, withConnections(connections));
        QVERIFY(one.success);
        QVERIFY(several.success);
        QCOMPARE(several.errorText, one.errorText);
        QCOMPARE(treeOf(parallel.install.path()), treeOf(single.install.path()));
        QVERIFY(treeOf(parallel.cache.path()).isEmpty());
        QCOMPARE(readFile(parallel.installPath(QStringLiteral("f01/file1.bin.old"))),
                 QByteArray("older 1"));
        QCOMPARE(nginx.requestedPaths().size(), 2 * (m_release.size() - 1));
    }

    void signalsDescribeTheRun()
    {
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        prepare(folders);
        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("v2/")), folders, m_release, withConnections(4));
        QVERIFY(outcome.success);
        // Each fetched file once, in list order, without the cached one (index 5). The first
        // is announced inside the constructor, before anybody can listen, as with one.
        QList<int> currents;
        for (const auto &started : outcome.started)
            currents.append(started.second);
        QList<int> expected;
        for (int i = 0; i < m_release.size(); ++i) {
            if (i != 0 && i != 5)
                expected.append(i);
        }
        QCOMPARE(currents, expected);
        QCOMPARE(outcome.started.at(0).first.absoluteFilePath(),
                 folders.cachePath(m_release.at(1).path));
        QCOMPARE(outcome.totals, QVector<int>(expected.size(), m_release.size()).toList());
        // Progress: bytes of the whole update, never going back, ending at the total.
        qint64 total = 0;
        for (const ManifestEntry &entry : m_release)
            total += entry.size;
        QVERIFY(!outcome.progress.isEmpty());
        for (int i = 0; i < outcome.progress.size(); ++i) {
            QCOMPARE(outcome.progress.at(i).second, total);
            if (i > 0)
                QVERIFY(outcome.progress.at(i).first >= outcome.progress.at(i - 1).first);
        }
        QCOMPARE(outcome.progress.last().first, total);
        QVERIFY(outcome.fails.isEmpty());
    }

    void failureEndsTheRunAndAppliesNothing_data()
    {
        QTest::addColumn<bool>("failsLast");
        QTest::newRow("while the others are in flight") << false;
        QTest::newRow("after the others are in the cache") << true;
    }
    void failureEndsTheRunAndAppliesNothing()
    {
        QFETCH(bool, failsLast);
        ScriptedServer server;
        QVERIFY(server.listen());
        QList<ManifestEntry> files;
        for (int i = 0; i < 4; ++i) {
            const QString path = QStringLiteral("ok%1.bin").arg(i);
            const QByteArray content = contentFor(path, 2000 + i);
            files.append(entryFor(path, content));
            server.setResponse(path, ScriptedServer::Response::with(
                                         content,
                                         failsLast ? ScriptedServer::Ending::Complete
                                                   : ScriptedServer::Ending::StallAfterPart,
                                         100));
        }
        ScriptedServer::Response broken = ScriptedServer::Response::with("short");
        broken.delayMs = failsLast ? 300 : 0;
        files.insert(2, entryFor(QStringLiteral("broken.bin"), "the listed content"));
        server.setResponse(QStringLiteral("broken.bin"), broken);
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("ok0.bin")), "installed");

        const WorkerOutcome outcome =
            runWorker(server.url(), folders, files, withConnections(5), 10000);
        QVERIFY(outcome.finished); // the stalled transfers were aborted, not waited for
        QVERIFY(!outcome.success);
        const QString message = QStringLiteral("下载更新文件broken.bin大小不对");
        QCOMPARE(outcome.errorText, message);
        QCOMPARE(outcome.fails.size(), 1);
        QCOMPARE(outcome.fails.at(0).first.absoluteFilePath(),
                 folders.cachePath(QStringLiteral("broken.bin")));
        QCOMPARE(outcome.fails.at(0).second, message);
        QCOMPARE(filesBelow(folders.install.path()), QStringList({"ok0.bin"}));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("ok0.bin"))), QByteArray("installed"));
        QStringList cached = filesBelow(folders.cache.path()).filter(QRegularExpression("^ok"));
        QCOMPARE(cached, failsLast ? QStringList({"ok0.bin", "ok1.bin", "ok2.bin", "ok3.bin"})
                                   : QStringList());
    }

    void filesInFlightAreBoundedByConnections_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("inFlight");
        // Values outside 1 to 8 never reach the worker: the configuration clamps them.
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("8") << 8 << 8;
    }
    void filesInFlightAreBoundedByConnections()
    {
        QFETCH(int, connections);
        QFETCH(int, inFlight);
        ScriptedServer server;
        QVERIFY(server.listen());
        QList<ManifestEntry> files;
        for (int i = 0; i < 12; ++i) {
            const QString path = QStringLiteral("s%1.bin").arg(i);
            files.append(entryFor(path, contentFor(path, 500)));
            server.setResponse(path, ScriptedServer::Response::with(
                                         "x", ScriptedServer::Ending::StallAfterHeaders));
        }
        WorkerFolders folders;
        CDownloadThread worker(server.url(), folders.cache, folders.install, files,
                               withConnections(connections));
        QTRY_COMPARE(server.requests().size(), inFlight);
        QTest::qWait(300);
        QCOMPARE(server.requests().size(), inFlight);
        QStringList expected;
        for (int i = 0; i < inFlight; ++i)
            expected.append(files.at(i).path);
        QStringList asked = server.requestedPaths();
        asked.sort();
        expected.sort();
        QCOMPARE(asked, expected);
    }

    void pathsInTheCacheOwnFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("partial downloads") << QStringLiteral("./.~Partial/0123.part");
        QTest::newRow("the log") << QStringLiteral(".~log/update.log");
        QTest::newRow("the log's folder") << QStringLiteral(".~LOG");
        // Where the update keeps the previous version of the listed a.txt.
        QTest::newRow("old copy of a listed file") << QStringLiteral("a.txt.old");
        QTest::newRow("folder named as an old copy") << QStringLiteral("./a.txt.old/b.txt");
#ifdef Q_OS_WIN // elsewhere another file
        QTest::newRow("old copy in capitals") << QStringLiteral("A.TXT.OLD");
#endif
    }
    void pathsInTheCacheOwnFoldersAreRefused()
    {
        QFETCH(QString, path);
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(
            server.url(), folders, {entryFor(QStringLiteral("a.txt"), "a"), entryFor(path, "b")});
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("更新文件%1路径不合法").arg(path));
        QVERIFY(server.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestParallelDownload)
#include "tst_paralleldownload.moc"
