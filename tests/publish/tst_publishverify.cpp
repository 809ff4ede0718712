// update-publish --verify: a published tree checked as a client with the key checks it.
#include "signingfixture.h"

#include "testplatform.h"

#include <QFile>
#include <QTest>

class TestPublishVerify : public SigningFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUpRelease()); }
    void acceptsWhatWasPublished();
    void catchesChanges_data();
    void catchesChanges();
    void verifiesListOfAnotherCodePage_data();
    void verifiesListOfAnotherCodePage();
    void acceptsPublishedPackedCopies();
    void catchesChangedPackedCopies_data();
    void catchesChangedPackedCopies();

private:
    // v1 signed, then v2 with bin/host.dll changed, signed, with packed copies: a compressed
    // copy of bin/host.dll and its patch from v1 (doc/abc.txt is too small to pack).
    bool publishPackedRelease();
    // The list's line of that kind ("zstd" or "patch").
    QByteArray packLine(const QByteArray &kind) const;
};

bool TestPublishVerify::publishPackedRelease()
{
    QByteArray host; // numbers: compressible, but not to nothing
    for (int i = 0; host.size() < 70000; ++i)
        host += QByteArray::number(i * 7919 % 10007) + ',';
    if (!writeFile(path(QStringLiteral("release")), QStringLiteral("bin/host.dll"), host) ||
        publishSigned(QStringLiteral("v1")).exitCode != 0)
        return false;
    host.replace(35000, 5, "HOST2");
    if (!writeFile(path(QStringLiteral("release")), QStringLiteral("bin/host.dll"), host))
        return false;
    const ToolRun run =
        publishSigned(QStringLiteral("v2"), {QStringLiteral("--compress"),
                                             QStringLiteral("--patch-from"), QStringLiteral("v1")});
    return run.exitCode == 0 && !packLine("zstd").isEmpty() && !packLine("patch").isEmpty();
}

QByteArray TestPublishVerify::packLine(const QByteArray &kind) const
{
    for (const QByteArray &line :
         readFile(root() + QStringLiteral("/v2/.~zstd/list.txt")).split('\n')) {
        if (line.startsWith(kind + '\t'))
            return line + '\n';
    }
    return QByteArray();
}

void TestPublishVerify::acceptsWhatWasPublished()
{
    QVERIFY(publishSigned(QStringLiteral("v1"), {QStringLiteral("--expires"), QStringLiteral("9")})
                .exitCode == 0);
    const ToolRun run = verify();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.startsWith("OK: "), run.output.constData());
    QVERIFY2(run.output.contains("Sequence 1") && run.output.contains("2 files checked"),
             run.output.constData());
}

void TestPublishVerify::catchesChanges_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QByteArray>("problem");
    const QByteArray abcSha = "ba7816bf";
    QTest::newRow("changed file") << QStringLiteral("v1/doc/abc.txt") << QByteArray("abc")
                                  << QByteArray("abd") << QByteArray("differs from its MD5");
    QTest::newRow("removed file") << QStringLiteral("v1/bin/host.dll") << QByteArray()
                                  << QByteArray() << QByteArray("host.dll is missing");
    QTest::newRow("changed md5.txt") << QStringLiteral("v1/md5.txt") << QByteArray("\r\n")
                                     << QByteArray("\n") << QByteArray("not match Md5List");
    QTest::newRow("changed sha256.txt")
        << QStringLiteral("v1/sha256.txt") << abcSha << QByteArray("ba7816be")
        << QByteArray("not match Sha256List");
    QTest::newRow("file's line in sha256.txt")
        << QStringLiteral("v1/sha256.txt") << abcSha << QByteArray("ba7816be")
        << QByteArray("abc.txt differs from its SHA-256 in sha256.txt");
    QTest::newRow("changed description")
        << QStringLiteral("update.ini") << QByteArray("Version=v1") << QByteArray("Version=v9")
        << QByteArray("does not verify update.ini");
    QTest::newRow("changed signature") << QStringLiteral("update.ini.sig") << QByteArray("flip")
                                       << QByteArray() << QByteArray("does not verify update.ini");
    QTest::newRow("removed signature") << QStringLiteral("update.ini.sig") << QByteArray()
                                       << QByteArray() << QByteArray("update.ini.sig is missing");
    QTest::newRow("another key") << QStringLiteral("b") << QByteArray() << QByteArray()
                                 << QByteArray("不是由受信任的密钥签名的");
    // Hand-made lists that every client refuses.
    QTest::newRow("name of the updater's own")
        << QStringLiteral("v1/md5.txt") << QByteArray("\tdoc\\abc.txt")
        << QByteArray("\tdoc\\abc.txt.~pv")
        << QByteArray("abc.txt.~pv\", a name of the updater's own files (clients report: "
                      "更新文件doc/abc.txt.~pv路径不合法)");
    QTest::newRow("record in capitals")
        << QStringLiteral("v1/md5.txt") << QByteArray("\tbin\\host.dll")
        << QByteArray("\tUPDATE_MD5.INFO") << QByteArray("更新文件UPDATE_MD5.INFO路径不合法");
    QTest::newRow("packed copies' folder")
        << QStringLiteral("v1/md5.txt") << QByteArray("\tdoc\\abc.txt")
        << QByteArray("\t.~Zstd\\list.txt") << QByteArray("更新文件.~Zstd/list.txt路径不合法");
    QTest::newRow("old copy of a listed file")
        << QStringLiteral("v1/md5.txt") << QByteArray("\tbin\\host.dll")
        << QByteArray("\tdoc\\abc.txt.old")
        << QByteArray("md5.txt lists \"doc/abc.txt.old\", where the clients keep the previous "
                      "version of another listed file (clients report: "
                      "更新文件doc/abc.txt.old路径不合法)");
}

void TestPublishVerify::catchesChanges()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QByteArray, problem);
    QVERIFY(publishSigned(QStringLiteral("v1")).exitCode == 0);
    QVERIFY(verify().exitCode == 0);
    const QString target = root() + QLatin1Char('/') + file;
    QByteArray bytes = readFile(target);
    if (file == QLatin1String("b")) {
        QVERIFY(keygen(file).exitCode == 0);
    } else if (from.isEmpty()) {
        QVERIFY(QFile::remove(target));
    } else if (from == "flip") {
        const int at = bytes.lastIndexOf(' ') + 3;
        bytes[at] = bytes.at(at) == 'A' ? 'B' : 'A';
        QVERIFY(writeFile(root(), file, bytes));
    } else {
        QVERIFY(bytes.contains(from));
        QVERIFY(writeFile(root(), file, bytes.replace(from, to)));
    }
    const ToolRun run = verify(file == QLatin1String("b") ? file : QStringLiteral("a"));
    QCOMPARE(run.exitCode, 1);
    if (runsOnWindows()) { // messages in the ANSI code page (run with 936, which has the Chinese)
        QVERIFY2(QString::fromLocal8Bit(run.errors).contains(QString::fromUtf8(problem)),
                 run.errors.constData());
    } else {
        QVERIFY2(run.errors.contains(problem), run.errors.constData());
    }
}

// The list is decoded with the code page given, whatever the machine's own: run on Windows
// under 936 and 1252, one of the two releases is always of the other code page.
void TestPublishVerify::verifiesListOfAnotherCodePage_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<QString>("name");
    QTest::newRow("936") << QStringLiteral("GBK") << QStringLiteral("数据/说明.txt");
    QTest::newRow("1252") << QStringLiteral("windows-1252") << QStringLiteral("façade/søster.txt");
}

void TestPublishVerify::verifiesListOfAnotherCodePage()
{
    QFETCH(QString, codePage);
    QFETCH(QString, name);
    QVERIFY(writeFile(path(QStringLiteral("release")), name, "named"));
    const QStringList codePageOption{QStringLiteral("--codepage"), codePage};
    const ToolRun published = publishSigned(QStringLiteral("v1"), codePageOption);
    QVERIFY2(published.exitCode == 0, published.errors.constData());
    const ToolRun run =
        runPublish(QStringList{QStringLiteral("--verify"), root(), QStringLiteral("--public-key"),
                               path(QStringLiteral("a/update-signing.pub"))} +
                   codePageOption);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.contains("3 files checked"), run.output.constData());
}

void TestPublishVerify::acceptsPublishedPackedCopies()
{
    QVERIFY(publishPackedRelease());
    const ToolRun run = verify();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.contains("folder \"v2\"") && run.output.contains("2 packed copies decoded"),
             run.output.constData());
}

void TestPublishVerify::catchesChangedPackedCopies_data()
{
    QTest::addColumn<QString>("file"); // below the root; "zstd" or "patch": that packed copy
    QTest::addColumn<QByteArray>("change");
    QTest::addColumn<QByteArray>("problem");
    const QByteArray differs = "differs from its line in list.txt";
    const QByteArray notSigned = "list.txt does not match Release/PatchListSha256 of update.ini";
    QTest::newRow("changed compressed copy")
        << QStringLiteral("zstd") << QByteArray("flip")
        << QByteArray("(compressed copy of \"bin/host.dll\") is "
                      "missing or ") +
               differs;
    QTest::newRow("removed patch") << QStringLiteral("patch") << QByteArray("remove")
                                   << QByteArray("(patch of \"bin/host.dll\") is missing");
    QTest::newRow("changed list") << QStringLiteral("v2/.~zstd/list.txt") << QByteArray("line ends")
                                  << notSigned;
    QTest::newRow("list without the patch")
        << QStringLiteral("v2/.~zstd/list.txt") << QByteArray("drop patch") << notSigned;
    QTest::newRow("removed list") << QStringLiteral("v2/.~zstd/list.txt") << QByteArray("remove")
                                  << QByteArray("/v2/.~zstd/list.txt is missing");
    QTest::newRow("changed base") << QStringLiteral("v1/bin/host.dll") << QByteArray("flip")
                                  << QByteArray("no published folder holds its base");
}

void TestPublishVerify::catchesChangedPackedCopies()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, change);
    QFETCH(QByteArray, problem);
    QVERIFY(publishPackedRelease());
    QVERIFY(verify().exitCode == 0);
    QString target = root() + QLatin1Char('/') + file;
    if (file == QLatin1String("zstd") || file == QLatin1String("patch"))
        target = root() + QStringLiteral("/v2/.~zstd/") +
                 QString::fromLatin1(packLine(file.toLatin1()).split('\t').value(4)) +
                 QStringLiteral(".zst");
    QByteArray bytes = readFile(target);
    QVERIFY(!bytes.isEmpty());
    if (change == "remove") {
        QVERIFY(QFile::remove(target));
    } else if (change == "flip") {
        bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 1);
        QVERIFY(writeFile(target, bytes));
    } else if (change == "line ends") {
        QVERIFY(writeFile(target, bytes.replace("\r\n", "\n")));
    } else {
        QVERIFY(writeFile(target, bytes.replace(packLine("patch"), QByteArray())));
    }
    const ToolRun run = verify();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(problem), run.errors.constData());
}

QTEST_GUILESS_MAIN(TestPublishVerify)
#include "tst_publishverify.moc"
