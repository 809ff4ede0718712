// Whole update runs of the real driver against a real nginx on 127.0.0.1: console runs as
// real processes, windowed runs in this process with their dialogs answered by object name.
#include "driverharness.h"
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray NothingToDo = R"({"errormsg":"","success":true,"update":false})";
const QByteArray FailureEnd = "\",\"success\":false,\"update\":false}";
const QByteArray ForcedDue = R"({"errormsg":"","success":true,"update":true})";

const QMap<QString, QByteArray> V1{{"Host.dat", "host v1"}, {"lib/a.dll", "a v1"}};
const QMap<QString, QByteArray> V2{
    {"Host.dat", "host v2"}, {"lib/a.dll", "a v1"}, {"lib/new/b.dll", "b new"}};

// Every file below `dir` with its content.
QMap<QString, QByteArray> contentBelow(const QString &dir)
{
    QMap<QString, QByteArray> content;
    for (const QString &file : filesBelow(dir))
        content.insert(file, readFile(dir + '/' + file));
    return content;
}

struct Server
{
    QTemporaryDir root;
    NginxServer nginx{root.path()};
    TestInstall install;

    bool start(const QString &directives = QString())
    {
        nginx.setServerDirectives(directives);
        if (!install.isValid() || !nginx.start())
            return false;
        install.writeConfig({{"URL", nginx.url()}, {"Cache", install.rootPath() + "/cache"}});
        return true;
    }
    QString record() const { return install.appDir() + "/update_md5.info"; }
    QByteArray log() const { return readFile(install.rootPath() + "/cache/.~log/update.log"); }
    int runWindowed(DriverHarness &harness) const
    {
        return harness.run({"update"}, install.appDir(), install.updaterPath());
    }
};

} // namespace

class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void consoleNothingToUpdateRewritesRecord();
    void consoleOptionalUpdateRunsWithoutWindow();
    void descriptionThatCannotBeStoredIsAnAttemptFailure();
    void consoleOptionalFailureAddsSecondReport();
    void consoleForcedUpdateShowsProgressAndStartsHost();
    void windowedOptionalAccepted();
    void windowedOptionalDeclined();
    void windowedForcedUpdate();
    void windowedListFetchRetryFetchesDescriptionFirst();
    void windowedOptionalFailureNotRetried();
    void windowedOptionalFailureRetried();
    void windowedNothingToUpdateStartsHost();
    void cancelOptionalUpdate();
    void cancelForcedUpdateStartsNewAttempt();
    void forcedUpdateFailsTwiceThenSucceeds();
    void listedNamesOfTheUpdaterAreRefused_data();
    void listedNamesOfTheUpdaterAreRefused();
};

void TestUpdateFlow::consoleNothingToUpdateRewritesRecord()
{
    Server server;
    QVERIFY(server.start());
    const QByteArray list = ServerRelease::writeVersion(server.root.path(), "v1", V1);
    ServerRelease::writeDescription(server.root.path(), 0, "v1", "1.0");
    ServerRelease::install(server.install.appDir(), V1);
    writeFile(server.record(), "stale record that lists nothing\n");

    const UpdaterRun run = server.install.run({"console"});
    QCOMPARE(run.output, NothingToDo);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(readFile(server.record()), list);
    QTest::qWait(200);
    QCOMPARE(server.install.hostStarts().size(), 0);
}

void TestUpdateFlow::consoleOptionalUpdateRunsWithoutWindow()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::install(server.install.appDir(), V1);
    const QByteArray list = ServerRelease::writeVersion(server.root.path(), "v2", V2);
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");

    const UpdaterRun run = server.install.run({"console"});
    QCOMPARE(run.output, NothingToDo);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QCOMPARE(readFile(server.install.appDir() + "/Host.dat.old"), QByteArray("host v1"));
    QCOMPARE(readFile(server.record()), list);
    QTest::qWait(200);
    QCOMPARE(server.install.hostStarts().size(), 0);
    // What a support engineer reads: each step, one line each.
    const QByteArray log = server.log();
    for (const char *line :
         {" update.net GET http://127.0.0.1:", "/v2/lib/new/b.dll\n",
          " update.net Host.dat: HTTP 200, 7 of 7 bytes\n",
          " update.check Host.dat: size and MD5 right\n",
          " update.apply lib/new/b.dll: new version in place\n", " update.run done, exit code 0\n"})
        QVERIFY2(log.contains(line), line);
}

void TestUpdateFlow::descriptionThatCannotBeStoredIsAnAttemptFailure()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");
    // A non-empty folder where "update.ini" is to be written: even root cannot open it.
    const QString blocked = server.install.rootPath() + "/cache/update.ini";
    writeFile(blocked + "/keep", "x");
    const UpdaterRun run = server.install.run({"console"});
    QCOMPARE(run.exitCode, 1);
    const QByteArray expectedStart = "{\"errormsg\":\"创建文件[" + blocked.toUtf8() + "]失败:";
    QVERIFY2(run.output.startsWith(expectedStart), run.output.constData());
    QVERIFY(run.output.endsWith(FailureEnd));
}

void TestUpdateFlow::consoleOptionalFailureAddsSecondReport()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeVersion(server.root.path(), "v2", V2);
    QFile::remove(server.root.path() + "/v2/lib/new/b.dll");
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");

    const UpdaterRun run = server.install.run({"console"});
    QCOMPARE(run.exitCode, 1);
    const QByteArray failureStart = "{\"errormsg\":\"下载更新文件b.dll网络错误：404-";
    QVERIFY2(run.output.startsWith(NothingToDo + failureStart), run.output.constData());
    QVERIFY(run.output.endsWith(FailureEnd));
    QVERIFY(!QFileInfo::exists(server.record()));
    QVERIFY(server.log().contains(" update.net lib/new/b.dll: HTTP 404, 0 of 5 bytes"));
    QVERIFY(server.log().contains(" update.run failed: 下载更新文件b.dll网络错误：404-"));
}

void TestUpdateFlow::consoleForcedUpdateShowsProgressAndStartsHost()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeVersion(server.root.path(), "v2", V2);
    ServerRelease::writeDescription(server.root.path(), 1, "v2", "2.0");
    DriverHarness harness;
    QCOMPARE(
        harness.run({"update", "console"}, server.install.appDir(), server.install.updaterPath()),
        0);
    QCOMPARE(harness.reports(), ForcedDue);
    QCOMPARE(harness.seenNames(), QStringList{"CUpdateProgress"});
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::windowedOptionalAccepted()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::install(server.install.appDir(), V1);
    const QByteArray list = ServerRelease::writeVersion(server.root.path(), "v2", V2);
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0.1");
    DriverHarness harness;
    harness.answer("CUpdateNoticeClass", DriverHarness::click("update"));
    QCOMPARE(server.runWindowed(harness), 0);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateNoticeClass", "CUpdateProgress"}));
    QCOMPARE(harness.seen().first().heading, QStringLiteral("发现新版本：2.0.1"));
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QCOMPARE(readFile(server.record()), list);
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
    QTest::qWait(200);
    QCOMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::windowedOptionalDeclined()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::install(server.install.appDir(), V1);
    ServerRelease::writeVersion(server.root.path(), "v2", V2);
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");
    writeFile(server.record(), "previous record\n");
    DriverHarness harness;
    harness.answer("CUpdateNoticeClass", DriverHarness::click("skip"));
    QCOMPARE(server.runWindowed(harness), 1);
    QCOMPARE(harness.seenNames(), QStringList{"CUpdateNoticeClass"});
    QCOMPARE(readFile(server.record()), QByteArray("previous record\n"));
    QVERIFY(ServerRelease::installed(server.install.appDir(), V1));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
    QVERIFY(server.nginx.waitForRequests(2));
    QCOMPARE(server.nginx.requestedPaths().size(), 2); // the description and the list only
}

void TestUpdateFlow::windowedForcedUpdate()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeVersion(server.root.path(), "v2", V2);
    ServerRelease::writeDescription(server.root.path(), 3, "v2", "2.0");
    DriverHarness harness;
    QCOMPARE(server.runWindowed(harness), 0);
    QCOMPARE(harness.seenNames(), QStringList{"CUpdateProgress"});
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::windowedListFetchRetryFetchesDescriptionFirst()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeDescription(server.root.path(), 1, "v2", "2.0");
    DriverHarness harness;
    const QString root = server.root.path();
    harness.answer("CUpdateError", [root](QDialog *dialog) {
        ServerRelease::writeVersion(root, "v2", V2); // the list is there for the retry
        DriverHarness::click("retry")(dialog);
    });
    QCOMPARE(server.runWindowed(harness), 0);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateError", "CUpdateProgress"}));
    QVERIFY2(harness.seen().first().message.startsWith(QStringLiteral("下载更新列表文件失败:")),
             qPrintable(harness.seen().first().message));
    const QStringList requests = server.nginx.requestedPaths().mid(0, 4);
    QCOMPARE(requests.size(), 4);
    QVERIFY(requests.at(0).endsWith("/update.ini"));
    QVERIFY(requests.at(1).endsWith("/md5.txt"));
    QVERIFY(requests.at(2).endsWith("/update.ini"));
    QVERIFY(requests.at(3).endsWith("/md5.txt"));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::windowedOptionalFailureNotRetried()
{
    Server server;
    QVERIFY(server.start());
    ServerRelease::writeVersion(server.root.path(), "v2", V2);
    QFile::remove(server.root.path() + "/v2/Host.dat");
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");
    DriverHarness harness;
    harness.answer("CUpdateNoticeClass", DriverHarness::click("update"));
    harness.answer("CUpdateError", DriverHarness::reject());
    QCOMPARE(server.runWindowed(harness), 1);
    QCOMPARE(harness.seenNames(),
             QStringList({"CUpdateNoticeClass", "CUpdateProgress", "CUpdateError"}));
    QCOMPARE(harness.seen().last().heading, QStringLiteral("更新失败"));
    QVERIFY(harness.seen().last().message.startsWith(
        QStringLiteral("下载更新文件Host.dat网络错误：404-")));
    QVERIFY(harness.seen().last().retryVisible);
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
    QVERIFY(!QFileInfo::exists(server.record()));
}

void TestUpdateFlow::windowedOptionalFailureRetried()
{
    Server server;
    QVERIFY(server.start());
    const QString root = server.root.path();
    const QByteArray list = ServerRelease::writeVersion(root, "v2", V2);
    QFile::remove(root + "/v2/Host.dat");
    ServerRelease::writeDescription(root, 0, "v2", "2.0");
    DriverHarness harness;
    harness.answer("CUpdateNoticeClass", DriverHarness::click("update"));
    harness.answer("CUpdateError", [root](QDialog *dialog) {
        ServerRelease::writeVersion(root, "v2", V2);
        DriverHarness::click("retry")(dialog);
    });
    harness.answer("CUpdateNoticeClass", DriverHarness::click("update"));
    QCOMPARE(server.runWindowed(harness), 0);
    // The retry starts a whole new attempt: the notice is shown again.
    QCOMPARE(harness.seenNames(),
             QStringList({"CUpdateNoticeClass", "CUpdateProgress", "CUpdateError",
                          "CUpdateNoticeClass", "CUpdateProgress"}));
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QCOMPARE(readFile(server.record()), list);
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::windowedNothingToUpdateStartsHost()
{
    Server server;
    QVERIFY(server.start());
    const QByteArray list = ServerRelease::writeVersion(server.root.path(), "v1", V1);
    ServerRelease::writeDescription(server.root.path(), 1, "v1", "1.0");
    ServerRelease::install(server.install.appDir(), V1);
    DriverHarness harness;
    QCOMPARE(server.runWindowed(harness), 1);
    QVERIFY(harness.seen().isEmpty());
    QCOMPARE(readFile(server.record()), list);
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::cancelOptionalUpdate()
{
    Server server;
    QVERIFY(server.start("location /slow/ { limit_rate 20k; }"));
    ServerRelease::writeVersion(server.root.path(), "slow",
                                {{"big.bin", QByteArray(2 << 20, 'x')}});
    ServerRelease::writeDescription(server.root.path(), 0, "slow", "2.0");
    DriverHarness harness;
    harness.answer("CUpdateNoticeClass", DriverHarness::click("update"));
    harness.answer("CUpdateProgress", DriverHarness::click("cancel"));
    harness.answer("CUpdateError", DriverHarness::reject());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(server.runWindowed(harness), 1);
    QVERIFY(timer.elapsed() < 30000); // the 2 MiB at 20 KiB/s were not waited for
    QCOMPARE(harness.seenNames(),
             QStringList({"CUpdateNoticeClass", "CUpdateProgress", "CUpdateError"}));
    QCOMPARE(harness.seen().last().heading, QStringLiteral("更新失败"));
    QCOMPARE(harness.seen().last().message, QString());
    QVERIFY(harness.seen().last().retryVisible);
    QVERIFY(!QFileInfo::exists(server.install.appDir() + "/big.bin"));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::cancelForcedUpdateStartsNewAttempt()
{
    Server server;
    QVERIFY(server.start("location /slow/ { limit_rate 20k; }"));
    const QString root = server.root.path();
    ServerRelease::writeVersion(root, "slow", {{"big.bin", QByteArray(2 << 20, 'x')}});
    ServerRelease::writeDescription(root, 1, "slow", "2.0");
    DriverHarness harness;
    harness.answer("CUpdateProgress", DriverHarness::click("cancel"));
    harness.answer("CUpdateError", [root](QDialog *dialog) {
        // The next attempt reads the description again and finds a version that is quick.
        ServerRelease::writeVersion(root, "fast", V2);
        ServerRelease::writeDescription(root, 1, "fast", "2.1");
        dialog->reject();
    });
    QCOMPARE(server.runWindowed(harness), 0);
    QCOMPARE(harness.seenNames(),
             QStringList({"CUpdateProgress", "CUpdateError", "CUpdateProgress"}));
    QCOMPARE(harness.seen().at(1).message, QString());
    QVERIFY(!harness.seen().at(1).retryVisible);
    QVERIFY(!harness.seen().at(1).downloadVisible);
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

void TestUpdateFlow::forcedUpdateFailsTwiceThenSucceeds()
{
    Server server;
    QVERIFY(server.start());
    const QString root = server.root.path();
    ServerRelease::writeVersion(root, "v2", V2);
    QFile::remove(root + "/v2/lib/a.dll");
    ServerRelease::writeDescription(root, 1, "v2", "2.0");
    DriverHarness harness;
    harness.answer("CUpdateError", DriverHarness::reject());
    harness.answer("CUpdateError", [root](QDialog *dialog) {
        ServerRelease::writeVersion(root, "v2", V2);
        dialog->reject();
    });
    QCOMPARE(server.runWindowed(harness), 0);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateProgress", "CUpdateError", "CUpdateProgress",
                                               "CUpdateError", "CUpdateProgress"}));
    QVERIFY(!harness.seen().at(1).retryVisible);
    QVERIFY(ServerRelease::installed(server.install.appDir(), V2));
    QTRY_COMPARE(server.install.hostStarts().size(), 1);
}

// Names the updater uses for its own files: applied, such a list loses or misrecords a file.
void TestUpdateFlow::listedNamesOfTheUpdaterAreRefused_data()
{
    QTest::addColumn<QString>("refused");
    QTest::addColumn<bool>("installed");
    // The old copy would be the previous a.dat, recorded as the listed content.
    QTest::newRow("old copy of a listed file") << "a.dat.old" << false;
    // Moved aside as a.dat's earlier old copy, it is missing when its own turn comes: every
    // run would fail and be undone.
    QTest::newRow("installed old copy of a listed file") << "a.dat.old" << true;
    // The new a.dat.~pv would replace the previous version, which then is lost.
    QTest::newRow("previous version's name") << "a.dat.~pv" << false;
    // Staged over by the second file, so deleted but recorded.
    QTest::newRow("staged name") << ".~nw1" << false;
    // Overwritten by the record at the end.
    QTest::newRow("the record") << "update_md5.info" << false;
    // Overwritten by the journal, then deleted with it.
    QTest::newRow("the journal") << "update_md5.info.journal" << false;
    // Served where the packed copies' list lies: never the listed file.
    QTest::newRow("the packed copies' list") << ".~zstd/list.txt" << false;
}

void TestUpdateFlow::listedNamesOfTheUpdaterAreRefused()
{
    QFETCH(QString, refused);
    QFETCH(bool, installed);
    Server server;
    QVERIFY(server.start());
    const QString appDir = server.install.appDir();
    ServerRelease::install(appDir, {{"a.dat", "a v1"}});
    if (installed)
        ServerRelease::install(appDir, {{refused, "installed"}});
    ServerRelease::writeVersion(server.root.path(), "v2",
                                {{"a.dat", "a v2"}, {"b.dat", "b v2"}, {refused, "listed"}});
    ServerRelease::writeDescription(server.root.path(), 0, "v2", "2.0");
    const QMap<QString, QByteArray> before = contentBelow(appDir);

    const UpdaterRun run = server.install.run({"console"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(QString::fromUtf8(run.output), QString::fromUtf8(NothingToDo) +
                                                "{\"errormsg\":\"更新文件" + refused +
                                                "路径不合法" + QString::fromUtf8(FailureEnd));
    QCOMPARE(contentBelow(appDir), before);
    QVERIFY(server.nginx.waitForRequests(2));
    QCOMPARE(server.nginx.requestedPaths(), QStringList({"/update.ini", "/v2//md5.txt"}));
}

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
