// A transfer that broke off leaves its body in the cache's partial folder; the next run asks
// for the rest only (Range, If-Range) and still checks the whole file.
#include "digest.h"
#include "nginxserver.h"
#include "partialstore.h"
#include "updatenames.h"
#include "scriptedserver.h"
#include "workertest.h"

#include <QDateTime>
#include <QTest>

using namespace workertest;
using Response = ScriptedServer::Response;
using Ending = ScriptedServer::Ending;

namespace {

const QByteArray wholeFile = contentFor(QStringLiteral("resumable"), 1500000);
const QString filePath = QStringLiteral("data/big.pak");
const QByteArray etag = "\"v1-etag\"";

Response withEtag(Response response, const QByteArray &tag = etag)
{
    response.headers.append({"ETag", tag});
    return response;
}

// The answer of a server that honours the Range of the second request.
Response rest(qint64 from, const QByteArray &content = wholeFile)
{
    Response response = withEtag(Response::with(content.mid(int(from))));
    response.status = 206;
    response.headers.append({"Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                  QByteArray::number(content.size() - 1) + '/' +
                                                  QByteArray::number(content.size())});
    return response;
}

QByteArray headerOf(const ScriptedServer::Request &request, const QByteArray &name)
{
    for (const auto &header : request.headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

} // namespace

class TestResumeDownload : public QObject
{
    Q_OBJECT
private:
    // A first run whose transfer breaks off after `part` bytes; returns what the cache keeps.
    QStringList breakOff(ScriptedServer &server, const WorkerFolders &folders, qint64 part,
                         const ManifestEntry &entry)
    {
        server.setResponse(filePath,
                           withEtag(Response::with(wholeFile, Ending::CloseAfterPart, part)));
        const WorkerOutcome first = runWorker(server.url(), folders, {entry});
        [&] {
            QVERIFY(!first.success);
        }();
        return filesBelow(folders.cache.path());
    }
    QString bodyPath(const WorkerFolders &folders) const
    {
        return PartialStore(folders.cache).bodyPath(filePath);
    }

private slots:
    void cutTransferResumesWithRange()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        const QStringList kept = breakOff(server, folders, 600000, entry);
        QCOMPARE(kept.size(), 2); // the body and its info, nothing under the listed name
        QVERIFY(kept.at(0).startsWith(UpdateNames::partialFolder() + QLatin1Char('/')));
        QCOMPARE(readFile(bodyPath(folders)), wholeFile.left(600000));

        server.setResponse(filePath, rest(600000));
        const WorkerOutcome second = runWorker(server.url(), folders, {entry});
        QVERIFY2(second.success, qPrintable(second.errorText));
        const ScriptedServer::Request request = server.requests().last();
        QCOMPARE(headerOf(request, "Range"), QByteArray("bytes=600000-"));
        QCOMPARE(headerOf(request, "If-Range"), etag);
        QCOMPARE(readFile(folders.installPath(filePath)), wholeFile);
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
        // Progress counts the whole file, the bytes it started with included.
        QCOMPARE(second.progress.last(),
                 qMakePair(qint64(wholeFile.size()), qint64(wholeFile.size())));
    }

    void serverIgnoringRangeGetsWholeBodyTaken()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        breakOff(server, folders, 500000, entry);
        server.setResponse(filePath, withEtag(Response::with(wholeFile)));
        const WorkerOutcome second = runWorker(server.url(), folders, {entry});
        QVERIFY2(second.success, qPrintable(second.errorText));
        QCOMPARE(headerOf(server.requests().last(), "Range"), QByteArray("bytes=500000-"));
        QCOMPARE(readFile(folders.installPath(filePath)), wholeFile);
    }

    void rangeThatDoesNotContinueIsAskedAgainWhole()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        breakOff(server, folders, 500000, entry);
        server.setResponse(filePath, rest(400000)); // not where we stopped
        const int before = server.requests().size();
        const WorkerOutcome second = runWorker(server.url(), folders, {entry});
        // The plain request that follows gets the same 206, which it did not ask for.
        QVERIFY(!second.success);
        QVERIFY2(second.errorText.startsWith(QStringLiteral("下载更新文件big.pak网络错误：206-")),
                 qPrintable(second.errorText));
        const QList<ScriptedServer::Request> requests = server.requests().mid(before);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(headerOf(requests.at(0), "Range"), QByteArray("bytes=500000-"));
        QCOMPARE(headerOf(requests.at(1), "Range"), QByteArray());
        QCOMPARE(headerOf(requests.at(1), "If-Range"), QByteArray());
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void partialThatCannotBeUsedIsStartedOver_data()
    {
        QTest::addColumn<int>("partialBytes");
        QTest::addColumn<bool>("sameEntry");
        QTest::newRow("longer than the listed size") << wholeFile.size() + 10 << true;
        QTest::newRow("as long as the listed size") << wholeFile.size() << true;
        QTest::newRow("of another listed version") << 500000 << false;
    }
    void partialThatCannotBeUsedIsStartedOver()
    {
        QFETCH(int, partialBytes);
        QFETCH(bool, sameEntry);
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        breakOff(server, folders, 500000, entry);
        writeFile(bodyPath(folders), QByteArray(partialBytes, 'p'));
        ManifestEntry listed = entry;
        if (!sameEntry) { // the list moved on: the same path with other content
            const QByteArray next = contentFor(QStringLiteral("next"), wholeFile.size());
            listed = entryFor(filePath, next);
            server.setResponse(filePath, withEtag(Response::with(next)));
        } else {
            server.setResponse(filePath, withEtag(Response::with(wholeFile)));
        }
        const WorkerOutcome second = runWorker(server.url(), folders, {listed});
        QVERIFY2(second.success, qPrintable(second.errorText));
        QCOMPARE(headerOf(server.requests().last(), "Range"), QByteArray());
        QCOMPARE(headerOf(server.requests().last(), "If-Range"), QByteArray());
        QCOMPARE(digestText(readFile(folders.installPath(filePath))), listed.md5);
    }

    void smallFilesAndWeakValidatorsKeepNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("tag");
        QTest::newRow("small file") << contentFor(QStringLiteral("small"), 100000) << etag;
        QTest::newRow("weak validator only") << wholeFile << QByteArray("W/\"weak\"");
    }
    void smallFilesAndWeakValidatorsKeepNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, tag);
        ScriptedServer server;
        QVERIFY(server.listen());
        server.setResponse(filePath,
                           withEtag(Response::with(content, Ending::CloseAfterPart, 50000), tag));
        WorkerFolders folders;
        const WorkerOutcome first = runWorker(server.url(), folders, {entryFor(filePath, content)});
        QVERIFY(!first.success);
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void resumedFileFailingItsDigestIsFetchedWhole()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        WorkerFolders folders;
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        breakOff(server, folders, 500000, entry);
        QByteArray damaged = readFile(bodyPath(folders));
        damaged[1000] = '#';
        writeFile(bodyPath(folders), damaged);
        server.setResponse(filePath, rest(500000));
        const int before = server.requests().size();
        const WorkerOutcome second = runWorker(server.url(), folders, {entry});
        // The whole-file request gets the scripted 206 again, which it did not ask for.
        QVERIFY(!second.success);
        const QList<ScriptedServer::Request> requests = server.requests().mid(before);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(headerOf(requests.at(1), "Range"), QByteArray());
        QVERIFY(!QFile::exists(folders.installPath(filePath)));
        QVERIFY(!QFile::exists(folders.cachePath(filePath)));
    }

    // With nginx: the second run asks for the rest and gets 206; a file touched on the server
    // in between (its ETag changes) comes whole with 200.
    void nginxSendsOnlyTheRest_data()
    {
        QTest::addColumn<bool>("touched");
        QTest::newRow("same file") << false;
        QTest::newRow("file changed on the server") << true;
    }
    void nginxSendsOnlyTheRest()
    {
        QFETCH(bool, touched);
        QTemporaryDir served;
        QFile::setPermissions(served.path(), QFile::permissions(served.path()) |
                                                 QFileDevice::ReadOther | QFileDevice::ExeOther);
        const QString onServer = served.filePath(QStringLiteral("v2/") + filePath);
        QVERIFY(writeFile(onServer, wholeFile));
        const ManifestEntry entry = entryFor(filePath, wholeFile);
        NginxServer nginx(served.path());
        nginx.setServerDirectives(QStringLiteral("limit_rate 1m;"));
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const QString body = bodyPath(folders);
        {
            auto *worker = new CDownloadThread(nginx.url(QStringLiteral("v2/")), folders.cache,
                                               folders.install, {entry});
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(body).size() >= 300000, 10000);
            delete worker; // as if the updater were killed
        }
        const qint64 have = QFileInfo(body).size();
        QVERIFY(have < wholeFile.size());
        if (touched) {
            QFile file(onServer);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
        }
        const WorkerOutcome second = runWorker(nginx.url(QStringLiteral("v2/")), folders, {entry});
        QVERIFY2(second.success, qPrintable(second.errorText));
        QCOMPARE(readFile(folders.installPath(filePath)), wholeFile);
        QVERIFY(nginx.waitForRequests(2));
        const NginxServer::LoggedRequest last = nginx.loggedRequests().last();
        QCOMPARE(last.status, touched ? 200 : 206);
        QCOMPARE(last.bodyBytesSent, touched ? wholeFile.size() : wholeFile.size() - have);
    }
};

QTEST_GUILESS_MAIN(TestResumeDownload)
#include "tst_resumedownload.moc"
