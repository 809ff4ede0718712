#include "manifest.h"
#include "pathrules.h"
#include "testplatform.h"
#include "updatenames.h"
#include "windowsnames.h"

#include <QtTest>

namespace {

const QByteArray AbcDigest = "98500190b04fd23c7d3f96d6727fe128";

QByteArray line(const QByteArray &md5, const QByteArray &size, const QByteArray &path,
                const QByteArray &end = "\n")
{
    return md5 + '\t' + size + '\t' + path + end;
}

} // namespace

class TstManifest : public QObject
{
    Q_OBJECT

private slots:
    void sizeField_data();
    void sizeField();
    void pathField_data();
    void pathField();
    void specExampleLine();
    void crlfAndLfListsAreEqual();
    void lastLineWithoutLfIsRead();
    void wrongFieldCountsLeaveNeighboursAlone_data();
    void wrongFieldCountsLeaveNeighboursAlone();
    void laterDuplicateReplacesEarlierWhole();
    void md5FieldIsKeptAsItStands();
    void emptyText();
    void keysAreOrderedByCodeUnits();
    void containedPath_data();
    void containedPath();
    void packListPath_data();
    void packListPath();
    void windowsSafePath_data();
    void windowsSafePath();
};

void TstManifest::sizeField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<qint64>("size");
    QTest::newRow("three bytes") << QByteArray("0000000300000000") << qint64(3);
    QTest::newRow("4660") << QByteArray("0000123400000000") << qint64(4660);
    QTest::newRow("low word full") << QByteArray("ffffffff00000000") << qint64(4294967295LL);
    QTest::newRow("4 GiB") << QByteArray("0000000000000001") << qint64(4294967296LL);
    QTest::newRow("upper case") << QByteArray("0000ABCD00000000") << qint64(0xabcd);
    QTest::newRow("short field is right-aligned")
        << QByteArray("1234") << qint64(0x0000123400000000LL);
    QTest::newRow("not hex") << QByteArray("zz") << qint64(0);
    QTest::newRow("empty") << QByteArray() << qint64(0);
    QTest::newRow("too long") << QByteArray("10000000000000000") << qint64(0);
}

void TstManifest::sizeField()
{
    QFETCH(QByteArray, field);
    QFETCH(qint64, size);
    const Manifest manifest = parseManifest(line(AbcDigest, field, "a.txt"));
    QCOMPARE(manifest.size(), 1);
    QCOMPARE(manifest.value(QStringLiteral("a.txt")).size, size);
}

void TstManifest::pathField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("key");
    QTest::newRow("slashes") << QByteArray("doc/abc.txt") << QStringLiteral("doc/abc.txt");
    QTest::newRow("backslashes") << QByteArray("doc\\abc.txt") << QStringLiteral("doc/abc.txt");
    QTest::newRow("leading backslash")
        << QByteArray("\\doc\\abc.txt") << QStringLiteral("doc/abc.txt");
    QTest::newRow("leading slash") << QByteArray("/doc/abc.txt") << QStringLiteral("doc/abc.txt");
    QTest::newRow("two leading separators keep one")
        << QByteArray("\\\\doc\\abc.txt") << QStringLiteral("/doc/abc.txt");
    QTest::newRow("no trimming, dots kept")
        << QByteArray(" ./a/../B.txt ") << QStringLiteral(" ./a/../B.txt ");
    QTest::newRow("nul byte ends the path")
        << QByteArray("a.txt\0.exe", 10) << QStringLiteral("a.txt");
    // On Windows the local 8-bit encoding is the ANSI code page; the runner tries 936 and 1252.
    if (ansiCodePage() == 936)
        QTest::newRow("code page 936 name") << QByteArray("\xb8\xfc\xd0\xc2.txt")
                                            << QString::fromUtf8("\xe6\x9b\xb4\xe6\x96\xb0.txt");
    if (ansiCodePage() == 1252)
        QTest::newRow("code page 1252 name")
            << QByteArray("Donn\xe9\x65s.txt") << QString::fromUtf8("Donn\xc3\xa9\x65s.txt");
    if (!runsOnWindows())
        QTest::newRow("utf-8 name") << QByteArray("\xe6\x9b\xb4\xe6\x96\xb0.txt")
                                    << QString::fromUtf8("\xe6\x9b\xb4\xe6\x96\xb0.txt");
}

void TstManifest::pathField()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, key);
    const Manifest manifest = parseManifest(line(AbcDigest, "0000000300000000", field));
    QCOMPARE(manifest.keys(), QStringList{key});
    QCOMPARE(manifest.value(key).path, key);
}

void TstManifest::specExampleLine()
{
    const Manifest manifest =
        parseManifest(line(AbcDigest, "0000000300000000", "doc\\abc.txt", "\r\n"));
    ManifestEntry expected;
    expected.path = QStringLiteral("doc/abc.txt");
    expected.size = 3;
    expected.md5 = AbcDigest;
    QCOMPARE(manifest.size(), 1);
    QVERIFY(manifest.value(expected.path) == expected);
}

void TstManifest::crlfAndLfListsAreEqual()
{
    const QByteArray lf = line(AbcDigest, "0000000300000000", "a.txt") +
                          line("00000000000000000000000000000001", "0000000100000000", "b\\c");
    QByteArray crlf = lf;
    crlf.replace("\n", "\r\n");
    const Manifest fromLf = parseManifest(lf);
    QCOMPARE(fromLf.size(), 2);
    QCOMPARE(parseManifest(crlf), fromLf);
    // A CR at the very end of the text goes as well.
    QCOMPARE(parseManifest(crlf.left(crlf.size() - 1)), fromLf);
}

void TstManifest::lastLineWithoutLfIsRead()
{
    const QByteArray text = line(AbcDigest, "0000000300000000", "a.txt") +
                            line(AbcDigest, "0000000400000000", "b.txt", QByteArray());
    const Manifest manifest = parseManifest(text);
    QCOMPARE(manifest.keys(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    QCOMPARE(manifest.value(QStringLiteral("b.txt")).size, qint64(4));
}

void TstManifest::wrongFieldCountsLeaveNeighboursAlone_data()
{
    QTest::addColumn<QByteArray>("badLine");
    QTest::newRow("two fields") << QByteArray(AbcDigest + "\t0000000300000000\n");
    QTest::newRow("four fields") << QByteArray(AbcDigest + "\t0000000300000000\tbad\tx\n");
    QTest::newRow("trailing tab") << QByteArray(AbcDigest + "\t0000000300000000\tbad\t\n");
    QTest::newRow("empty line") << QByteArray("\n");
    QTest::newRow("one field") << QByteArray("bad\n");
}

void TstManifest::wrongFieldCountsLeaveNeighboursAlone()
{
    QFETCH(QByteArray, badLine);
    const QByteArray before = line(AbcDigest, "0000000300000000", "a.txt");
    const QByteArray after = line(AbcDigest, "0000000500000000", "z.txt");
    const Manifest manifest = parseManifest(before + badLine + after);
    QCOMPARE(manifest, parseManifest(before + after));
    QCOMPARE(manifest.size(), 2);
}

void TstManifest::laterDuplicateReplacesEarlierWhole()
{
    const QByteArray text =
        line(AbcDigest, "0000000300000000", "\\doc\\abc.txt") +
        line("ffffffffffffffffffffffffffffffff", "0000000900000000", "doc/abc.txt");
    const Manifest manifest = parseManifest(text);
    QCOMPARE(manifest.size(), 1);
    const ManifestEntry entry = manifest.value(QStringLiteral("doc/abc.txt"));
    QCOMPARE(entry.md5, QByteArray("ffffffffffffffffffffffffffffffff"));
    QCOMPARE(entry.size, qint64(9));
    QCOMPARE(entry.path, QStringLiteral("doc/abc.txt"));
}

void TstManifest::md5FieldIsKeptAsItStands()
{
    const QByteArray odd = " 98500190B04FD23C7D3F96D6727FE128 ";
    const Manifest manifest = parseManifest(line(odd, "0000000300000000", "a"));
    QCOMPARE(manifest.value(QStringLiteral("a")).md5, odd);
}

void TstManifest::emptyText()
{
    QVERIFY(parseManifest(QByteArray()).isEmpty());
    QVERIFY(parseManifest("\n\r\n\n").isEmpty());
}

void TstManifest::keysAreOrderedByCodeUnits()
{
    const QByteArray text = line(AbcDigest, "0", "b/x") + line(AbcDigest, "0", "a/x") +
                            line(AbcDigest, "0", "b") + line(AbcDigest, "0", "A/x");
    const QStringList expected{QStringLiteral("A/x"), QStringLiteral("a/x"), QStringLiteral("b"),
                               QStringLiteral("b/x")};
    QCOMPARE(parseManifest(text).keys(), expected);
}

void TstManifest::containedPath_data()
{
    QTest::addColumn<QString>("rawPath");
    QTest::addColumn<bool>("contained");
    QTest::newRow("plain") << QStringLiteral("a/b.txt") << true;
    QTest::newRow("dots inside a name") << QStringLiteral("a..b/c") << true;
    // "." components stay in the folder; the worker resolves them like any other path.
    QTest::newRow("dot slash") << QStringLiteral("./a") << true;
    QTest::newRow("only a dot") << QStringLiteral(".") << false;
    QTest::newRow("parent via backslash") << QStringLiteral("..\\x") << false;
    QTest::newRow("parent further down") << QStringLiteral("a/../../x") << false;
    QTest::newRow("trailing parent") << QStringLiteral("a/..") << false;
    QTest::newRow("double leading separator") << QStringLiteral("//x") << false;
    QTest::newRow("drive letter") << QStringLiteral("C:\\x") << false;
    QTest::newRow("colon inside") << QStringLiteral("a:b") << false;
    QTest::newRow("empty") << QString() << false;
}

void TstManifest::containedPath()
{
    QFETCH(QString, rawPath);
    QFETCH(bool, contained);
    QCOMPARE(isContainedRelativePath(normaliseManifestPath(rawPath)), contained);
}

// update.ini's name of the list of packed copies: only inside the version's ".~zstd".
void TstManifest::packListPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("as published") << QStringLiteral(".~zstd/list.txt") << true;
    QTest::newRow("a folder below") << QStringLiteral(".~zstd/2/list.txt") << true;
    QTest::newRow("the folder itself") << QStringLiteral(".~zstd") << false;
    QTest::newRow("beside it") << QStringLiteral("list.txt") << false;
    QTest::newRow("another folder") << QStringLiteral("zstd/list.txt") << false;
    QTest::newRow("out and in again") << QStringLiteral(".~zstd/../.~zstd/list.txt") << false;
    QTest::newRow("out") << QStringLiteral(".~zstd/../md5.txt") << false;
    QTest::newRow("dot") << QStringLiteral(".~zstd/./list.txt") << false;
    QTest::newRow("empty part") << QStringLiteral(".~zstd//list.txt") << false;
    QTest::newRow("backslash") << QStringLiteral(".~zstd\\list.txt") << false;
    QTest::newRow("absolute") << QStringLiteral("/.~zstd/list.txt") << false;
    QTest::newRow("another case") << QStringLiteral(".~ZSTD/list.txt") << false;
    QTest::newRow("empty") << QString() << false;
}

void TstManifest::packListPath()
{
    QFETCH(QString, path);
    QTEST(UpdateNames::isPackListPath(path), "accepted");
}

void TstManifest::windowsSafePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("offendingName"); // empty: the path is safe
    QTest::newRow("plain") << QStringLiteral("a/b.txt") << QString();
    QTest::newRow("dot slash and double slash") << QStringLiteral("./a//b") << QString();
    QTest::newRow("dots inside") << QStringLiteral("a..b/.hidden") << QString();
    QTest::newRow("device name inside a longer name")
        << QStringLiteral("console/nullable.txt") << QString();
    QTest::newRow("com without a port") << QStringLiteral("COM/COM10.txt") << QString();
    QTest::newRow("tilde") << QStringLiteral("a~1.txt") << QString();
    QTest::newRow("chinese") << QStringLiteral("数据/文件.txt") << QString();
    QTest::newRow("trailing dot") << QStringLiteral("a.txt.") << QStringLiteral("a.txt.");
    QTest::newRow("trailing space") << QStringLiteral("a.txt ") << QStringLiteral("a.txt ");
    QTest::newRow("folder with trailing dot")
        << QStringLiteral("bin./a.txt") << QStringLiteral("bin.");
    QTest::newRow("three dots") << QStringLiteral("a/...") << QStringLiteral("...");
    QTest::newRow("con") << QStringLiteral("CON") << QStringLiteral("CON");
    QTest::newRow("prn lower case") << QStringLiteral("prn") << QStringLiteral("prn");
    QTest::newRow("aux folder") << QStringLiteral("Aux/a.txt") << QStringLiteral("Aux");
    QTest::newRow("nul with extension") << QStringLiteral("nul.txt") << QStringLiteral("nul.txt");
    QTest::newRow("nul with two extensions")
        << QStringLiteral("a/nul.tar.gz") << QStringLiteral("nul.tar.gz");
    QTest::newRow("device with space before dot")
        << QStringLiteral("con .txt") << QStringLiteral("con .txt");
    QTest::newRow("com1") << QStringLiteral("com1.log") << QStringLiteral("com1.log");
    QTest::newRow("com9") << QStringLiteral("COM9") << QStringLiteral("COM9");
    QTest::newRow("lpt1") << QStringLiteral("x/LPT1.dll") << QStringLiteral("LPT1.dll");
    QTest::newRow("lpt superscript")
        << QStringLiteral("lpt\u00b2.txt") << QStringLiteral("lpt\u00b2.txt");
    QTest::newRow("conin") << QStringLiteral("CONIN$") << QStringLiteral("CONIN$");
    QTest::newRow("stream") << QStringLiteral("a.txt:x") << QStringLiteral("a.txt:x");
    QTest::newRow("less") << QStringLiteral("a<b") << QStringLiteral("a<b");
    QTest::newRow("greater") << QStringLiteral("a>b") << QStringLiteral("a>b");
    QTest::newRow("quote") << QStringLiteral("a\"b") << QStringLiteral("a\"b");
    QTest::newRow("bar") << QStringLiteral("d/a|b") << QStringLiteral("a|b");
    QTest::newRow("question mark") << QStringLiteral("a?.txt") << QStringLiteral("a?.txt");
    QTest::newRow("asterisk") << QStringLiteral("*.dll") << QStringLiteral("*.dll");
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
    QTest::newRow("control character") << QStringLiteral("a\x01") << QStringLiteral("a\x01");
}

void TstManifest::windowsSafePath()
{
    QFETCH(QString, path);
    QFETCH(QString, offendingName);
    QString reason;
    QCOMPARE(isWindowsSafePath(path, &reason), offendingName.isEmpty());
    if (!offendingName.isEmpty())
        QVERIFY2(reason.startsWith(QStringLiteral("\"%1\" in \"%2\" ").arg(offendingName, path)),
                 qPrintable(reason));
}

QTEST_APPLESS_MAIN(TstManifest)
#include "tst_manifest.moc"
