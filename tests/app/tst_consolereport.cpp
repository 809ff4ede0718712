#include "consolereport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TestConsoleReport : public QObject
{
    Q_OBJECT

private slots:
    void exactBytes_data();
    void exactBytes();
    void staysValidJson_data();
    void staysValidJson();
    void reportReachesPipeBeforeProcessEnds();
};

void TestConsoleReport::exactBytes_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("nothing to fetch")
        << true << false << QString()
        << QByteArray(R"({"errormsg":"","success":true,"update":false})");
    QTest::newRow("forced update due")
        << true << true << QString()
        << QByteArray(R"({"errormsg":"","success":true,"update":true})");
    QTest::newRow("already running: UTF-8, no escapes")
        << false << false << QStringLiteral("升级程序已运行")
        << QByteArray(R"({"errormsg":"升级程序已运行","success":false,"update":false})");
    QTest::newRow("quote and backslash escaped")
        << false << false << QStringLiteral("创建文件[C:\\x\\\"y\"]失败")
        << QByteArray(
               R"({"errormsg":"创建文件[C:\\x\\\"y\"]失败","success":false,"update":false})");
    QTest::newRow("control character escaped")
        << false << false << QStringLiteral("a\nb\tc")
        << QByteArray(R"({"errormsg":"a\nb\tc","success":false,"update":false})");
}

void TestConsoleReport::exactBytes()
{
    QFETCH(bool, success);
    QFETCH(bool, update);
    QFETCH(QString, message);
    QTEST(consoleReportBytes(success, update, message), "bytes");
}

void TestConsoleReport::staysValidJson_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("windows path") << QStringLiteral(
        "重命名C:\\Program Files\\a.dll为C:\\b.old失败");
    QTest::newRow("quotes") << QStringLiteral("say \"hi\"");
    QTest::newRow("mixed") << QStringLiteral("\\\"\u0001\u007f末");
}

void TestConsoleReport::staysValidJson()
{
    QFETCH(QString, message);
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(consoleReportBytes(false, true, message), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.object().value(QStringLiteral("errormsg")).toString(), message);
    QCOMPARE(document.object().value(QStringLiteral("update")).toBool(), true);
}

void TestConsoleReport::reportReachesPipeBeforeProcessEnds()
{
    QProcess probe;
    probe.start(QStringLiteral(REPORT_PROBE_PATH), QStringList());
    QVERIFY(probe.waitForStarted());
    QByteArray seen;
    QElapsedTimer timer;
    timer.start();
    while (seen.size() < 45 && timer.elapsed() < 10000 && probe.waitForReadyRead(1000))
        seen += probe.readAllStandardOutput();
    QCOMPARE(probe.state(), QProcess::Running);
    QCOMPARE(seen, QByteArray(R"({"errormsg":"","success":true,"update":false})"));
    probe.closeWriteChannel();
    QVERIFY(probe.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestConsoleReport)
#include "tst_consolereport.moc"
