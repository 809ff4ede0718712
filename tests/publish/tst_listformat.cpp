#include "listformat.h"
#include "manifest.h"
#include "releasescan.h"

#include <QTest>
#include <QTextCodec>

class TestListFormat : public QObject
{
    Q_OBJECT

private slots:
    void sizeFieldPutsLowHalfFirst_data();
    void sizeFieldPutsLowHalfFirst();
    void lineReadsBackThroughParser();
    void refusesPathsTheCodePageCannotHold_data();
    void refusesPathsTheCodePageCannotHold();
    void encodesInTheClientsCodePage();
    void excludeRules_data();
    void excludeRules();
};

void TestListFormat::sizeFieldPutsLowHalfFirst_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("three bytes") << qint64(3) << QByteArray("0000000300000000");
    QTest::newRow("4660 bytes") << qint64(4660) << QByteArray("0000123400000000");
    QTest::newRow("largest below 4 GiB") << qint64(0xffffffff) << QByteArray("ffffffff00000000");
    QTest::newRow("one byte") << qint64(1) << QByteArray("0000000100000000");
    QTest::newRow("exactly 4 GiB") << (qint64(1) << 32) << QByteArray("0000000000000001");
    QTest::newRow("lowercase") << qint64(0xabcdef) << QByteArray("00abcdef00000000");
}

void TestListFormat::sizeFieldPutsLowHalfFirst()
{
    QFETCH(qint64, size);
    QFETCH(QByteArray, field);
    QCOMPARE(sizeField(size), field);
}

void TestListFormat::lineReadsBackThroughParser()
{
    const QByteArray line =
        listLine("98500190b04fd23c7d3f96d6727fe128", (qint64(5) << 32) + 7, "doc\\abc.txt");
    QCOMPARE(line,
             QByteArray("98500190b04fd23c7d3f96d6727fe128\t0000000700000005\tdoc\\abc.txt\r\n"));
    const Manifest manifest = parseManifest(line);
    QCOMPARE(manifest.size(), 1);
    QCOMPARE(manifest.first().path, QStringLiteral("doc/abc.txt"));
    QCOMPARE(manifest.first().size, (qint64(5) << 32) + 7);
}

void TestListFormat::refusesPathsTheCodePageCannotHold_data()
{
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QString>("path");
    QTest::newRow("Chinese in windows-1252")
        << QByteArray("windows-1252") << QStringLiteral("数据/文件.txt");
    QTest::newRow("Cyrillic in Latin-1") << QByteArray("ISO-8859-1") << QStringLiteral("отчёт.txt");
    QTest::newRow("backslash in a name") << QByteArray("UTF-8") << QStringLiteral("a\\b.txt");
    QTest::newRow("tab in a name") << QByteArray("UTF-8") << QStringLiteral("a\tb.txt");
}

// Regression: an unencodable name must not become "??.txt" in the list.
void TestListFormat::refusesPathsTheCodePageCannotHold()
{
    QFETCH(QByteArray, codePage);
    QFETCH(QString, path);
    QByteArray encoded = "untouched";
    QString error;
    QVERIFY(!encodeListPath(QTextCodec::codecForName(codePage), path, &encoded, &error));
    QCOMPARE(encoded, QByteArray("untouched"));
    QVERIFY2(error.contains(path), qPrintable(error));
}

void TestListFormat::encodesInTheClientsCodePage()
{
    QByteArray encoded;
    QString error;
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(encodeListPath(gbk, QStringLiteral("数据/a b.txt"), &encoded, &error));
    QCOMPARE(encoded, QByteArray("\xca\xfd\xbe\xdd\\a b.txt"));
}

void TestListFormat::excludeRules_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("excluded");
    const QStringList none;
    QTest::newRow("plain file") << none << QStringLiteral("bin/host.dll") << false;
    QTest::newRow("md5 record") << none << QStringLiteral("update_md5.info") << true;
    QTest::newRow("old copy deep") << none << QStringLiteral("bin/host.dll.old") << true;
    QTest::newRow("config in bin") << none << QStringLiteral("bin/system.cfg") << true;
    QTest::newRow("name lookalike") << none << QStringLiteral("system.cfg.sample") << false;
    const QStringList logs{QStringLiteral("*.log"), QStringLiteral("cache")};
    QTest::newRow("name wildcard") << logs << QStringLiteral("a/b/run.log") << true;
    QTest::newRow("folder by name") << logs << QStringLiteral("cache/x/y.bin") << true;
    QTest::newRow("folder name as file part") << logs << QStringLiteral("cached.bin") << false;
    const QStringList paths{QStringLiteral("docs/*.pdf")};
    QTest::newRow("path wildcard") << paths << QStringLiteral("docs/a.pdf") << true;
    QTest::newRow("path wildcard elsewhere") << paths << QStringLiteral("x/docs/a.pdf") << false;
}

void TestListFormat::excludeRules()
{
    QFETCH(QStringList, patterns);
    QFETCH(QString, path);
    QFETCH(bool, excluded);
    QCOMPARE(ExcludeRules(patterns).excludes(path), excluded);
}

QTEST_GUILESS_MAIN(TestListFormat)
#include "tst_listformat.moc"
