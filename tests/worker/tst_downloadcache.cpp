// What the worker does with what an earlier run left in the cache folder.
#include "scriptedserver.h"
#include "workertest.h"

#include <QTest>

using namespace workertest;
using Response = ScriptedServer::Response;

namespace {

Response answer(const QByteArray &bytes)
{
    Response response;
    response.body = bytes;
    return response;
}

} // namespace

class TestDownloadCache : public QObject
{
    Q_OBJECT
private slots:
    void rightCachedFileIsNotFetched()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("a.txt"), answer("fresh a"));
        server.setResponse(QStringLiteral("b.txt"), answer("fresh b"));
        server.setResponse(QStringLiteral("c.txt"), answer("fresh c"));
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("b.txt")), "fresh b");
        const QList<ManifestEntry> files = {entryFor(QStringLiteral("a.txt"), "fresh a"),
                                            entryFor(QStringLiteral("b.txt"), "fresh b"),
                                            entryFor(QStringLiteral("c.txt"), "fresh c")};

        const WorkerOutcome outcome = runWorker(server.url(), folders, files);
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(server.requestedPaths(), QStringList({"a.txt", "c.txt"}));
        // The constructor announced a.txt (index 0) before anybody could listen; b.txt (1)
        // was skipped without a signal.
        QCOMPARE(outcome.started.size(), 1);
        QCOMPARE(outcome.started.first().second, 2);
        QCOMPARE(outcome.started.first().first.absoluteFilePath(),
                 folders.cachePath(QStringLiteral("c.txt")));
        QCOMPARE(outcome.totals, QList<int>({3}));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))), QByteArray("fresh b"));
    }

    void indicesCountFromZero()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        QList<ManifestEntry> files;
        for (const QString &name : {"x", "y", "z"}) {
            server.setResponse(name, answer(name.toUtf8()));
            files.append(entryFor(name, name.toUtf8()));
        }
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(server.url(), folders, files);
        QVERIFY(outcome.success);
        QCOMPARE(outcome.started.size(), 2); // index 0 was emitted inside the constructor
        QCOMPARE(outcome.started.at(0).second, 1);
        QCOMPARE(outcome.started.at(1).second, 2);
        QCOMPARE(outcome.totals, QList<int>({3, 3}));
    }

    void wrongCachedFileIsReplacedAfterTheChecks()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("f.txt"), answer("right content"));
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("f.txt")), "stale content, much longer");
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("f.txt"), "right content")});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(server.requestCount(QStringLiteral("f.txt")), 1);
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.txt"))),
                 QByteArray("right content"));
    }

    void failedRefetchKeepsTheOldCacheContent()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("f.txt"), answer("right conten")); // one byte short
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("f.txt")), "stale");
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("f.txt"), "right content")});
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("下载更新文件f.txt大小不对"));
        QCOMPARE(readFile(folders.cachePath(QStringLiteral("f.txt"))), QByteArray("stale"));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList({"f.txt"}));
    }

    void folderInTheTargetsPlaceIsRemoved()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("f.txt"), answer("file"));
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("f.txt/inner/deep.txt")), "in the way");
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("f.txt"), "file")});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.txt"))), QByteArray("file"));
    }

    void fileInTheWayOfTheCacheFolderFailsTheWrite()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("sub/f.txt"), answer("file"));
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("sub")), "a file, not a folder");
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("sub/f.txt"), "file")});
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("更新文件f.txt写入失败"));
        QCOMPARE(readFile(folders.cachePath(QStringLiteral("sub"))),
                 QByteArray("a file, not a folder"));
    }
};

QTEST_GUILESS_MAIN(TestDownloadCache)
#include "tst_downloadcache.moc"
