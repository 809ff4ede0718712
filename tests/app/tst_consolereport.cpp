#include "consolereport.h"
#include "testplatform.h"

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
    void argumentsReachMainInTheLocalEncoding();
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

// On Windows the entry shim converts the wide command line to the ANSI code page; main()
// decodes the mode from there. Elsewhere the bytes are the locale's (UTF-8).
void TestConsoleReport::argumentsReachMainInTheLocalEncoding()
{
    const QString argument = QStringLiteral("资料 é");
    QProcess probe;
    probe.start(QStringLiteral(ARGUMENT_PROBE_PATH), {argument, QStringLiteral("console")});
    QVERIFY(probe.waitForFinished(20000));
    // A Windows console program's line ends are CR LF.
    const QList<QByteArray> lines = probe.readAllStandardOutput().replace('\r', "").split('\n');
    QCOMPARE(lines.size(), 3);
    const QList<QByteArray> first = lines.at(0).split('\t');
    QCOMPARE(first.size(), 2);
    const QByteArray raw = QByteArray::fromHex(first.at(0));
    QCOMPARE(raw, argument.toLocal8Bit());
    if (ansiCodePage() == 936)
        QCOMPARE(raw.toHex(), QByteArray("d7cac1cf20a8a6"));
    if (ansiCodePage() == 1252)
        QCOMPARE(raw.toHex(), QByteArray("3f3f20e9")); // the Chinese cannot be expressed
    if (!runsOnWindows())
        QCOMPARE(raw, argument.toUtf8());
    const QString decoded = QString::fromUtf8(QByteArray::fromHex(first.at(1)));
    if (QString::fromLocal8Bit(argument.toLocal8Bit()) == argument)
        QCOMPARE(decoded, argument);
    QCOMPARE(lines.at(1), QByteArray("636f6e736f6c65\t636f6e736f6c65")); // "console"
}

QTEST_GUILESS_MAIN(TestConsoleReport)
#include "tst_consolereport.moc"
