// How a run begins and ends: refused paths, ends reached before the thread starts, long
// runs of cached entries, and what the failure signal names.
#include "scriptedserver.h"
#include "testplatform.h"
#include "workertest.h"

#include <QSignalSpy>
#include <QTest>

using namespace workertest;

class TestWorkerLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void pathsLeavingTheFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("parent") << QStringLiteral("../x");
        QTest::newRow("parent inside") << QStringLiteral("a/../../x");
        QTest::newRow("absolute") << QStringLiteral("/x");
        QTest::newRow("drive letter") << QStringLiteral("C:/x");
        QTest::newRow("colon") << QStringLiteral("a:b");
        QTest::newRow("empty") << QString();
        // Names of the updater's own files, which such a file would lose or misrecord.
        QTest::newRow("previous version") << QStringLiteral("good.txt.~pv");
        QTest::newRow("earlier old copy") << QStringLiteral("sub/a.txt.~od");
        QTest::newRow("written in one step") << QStringLiteral("a.txt.~nw");
        QTest::newRow("staged") << QStringLiteral(".~nw1");
        QTest::newRow("staged in a folder") << QStringLiteral("sub/.~nw12");
        QTest::newRow("staged in capitals") << QStringLiteral(".~NW0");
        QTest::newRow("folder with a temporary name") << QStringLiteral("x.~PV/a.txt");
        QTest::newRow("record") << QStringLiteral("update_md5.info");
        QTest::newRow("record in capitals") << QStringLiteral("Update_MD5.INFO");
        QTest::newRow("record through a dot") << QStringLiteral("./update_md5.info");
        QTest::newRow("record being written") << QStringLiteral("update_md5.info.~nw");
        QTest::newRow("folder named as the record") << QStringLiteral("update_md5.info/x");
        QTest::newRow("journal") << QStringLiteral("update_md5.info.journal");
        QTest::newRow("applied sequence") << QStringLiteral("update_sequence.info");
        // The packed copies' folder on the server, where a listed file would be taken for
        // their list or a copy.
        QTest::newRow("packed copies' list") << QStringLiteral(".~zstd/list.txt");
        QTest::newRow("packed copies' folder in capitals") << QStringLiteral(".~ZSTD/a.zst");
        QTest::newRow("packed copies' folder through a dot") << QStringLiteral("./.~Zstd");
        // The first file again in other words: its previous version would be lost.
        QTest::newRow("the same file through a dot") << QStringLiteral("./good.txt");
        QTest::newRow("the same file through a doubled slash") << QStringLiteral(".//good.txt");
    }
    void pathsLeavingTheFoldersAreRefused()
    {
        QFETCH(QString, path);
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response response;
        response.body = "evil";
        server.setResponse(QStringLiteral("good.txt"), response);
        server.setResponse(path, response);
        server.setResponse(QStringLiteral("x"), response); // where a URL with ".." ends up
        WorkerFolders folders;
        const QString planted = QDir(folders.root.path()).filePath(QStringLiteral("x"));
        writeFile(planted, "planted");
        writeFile(folders.installPath(QStringLiteral("good.txt")), "installed");
        const QStringList before = filesBelow(folders.root.path());
        const bool rootXExisted = QFile::exists(QStringLiteral("/x"));

        const QList<ManifestEntry> files = {entryFor(QStringLiteral("good.txt"), "evil"),
                                            entryFor(path, "evil")};
        const WorkerOutcome outcome = runWorker(server.url(), folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("更新文件%1路径不合法").arg(path));
        // Refused before anything of the list was fetched or moved.
        QCOMPARE(server.requestedPaths(), QStringList());
        QCOMPARE(filesBelow(folders.root.path()), before);
        QCOMPARE(readFile(planted), QByteArray("planted"));
        QCOMPARE(QFile::exists(QStringLiteral("/x")), rootXExisted);
    }

    // One file on Windows: the second would replace the first, whose previous version would
    // be lost. Elsewhere they are two files and both are installed.
    void namesDifferingOnlyInCase()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response upper, lower;
        upper.body = "upper";
        lower.body = "lower";
        server.setResponse(QStringLiteral("Data/a.txt"), upper);
        server.setResponse(QStringLiteral("data/a.txt"), lower);
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("Data/a.txt")), "installed");
        const QStringList before = filesBelow(folders.root.path());

        const WorkerOutcome outcome = runWorker(server.url(), folders,
                                                {entryFor(QStringLiteral("Data/a.txt"), "upper"),
                                                 entryFor(QStringLiteral("data/a.txt"), "lower")});
        QVERIFY(outcome.finished);
        if (runsOnWindows()) {
            QVERIFY(!outcome.success);
            QCOMPARE(outcome.errorText, QStringLiteral("更新文件data/a.txt路径不合法"));
            QCOMPARE(server.requestedPaths(), QStringList());
            QCOMPARE(filesBelow(folders.root.path()), before);
            QCOMPARE(readFile(folders.installPath(QStringLiteral("Data/a.txt"))),
                     QByteArray("installed"));
        } else {
            QVERIFY2(outcome.success, qPrintable(outcome.errorText));
            QCOMPARE(readFile(folders.installPath(QStringLiteral("Data/a.txt"))),
                     QByteArray("upper"));
            QCOMPARE(readFile(folders.installPath(QStringLiteral("data/a.txt"))),
                     QByteArray("lower"));
        }
    }

    // Regression: with the cache a folder of the installation (the default on Windows), a
    // listed file inside it was installed over the download of another listed file.
    void pathsIntoTheCacheFolderAreRefused()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const QDir cache(folders.installPath(QStringLiteral("update")));
        writeFile(cache.filePath(QStringLiteral("a.txt")), "new a");
        const QStringList before = filesBelow(folders.root.path());
        CDownloadThread worker(server.url(), cache, folders.install,
                               {entryFor(QStringLiteral("a.txt"), "new a"),
                                entryFor(QStringLiteral("update/a.txt"), "other")});
        QCOMPARE(worker.errorText(), QStringLiteral("更新文件update/a.txt路径不合法"));
        worker.start(QThread::InheritPriority);
        QVERIFY(waitForThreadEnd(&worker, 5000));
        QCOMPARE(filesBelow(folders.root.path()), before);
        QVERIFY(server.requests().isEmpty());
    }

    // Names Windows silently maps onto another file or a device: refused there before
    // anything is fetched or moved, like the names differing only in case. Elsewhere the
    // list is not refused for them.
    void windowsAliasNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("trailing dot") << QStringLiteral("good.txt.");
        QTest::newRow("trailing space") << QStringLiteral("good.txt ");
        QTest::newRow("folder with trailing dot") << QStringLiteral("data./a.txt");
        QTest::newRow("device") << QStringLiteral("NUL");
        QTest::newRow("device with extension") << QStringLiteral("data/nul.txt");
        QTest::newRow("port in lower case") << QStringLiteral("com1.log");
        QTest::newRow("printer port folder") << QStringLiteral("Lpt9/a.txt");
        QTest::newRow("forbidden character") << QStringLiteral("a|b.txt");
        QTest::newRow("control character") << QStringLiteral("a\x1f"
                                                             "b.txt");
    }
    void windowsAliasNames()
    {
        QFETCH(QString, path);
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response response;
        response.body = "new";
        server.setResponse(QStringLiteral("a.txt"), response);
        server.setResponse(path, response);
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("good.txt")), "installed");
        const QStringList before = filesBelow(folders.root.path());

        const WorkerOutcome outcome =
            runWorker(server.url(), folders,
                      {entryFor(QStringLiteral("a.txt"), "new"), entryFor(path, "new")});
        QVERIFY(outcome.finished);
        const QString refusal = QStringLiteral("更新文件%1路径不合法").arg(path);
        if (runsOnWindows()) {
            QVERIFY(!outcome.success);
            QCOMPARE(outcome.errorText, refusal);
            QCOMPARE(server.requestedPaths(), QStringList());
            QCOMPARE(filesBelow(folders.root.path()), before);
            QCOMPARE(readFile(folders.installPath(QStringLiteral("good.txt"))),
                     QByteArray("installed"));
        } else {
            QVERIFY2(outcome.errorText != refusal, qPrintable(outcome.errorText));
            QVERIFY(server.requestedPaths().contains(QStringLiteral("a.txt")));
        }
    }

    void endBeforeStartStillEndsTheThread_data()
    {
        QTest::addColumn<bool>("allCached");
        QTest::newRow("everything cached") << true;
        QTest::newRow("first entry refused") << false;
    }
    void endBeforeStartStillEndsTheThread()
    {
        QFETCH(bool, allCached);
        WorkerFolders folders;
        writeFile(folders.cachePath(QStringLiteral("f.txt")), "cached");
        const ManifestEntry entry =
            entryFor(allCached ? QStringLiteral("f.txt") : QStringLiteral("../f.txt"), "cached");
        CDownloadThread worker(QStringLiteral("http://127.0.0.1:1/"), folders.cache,
                               folders.install, {entry});
        QCOMPARE(worker.success(), allCached); // the run is over already
        QSignalSpy finished(&worker, &QThread::finished);
        worker.start(QThread::InheritPriority);
        const bool ended = waitForThreadEnd(&worker, 5000);
        stopThread(&worker);
        QVERIFY(ended);
        QCOMPARE(finished.count(), 1);
    }

    // Regression: a long run of cached entries must not nest one call per entry.
    void manyCachedEntriesNeedNoDeepStack()
    {
        WorkerFolders folders;
        QList<ManifestEntry> files;
        for (int i = 0; i < 3000; ++i) {
            const QString name = QStringLiteral("many/%1.txt").arg(i, 5, 10, QLatin1Char('0'));
            writeFile(folders.cachePath(name), name.toUtf8());
            files.append(entryFor(name, name.toUtf8()));
        }
        bool success = false;
        // The whole run happens inside the constructor; a small stack makes nesting crash.
        QThread *small = QThread::create([&] {
            CDownloadThread worker(QStringLiteral("http://127.0.0.1:1/"), folders.cache,
                                   folders.install, files);
            success = worker.success();
        });
        small->setStackSize(512 * 1024);
        small->start();
        QVERIFY(small->wait(60000));
        delete small;
        QVERIFY(success);
        QCOMPARE(filesBelow(folders.install.path()).size(), 3000);
    }

    void applyFailureNamesTheInstalledFile()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response response;
        response.body = "new";
        server.setResponse(QStringLiteral("sub/f.txt"), response);
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("sub/f.txt")), "old");
        writeFile(folders.installPath(QStringLiteral("sub/f.txt.~pv/x")), "blocks the delete");
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("sub/f.txt"), "new")});
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.fails.size(), 1);
        QCOMPARE(outcome.fails.first().first.absoluteFilePath(),
                 folders.installPath(QStringLiteral("sub/f.txt")));
        QCOMPARE(outcome.fails.first().second, QStringLiteral("删除文件f.txt.~pv失败"));
        QCOMPARE(outcome.errorText, outcome.fails.first().second);
    }

    void cancelEndsTheThreadWhileTheTransferGoesOn()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response response;
        response.body = "slow body";
        response.delayMs = 1500;
        server.setResponse(QStringLiteral("f.txt"), response);
        WorkerFolders folders;
        CDownloadThread worker(server.url(), folders.cache, folders.install,
                               {entryFor(QStringLiteral("f.txt"), "slow body")});
        QSignalSpy finished(&worker, &QThread::finished);
        worker.start(QThread::InheritPriority);
        worker.quit();
        QVERIFY(waitForThreadEnd(&worker, 5000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!worker.success());
        QCOMPARE(worker.errorText(), QString());
        // The chain goes on as long as the worker exists.
        QTRY_VERIFY_WITH_TIMEOUT(worker.success(), 10000);
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.txt"))), QByteArray("slow body"));
    }
};

QTEST_GUILESS_MAIN(TestWorkerLifecycle)
#include "tst_workerlifecycle.moc"
