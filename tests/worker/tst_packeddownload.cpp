// Files fetched as their packed copies, made with the zstd command line and listed in a list
// composed here: which copy a file is fetched as (a patch from the installed version, the
// compressed copy, or the whole file), the exact requests, the whole file in place of a packed
// copy that fails in any way, and a cut packed transfer resumed.
#include "digest.h"
#include "nginxserver.h"
#include "packedcopyfetch.h"
#include "packedrelease.h"
#include "partialstore.h"
#include "scriptedserver.h"
#include "serverrelease.h"
#include "workertest.h"

#include <QTest>

using namespace workertest;
using Response = ScriptedServer::Response;

namespace {

const QString Path = QStringLiteral("lib/a.dll");
const QString FullPath = QStringLiteral("/v2/lib/a.dll");
const QByteArray V1 = randomBytes(300000, 7);
const QByteArray V2 = V1.left(150000) + randomBytes(4000, 8) + V1.mid(150000);
// Installed in place of V1 by another release, or by hand.
const QByteArray Other = V1.left(100000) + randomBytes(2000, 9) + V1.mid(100000);
const QByteArray Edited = QByteArray(V1).replace(200000, 5, "hand!");
// A file before it in the list, fetched whole.
const QString SmallPath = QStringLiteral("c.txt");
const QByteArray Small = contentFor(SmallPath, 5000);

QString served(const QByteArray &packed)
{
    return QStringLiteral("/v2/") + PackedRelease::relativePath(packed);
}

QByteArray flipped(QByteArray bytes, int index)
{
    bytes[index] = char(bytes.at(index) ^ 0x5a);
    return bytes;
}

} // namespace

class TestPackedDownload : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_served;
    QByteArray m_patch;      // V1 to V2
    QByteArray m_otherPatch; // Other to V2
    QByteArray m_compressed; // V2

    QString versionDir() const { return m_served.filePath(QStringLiteral("v2")); }
    // The copies named in `kinds` ("patch", "other", "zstd") served and listed.
    PackList serve(const QStringList &kinds) const
    {
        QByteArray lines;
        if (kinds.contains(QStringLiteral("patch")))
            lines += PackedRelease::servePatch(versionDir(), Path, m_patch, V1);
        if (kinds.contains(QStringLiteral("other")))
            lines += PackedRelease::servePatch(versionDir(), Path, m_otherPatch, Other);
        if (kinds.contains(QStringLiteral("zstd")))
            lines += PackedRelease::serveCompressed(versionDir(), Path, m_compressed);
        return parsePackList(PackedRelease::writeList(versionDir(), lines));
    }
    // The options of a run whose comparison found `installed` at Path (null: nothing), and
    // that file in the installation.
    DownloadOptions optionsFor(const WorkerFolders &folders, const PackList &packs,
                               const QByteArray &installed, const QByteArray &recorded) const
    {
        DownloadOptions options;
        options.packs = packs;
        if (!installed.isNull()) {
            writeFile(folders.installPath(Path), installed);
            options.installedMd5.insert(Path, digestText(recorded));
        }
        return options;
    }

private slots:
    void initTestCase()
    {
        QFile::setPermissions(m_served.path(), QFile::permissions(m_served.path()) |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther);
        QVERIFY(writeFile(versionDir(), Path, V2));
        QVERIFY(writeFile(versionDir(), SmallPath, Small));
        m_patch = PackedRelease::patch(V1, V2);
        m_otherPatch = PackedRelease::patch(Other, V2);
        m_compressed = PackedRelease::compress(V2);
        QVERIFY(!m_patch.isEmpty() && !m_otherPatch.isEmpty() && !m_compressed.isEmpty());
        QVERIFY(m_patch.size() < 10000 && m_compressed.size() > 200000);
    }

    void init() { QDir(versionDir() + QStringLiteral("/.~zstd")).removeRecursively(); }

    void choosesEachKind_data()
    {
        QTest::addColumn<QByteArray>("installed"); // null: nothing installed
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("fetched"); // "patch", "other", "zstd" or "whole"
        QTest::addColumn<bool>("isSigned");
        const QStringList all{"patch", "other", "zstd"};
        QTest::newRow("patch from the installed version") << V1 << all << "patch" << false;
        QTest::newRow("patch from the installed version, signed") << V1 << all << "patch" << true;
        QTest::newRow("the patch whose base is installed") << Other << all << "other" << false;
        QTest::newRow("compressed copy: no patch from the installed version")
            << Edited << all << "zstd" << false;
        QTest::newRow("compressed copy: nothing installed")
            << QByteArray() << all << "zstd" << false;
        QTest::newRow("compressed copy, signed") << QByteArray() << all << "zstd" << true;
        QTest::newRow("whole file: only a patch from another version")
            << Edited << QStringList{"patch"} << "whole" << false;
        QTest::newRow("whole file: nothing listed for it")
            << V1 << QStringList() << "whole" << false;
    }
    void choosesEachKind()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QStringList, listed);
        QFETCH(QString, fetched);
        QFETCH(bool, isSigned);
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        DownloadOptions options = optionsFor(folders, serve(listed), installed, installed);
        if (isSigned)
            options.release =
                VerifiedRelease::restored(1, QByteArray(),
                                          {{Path, PackedRelease::sha256Hex(V2)},
                                           {SmallPath, PackedRelease::sha256Hex(Small)}});
        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("v2/")), folders,
                      {entryFor(SmallPath, Small), entryFor(Path, V2)}, options);
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(readFile(folders.installPath(Path)), V2);
        const QByteArray packed = fetched == QLatin1String("patch")   ? m_patch
                                  : fetched == QLatin1String("other") ? m_otherPatch
                                  : fetched == QLatin1String("zstd")  ? m_compressed
                                                                      : QByteArray();
        QCOMPARE(nginx.requestedPaths(),
                 (QStringList{QStringLiteral("/v2/c.txt"),
                              packed.isNull() ? FullPath : served(packed)}));
        // The listed file is announced, once; the progress is the transfer's own.
        QCOMPARE(outcome.started,
                 (QList<QPair<QFileInfo, int>>{qMakePair(QFileInfo(folders.cachePath(Path)), 1)}));
        const qint64 travelled = packed.isNull() ? V2.size() : packed.size();
        QCOMPARE(outcome.progress.last(), qMakePair(travelled, travelled));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void fallsBackToTheWholeFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("patch whose bytes are not the listed ones") << "patch changed";
        QTest::newRow("patch that does not decode") << "patch corrupt";
        QTest::newRow("patch missing on the server") << "patch missing";
        QTest::newRow("installed file edited by hand") << "base edited";
        QTest::newRow("compressed copy that does not decompress") << "not zstd";
        QTest::newRow("compressed copy of other bytes") << "other bytes";
    }
    void fallsBackToTheWholeFile()
    {
        QFETCH(QString, fault);
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        QByteArray packed = m_patch;
        QByteArray line;
        if (fault == QLatin1String("not zstd") || fault == QLatin1String("other bytes")) {
            packed = fault == QLatin1String("not zstd")
                         ? randomBytes(5000, 11)
                         : PackedRelease::compress(QByteArray(V2.size(), 'o'));
            line = PackedRelease::serveCompressed(versionDir(), Path, packed);
        } else if (fault == QLatin1String("patch corrupt")) {
            packed = flipped(m_patch, m_patch.size() - 100);
            line = PackedRelease::servePatch(versionDir(), Path, packed, V1);
        } else {
            line = PackedRelease::servePatch(versionDir(), Path, packed, V1);
        }
        if (fault == QLatin1String("patch changed"))
            QVERIFY(writeFile(versionDir(), PackedRelease::relativePath(packed),
                              flipped(packed, packed.size() / 2)));
        if (fault == QLatin1String("patch missing"))
            QVERIFY(QFile::remove(versionDir() + '/' + PackedRelease::relativePath(packed)));
        const PackList packs = parsePackList(PackedRelease::writeList(versionDir(), line));
        const QByteArray installed = fault == QLatin1String("base edited") ? Edited : V1;
        const DownloadOptions options = optionsFor(folders, packs, installed, V1);

        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("v2/")), folders,
                      {entryFor(SmallPath, Small), entryFor(Path, V2)}, options);
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        QCOMPARE(readFile(folders.installPath(Path)), V2);
        QCOMPARE(readFile(folders.installPath(Path + QStringLiteral(".old"))), installed);
        QCOMPARE(nginx.requestedPaths(),
                 (QStringList{QStringLiteral("/v2/c.txt"), served(packed), FullPath}));
        // The first file is announced inside the constructor, before anybody listens.
        QCOMPARE(outcome.started.size(), 1);
        QCOMPARE(outcome.started.at(0), qMakePair(QFileInfo(folders.cachePath(Path)), 1));
        QCOMPARE(outcome.progress.last(), qMakePair(qint64(V2.size()), qint64(V2.size())));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    // With several files in flight: the bytes that travel, against all that is to travel.
    void progressCountsTheBytesThatTravel_data()
    {
        QTest::addColumn<bool>("patchMissing");
        QTest::newRow("patch") << false;
        QTest::newRow("patch missing, then the whole file") << true;
    }
    void progressCountsTheBytesThatTravel()
    {
        QFETCH(bool, patchMissing);
        NginxServer nginx(m_served.path());
        QVERIFY(nginx.start());
        WorkerFolders folders;
        DownloadOptions options = optionsFor(folders, serve({"patch"}), V1, V1);
        options.connections = 3;
        if (patchMissing)
            QVERIFY(QFile::remove(versionDir() + '/' + PackedRelease::relativePath(m_patch)));
        const WorkerOutcome outcome =
            runWorker(nginx.url(QStringLiteral("v2/")), folders,
                      {entryFor(SmallPath, Small), entryFor(Path, V2)}, options);
        QVERIFY2(outcome.success, qPrintable(outcome.errorText));
        const qint64 total = Small.size() + (patchMissing ? V2.size() : m_patch.size());
        QCOMPARE(outcome.progress.last(), qMakePair(total, total));
        for (int i = 1; i < outcome.progress.size(); ++i)
            QVERIFY(outcome.progress.at(i).first >= outcome.progress.at(i - 1).first);
        QCOMPARE(outcome.started,
                 (QList<QPair<QFileInfo, int>>{qMakePair(QFileInfo(folders.cachePath(Path)), 1)}));
    }

    // A server that cuts both the patch and then the whole file: each keeps its own partial
    // file, and the next run asks for the rest of the patch only.
    void cutPatchTransferResumesWithRange()
    {
        const QByteArray big = V1 + randomBytes(400000, 12);
        const QByteArray bigPatch = PackedRelease::patch(V1, big);
        QVERIFY(bigPatch.size() > 300000);
        const PackList packs = parsePackList(PackedRelease::writeList(
            versionDir(), PackedRelease::servePatch(versionDir(), Path, bigPatch, V1)));
        const QString patchPath = QStringLiteral("v2/") + PackedRelease::relativePath(bigPatch);
        const QByteArray etag = "\"patch-etag\"";
        ScriptedServer server;
        QVERIFY(server.listen());
        Response cut = Response::with(bigPatch, ScriptedServer::Ending::CloseAfterPart, 200000);
        cut.headers.append({"ETag", etag});
        server.setResponse(patchPath, cut);
        Response wholeCut = Response::with(big, ScriptedServer::Ending::CloseAfterPart, 300000);
        wholeCut.headers.append({"ETag", QByteArray("\"whole-etag\"")});
        server.setResponse(QStringLiteral("v2/") + Path, wholeCut);
        WorkerFolders folders;
        const DownloadOptions options = optionsFor(folders, packs, V1, V1);
        const ManifestEntry entry = entryFor(Path, big);
        QVERIFY(!runWorker(server.url(QStringLiteral("v2/")), folders, {entry}, options).success);

        const PartialStore store(folders.cache);
        const QString patchKey = packedcopy::transferEntry(packs.first()).path;
        QCOMPARE(readFile(store.bodyPath(patchKey)), bigPatch.left(200000));
        QCOMPARE(readFile(store.bodyPath(Path)), big.left(300000));
        QCOMPARE(filesBelow(folders.cache.path()).size(), 4); // two bodies, two info files

        Response rest = Response::with(bigPatch.mid(200000));
        rest.status = 206;
        rest.headers = {{"ETag", etag},
                        {"Content-Range", "bytes 200000-" +
                                              QByteArray::number(bigPatch.size() - 1) + '/' +
                                              QByteArray::number(bigPatch.size())}};
        server.setResponse(patchPath, rest);
        const int before = server.requests().size();
        const WorkerOutcome second =
            runWorker(server.url(QStringLiteral("v2/")), folders, {entry}, options);
        QVERIFY2(second.success, qPrintable(second.errorText));
        QCOMPARE(readFile(folders.installPath(Path)), big);
        const QList<ScriptedServer::Request> requests = server.requests().mid(before);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).path, patchPath);
        QVERIFY(requests.at(0).headers.contains({"Range", "bytes=200000-"}));
        QVERIFY(requests.at(0).headers.contains({"If-Range", etag}));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    // As if the updater were killed during the patch: nginx then sends only the rest (206).
    void killedPatchTransferResumesFromNginx()
    {
        const QByteArray big = V1 + randomBytes(600000, 13);
        const QByteArray bigPatch = PackedRelease::patch(V1, big);
        const PackList packs = parsePackList(PackedRelease::writeList(
            versionDir(), PackedRelease::servePatch(versionDir(), Path, bigPatch, V1)));
        NginxServer nginx(m_served.path());
        nginx.setServerDirectives(QStringLiteral("limit_rate 200k;"));
        QVERIFY(nginx.start());
        WorkerFolders folders;
        const DownloadOptions options = optionsFor(folders, packs, V1, V1);
        const ManifestEntry entry = entryFor(Path, big);
        const QString body =
            PartialStore(folders.cache).bodyPath(packedcopy::transferEntry(packs.first()).path);
        {
            auto *worker = new CDownloadThread(nginx.url(QStringLiteral("v2/")), folders.cache,
                                               folders.install, {entry}, options);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(body).size() >= 200000, 10000);
            delete worker;
        }
        const qint64 have = QFileInfo(body).size();
        QVERIFY(have < bigPatch.size());
        const WorkerOutcome second =
            runWorker(nginx.url(QStringLiteral("v2/")), folders, {entry}, options);
        QVERIFY2(second.success, qPrintable(second.errorText));
        QCOMPARE(readFile(folders.installPath(Path)), big);
        QVERIFY(nginx.waitForRequests(2));
        const QList<NginxServer::LoggedRequest> logged = nginx.loggedRequests();
        QCOMPARE(logged.size(), 2);
        QCOMPARE(logged.last().path, served(bigPatch));
        QCOMPARE(logged.last().status, 206);
        QCOMPARE(logged.last().bodyBytesSent, bigPatch.size() - have);
    }
};

QTEST_GUILESS_MAIN(TestPackedDownload)
#include "tst_packeddownload.moc"
