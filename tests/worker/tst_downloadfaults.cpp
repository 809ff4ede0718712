// Transfers that go wrong in ways a real server does not produce on demand.
#include "scriptedserver.h"
#include "workertest.h"

#include <QTest>

using namespace workertest;
using Response = ScriptedServer::Response;
using Ending = ScriptedServer::Ending;

Q_DECLARE_METATYPE(ScriptedServer::Response)
Q_DECLARE_METATYPE(ManifestEntry)

namespace {

const QByteArray body = contentFor(QStringLiteral("payload"), 200000);

} // namespace

class TestDownloadFaults : public QObject
{
    Q_OBJECT
private slots:
    void badBodiesAreNeverStored_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<ManifestEntry>("entry");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("messageStart");
        const ManifestEntry entry = entryFor(QStringLiteral("dir/f.bin"), body);
        const QString size = QStringLiteral("下载更新文件f.bin大小不对");
        const QString digest = QStringLiteral("更新文件f.bin校验不对");
        const QString network = QStringLiteral("下载更新文件f.bin网络错误：200-");
        const int normal = FetchOptions::DefaultTransferTimeoutMs;

        QTest::newRow("one byte short")
            << ScriptedServer::Response::with(body.left(body.size() - 1)) << entry << normal
            << size;
        QTest::newRow("one byte long")
            << ScriptedServer::Response::with(body + 'x') << entry << normal << size;
        Response lyingLength = ScriptedServer::Response::with(body);
        lyingLength.contentLength = body.size() - 1;
        QTest::newRow("length lies short") << lyingLength << entry << normal << size;
        ManifestEntry wrongDigest = entry;
        wrongDigest.md5 = digestTextFor("something else");
        QTest::newRow("wrong digest")
            << ScriptedServer::Response::with(body) << wrongDigest << normal << digest;
        ManifestEntry upperCase = entry;
        upperCase.md5 = entry.md5.toUpper();
        QTest::newRow("upper-case digest")
            << ScriptedServer::Response::with(body) << upperCase << normal << digest;
        QTest::newRow("cut mid-body")
            << ScriptedServer::Response::with(body, Ending::CloseAfterPart, body.size() / 2)
            << entry << normal << size;
        QTest::newRow("stall after headers")
            << ScriptedServer::Response::with(body, Ending::StallAfterHeaders) << entry << 1000
            << network;
        QTest::newRow("stall mid-body")
            << ScriptedServer::Response::with(body, Ending::StallAfterPart, 1000) << entry << 1000
            << network;
        // The body is refused as soon as it outgrows the list; no time-out is needed for that.
        QTest::newRow("too long, then stalls")
            << ScriptedServer::Response::with(body + body, Ending::StallAfterPart, body.size() + 10)
            << entry << normal << size;
    }
    void badBodiesAreNeverStored()
    {
        QFETCH(Response, response);
        QFETCH(ManifestEntry, entry);
        QFETCH(int, timeoutMs);
        QFETCH(QString, messageStart);
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("v2/dir/f.bin"), response);
        WorkerFolders folders;

        const WorkerOutcome outcome =
            runWorker(server.url(QStringLiteral("v2/")), folders, {entry}, timeoutMs, 10000);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QVERIFY2(outcome.errorText.startsWith(messageStart), qPrintable(outcome.errorText));
        QCOMPARE(outcome.fails.size(), 1);
        QCOMPARE(outcome.fails.first().first.absoluteFilePath(),
                 folders.cachePath(QStringLiteral("dir/f.bin")));
        // Neither the listed name nor a temporary file is left in the cache.
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
        QCOMPARE(filesBelow(folders.install.path()), QStringList());
    }

    void bodyWithoutLengthIsAccepted()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        Response response =
            ScriptedServer::Response::with(body.left(3000), ScriptedServer::Ending::Trickle);
        response.trickleChunk = 1000;
        response.trickleIntervalMs = 250;
        response.sendContentLength = false;
        server.setResponse(QStringLiteral("f.bin"), response);
        WorkerFolders folders;
        const WorkerOutcome outcome =
            runWorker(server.url(), folders, {entryFor(QStringLiteral("f.bin"), body.left(3000))});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QVERIFY(!outcome.progress.isEmpty());
        QCOMPARE(outcome.progress.first().second, qint64(-1));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.bin"))), body.left(3000));
    }

    void progressRestartsForEveryFile()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        const QByteArray second = contentFor(QStringLiteral("second"), 5000);
        server.setResponse(QStringLiteral("a.bin"), ScriptedServer::Response::with(body));
        server.setResponse(QStringLiteral("b.bin"), ScriptedServer::Response::with(second));
        WorkerFolders folders;
        const WorkerOutcome outcome = runWorker(
            server.url(), folders,
            {entryFor(QStringLiteral("a.bin"), body), entryFor(QStringLiteral("b.bin"), second)});
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QVERIFY(outcome.progress.contains(qMakePair(qint64(body.size()), qint64(body.size()))));
        const int secondStart = outcome.progress.indexOf(qMakePair(qint64(0), qint64(5000)));
        const int secondEnd = outcome.progress.indexOf(qMakePair(qint64(5000), qint64(5000)));
        QVERIFY(secondEnd >= 0);
        QVERIFY(secondStart < 0 || secondStart < secondEnd);
        QCOMPARE(outcome.progress.last(), qMakePair(qint64(5000), qint64(5000)));
    }

private:
    static QByteArray digestTextFor(const QByteArray &bytes) { return entryFor({}, bytes).md5; }
};

QTEST_GUILESS_MAIN(TestDownloadFaults)
#include "tst_downloadfaults.moc"
