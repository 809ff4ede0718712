// The real driver in this process, with its dialogs answered by object name.
#include "driverharness.h"
#include "instanceguard.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QTcpServer>
#include <QtTest>

namespace {
QString closedPortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}
} // namespace

class TestDriver : public QObject
{
    Q_OBJECT

private slots:
    void windowedAlreadyRunningShowsStartDialogThenHost();
    void windowedConfigErrorShowsDialogThenHost();
    void windowedFetchFailureOffersRetry();
    void consoleReportsWithoutDialogs();
    void windowedDamagedJournalOffersRetryButNoHost();
};

void TestDriver::windowedAlreadyRunningShowsStartDialogThenHost()
{
    TestInstall install;
    InstanceGuard other(install.appDir());
    QVERIFY(other.acquire());
    DriverHarness harness;
    QCOMPARE(harness.run({"update"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.seenNames(), QStringList{"CUpdateError"});
    const SeenDialog dialog = harness.seen().first();
    QCOMPARE(dialog.heading, QStringLiteral("启动"));
    QCOMPARE(dialog.message, QStringLiteral("升级程序已运行"));
    QVERIFY(!dialog.retryVisible);
    QVERIFY(!dialog.downloadVisible);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QCOMPARE(install.hostStarts().first().arguments,
             QStringList({install.updaterPath(), "no_check"}));
}

void TestDriver::windowedConfigErrorShowsDialogThenHost()
{
    TestInstall install; // no system.cfg at all
    DriverHarness harness;
    QCOMPARE(harness.run({"update"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.seenNames(), QStringList{"CUpdateError"});
    QCOMPARE(harness.seen().first().heading, QStringLiteral("配置错误"));
    QCOMPARE(harness.seen().first().message, QStringLiteral("升级地址不合法:"));
    QVERIFY(!harness.seen().first().retryVisible);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QVERIFY(harness.reports().isEmpty());
}

void TestDriver::windowedFetchFailureOffersRetry()
{
    TestInstall install;
    install.writeConfig({{"URL", closedPortUrl()}, {"DownLoadUrl", "http://example.invalid/"}});
    DriverHarness harness;
    harness.answer("CUpdateError", DriverHarness::click("retry"));
    harness.answer("CUpdateError", DriverHarness::reject());
    QCOMPARE(harness.run({"update"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateError", "CUpdateError"}));
    for (const SeenDialog &dialog : harness.seen()) {
        QCOMPARE(dialog.heading, QStringLiteral("更新失败"));
        QVERIFY2(dialog.message.startsWith(QStringLiteral("下载升级描述文件失败:")),
                 qPrintable(dialog.message));
        QVERIFY(dialog.retryVisible);
        QVERIFY(dialog.downloadVisible);
    }
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QTest::qWait(200);
    QCOMPARE(install.hostStarts().size(), 1);
}

void TestDriver::consoleReportsWithoutDialogs()
{
    TestInstall install;
    DriverHarness harness;
    QCOMPARE(harness.run({"update", "console"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.reports(),
             QByteArray(R"({"errormsg":"升级地址不合法:","success":false,"update":false})"));
    QVERIFY(harness.seen().isEmpty());
}

// Regression: a damaged journal was ignored and the host started on what it left. Now the
// error dialog says so and offers a retry; giving up starts no host.
void TestDriver::windowedDamagedJournalOffersRetryButNoHost()
{
    TestInstall install;
    install.writeConfig({{"URL", closedPortUrl()}, {"Cache", install.rootPath() + "/cache"}});
    const QString journal = install.appDir() + "/update_md5.info.journal";
    writeFile(journal, "not a journal");
    DriverHarness harness;
    harness.answer("CUpdateError", DriverHarness::click("retry"));
    harness.answer("CUpdateError", DriverHarness::reject());
    QCOMPARE(harness.run({"update"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateError", "CUpdateError"}));
    for (const SeenDialog &dialog : harness.seen()) {
        QCOMPARE(dialog.heading, QStringLiteral("更新失败"));
        // The line shows its start; the whole text is in its tool tip.
        QVERIFY2(dialog.message.startsWith(QStringLiteral("上次未完成的更新无法完成或撤销")),
                 qPrintable(dialog.message));
        QVERIFY(dialog.retryVisible);
    }
    QCOMPARE(readFile(journal), QByteArray("not a journal"));
    // A start of its own after the journal is gone: the only one recorded.
    QVERIFY(QFile::remove(journal));
    DriverHarness restart;
    QCOMPARE(restart.run({"update", "restart"}, install.appDir(), install.updaterPath()), 1);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QTest::qWait(200);
    QCOMPARE(install.hostStarts().size(), 1);
}

QTEST_MAIN(TestDriver)
#include "tst_driver.moc"
