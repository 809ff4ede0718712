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
    void consoleReportsWithoutDialogs();
    void windowedFailureOffersRetry_data();
    void windowedFailureOffersRetry();
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

void TestDriver::consoleReportsWithoutDialogs()
{
    TestInstall install;
    DriverHarness harness;
    QCOMPARE(harness.run({"update", "console"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.reports(),
             QByteArray(R"({"errormsg":"升级地址不合法:","success":false,"update":false})"));
    QVERIFY(harness.seen().isEmpty());
}

// Regression (damaged journal): it was ignored and the host started on what it left. Now the
// error dialog says so and offers a retry; giving up starts no host, and the journal stays.
void TestDriver::windowedFailureOffersRetry_data()
{
    QTest::addColumn<bool>("damagedJournal");
    QTest::addColumn<QString>("messageStart");
    QTest::addColumn<int>("hostStartsOnGivingUp");
    QTest::newRow("fetch fails") << false << QStringLiteral("下载升级描述文件失败:") << 1;
    QTest::newRow("damaged journal")
        << true << QStringLiteral("上次未完成的更新无法完成或撤销") << 0;
}

void TestDriver::windowedFailureOffersRetry()
{
    QFETCH(bool, damagedJournal);
    QFETCH(QString, messageStart);
    QFETCH(int, hostStartsOnGivingUp);
    TestInstall install;
    install.writeConfig({{"URL", closedPortUrl()},
                         {"DownLoadUrl", "http://example.invalid/"},
                         {"Cache", install.rootPath() + "/cache"}});
    const QString journal = install.appDir() + "/update_md5.info.journal";
    if (damagedJournal)
        writeFile(journal, "not a journal");
    DriverHarness harness;
    harness.answer("CUpdateError", DriverHarness::click("retry"));
    harness.answer("CUpdateError", DriverHarness::reject());
    QCOMPARE(harness.run({"update"}, install.appDir(), install.updaterPath()), 1);
    QCOMPARE(harness.seenNames(), QStringList({"CUpdateError", "CUpdateError"}));
    for (const SeenDialog &dialog : harness.seen()) {
        QCOMPARE(dialog.heading, QStringLiteral("更新失败"));
        // The line shows its start; the whole text is in its tool tip.
        QVERIFY2(dialog.message.startsWith(messageStart), qPrintable(dialog.message));
        QVERIFY(dialog.retryVisible);
        QVERIFY(dialog.downloadVisible);
    }
    QTRY_COMPARE(install.hostStarts().size(), hostStartsOnGivingUp);
    QTest::qWait(200);
    QCOMPARE(install.hostStarts().size(), hostStartsOnGivingUp);
    if (damagedJournal) {
        QCOMPARE(readFile(journal), QByteArray("not a journal"));
        QVERIFY(QFile::remove(journal));
        DriverHarness restart;
        QCOMPARE(restart.run({"update", "restart"}, install.appDir(), install.updaterPath()), 1);
        QTRY_COMPARE(install.hostStarts().size(), 1);
    }
}

QTEST_MAIN(TestDriver)
#include "tst_driver.moc"
