// update-publish --compress and --patch-from: packed copies beside the full files, decoded by
// the zstd command line as the referee.
#include "signingfixture.h"

#include "digest.h"
#include "manifest.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace {

// Text that compresses well, the same for the same seed.
QByteArray text(int size, quint32 seed)
{
    QByteArray bytes;
    quint32 x = seed;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        bytes += "word" + QByteArray::number((x >> 16) % 300) + ' ';
    }
    bytes.truncate(size);
    return bytes;
}

// A few bytes of `bytes` changed, other ones in each version.
QByteArray changed(QByteArray bytes, int version)
{
    for (int i = 0; i < 40; ++i)
        bytes[(i * 7919 + version * 131) % bytes.size()] = char('A' + version);
    return bytes;
}

// One line of list.txt: kind, base, size, MD5 digest text, SHA-256 hex, path.
QList<QByteArray> fieldsOf(const QByteArray &line)
{
    return line.split('\t');
}

} // namespace

class TestPublishPacks : public SigningFixture
{
    Q_OBJECT

private slots:
    void init();
    void publishesCopiesAndPatchesFromTwoBases_data();
    void publishesCopiesAndPatchesFromTwoBases();
    void packedCopiesAreTheCommandLinesBytes();
    void fileMadeNoSmallerIsNotPacked_data();
    void fileMadeNoSmallerIsNotPacked();
    void republishingLeavesThePackedCopiesUnchanged();
    void republishingAddsMissingPackedCopies();
    void refusesPatchesFromTheFolderItself();
    void refusesABaseThatDoesNotMatchItsList();

private:
    QString release(int version) const { return path(QStringLiteral("r%1").arg(version)); }
    QString folder(const QString &name) const { return root() + QLatin1Char('/') + name; }
    ToolRun publishPacked(const QStringList &extra = {}) const
    {
        return publishFolder(release(3), QStringLiteral("v3"),
                             QStringList{QStringLiteral("--compress"),
                                         QStringLiteral("--patch-from"), QStringLiteral("v2"),
                                         QStringLiteral("--patch-from"), QStringLiteral("v1")} +
                                 extra);
    }
    // The list's lines without their CR LF.
    QList<QByteArray> listLines(const QString &version) const;
    // The file a patch of `path` applies to: the one of v1 or v2 with the base's digest.
    QString baseOf(const QString &path, const QByteArray &md5) const;
    // Every file below `dir` with its content.
    QMap<QString, QByteArray> contentBelow(const QString &dir) const;
};

void TestPublishPacks::init()
{
    QVERIFY(setUpKeys({QStringLiteral("a")}));
    const QByteArray host = text(120000, 1);
    const QByteArray lib = text(30000, 2);
    const QByteArray noise = randomBytes(65536, 5);
    for (int version = 1; version <= 3; ++version) {
        const QString dir = release(version);
        QVERIFY(writeFile(dir, QStringLiteral("bin/host.dll"), changed(host, version)));
        QVERIFY(writeFile(dir, QStringLiteral("data/noise.bin"), changed(noise, version)));
        QVERIFY(writeFile(dir, QStringLiteral("data/random.bin"), randomBytes(4096, version)));
        QVERIFY(writeFile(dir, QStringLiteral("doc/readme.txt"), text(3000, 3)));
        QVERIFY(
            writeFile(dir, QStringLiteral("lib/same.dll"), version < 3 ? lib : changed(lib, 3)));
        if (version < 3)
            QVERIFY(publishFolder(dir, QStringLiteral("v%1").arg(version), {}).exitCode == 0);
    }
    QVERIFY(writeFile(release(3), QStringLiteral("doc/new.txt"), text(2000, 4)));
}

QList<QByteArray> TestPublishPacks::listLines(const QString &version) const
{
    QList<QByteArray> lines =
        readFile(folder(version) + QStringLiteral("/.~zstd/list.txt")).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

QString TestPublishPacks::baseOf(const QString &path, const QByteArray &md5) const
{
    for (const QString &version : {QStringLiteral("v2"), QStringLiteral("v1")}) {
        const Manifest listed =
            parseManifest(readFile(folder(version) + QStringLiteral("/md5.txt")));
        if (listed.value(path).md5 == md5)
            return folder(version) + QLatin1Char('/') + path;
    }
    return QString();
}

QMap<QString, QByteArray> TestPublishPacks::contentBelow(const QString &dir) const
{
    QMap<QString, QByteArray> content;
    for (const QString &file : filesBelow(dir))
        content.insert(file, readFile(dir + QLatin1Char('/') + file));
    return content;
}

void TestPublishPacks::publishesCopiesAndPatchesFromTwoBases_data()
{
    QTest::addColumn<bool>("signing");
    QTest::newRow("unsigned") << false;
    QTest::newRow("signed") << true;
}

void TestPublishPacks::publishesCopiesAndPatchesFromTwoBases()
{
    QFETCH(bool, signing);
    const QStringList sign = signing ? signOptions({QStringLiteral("a")}) : QStringList();
    QVERIFY(publishFolder(release(3), QStringLiteral("plain"), sign).exitCode == 0);
    const ToolRun run = publishPacked(sign);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.contains("a client at v2 fetches 5 changed files"), run.output.constData());

    // The full files and md5.txt as a publish without packing writes them.
    QCOMPARE(readFile(folder(QStringLiteral("v3/md5.txt"))),
             readFile(folder(QStringLiteral("plain/md5.txt"))));
    QByteArray differences;
    QVERIFY2(foldersEqual(release(3), folder(QStringLiteral("v3")),
                          {QStringLiteral("md5.txt"), QStringLiteral("sha256.txt"),
                           QStringLiteral(".~zstd")},
                          &differences),
             differences.constData());

    // Compressed copies of what they make clearly smaller, patches from both bases (one for
    // lib/same.dll, the same in v1 and v2), in path order; nothing for data/random.bin.
    const Manifest v1 = parseManifest(readFile(folder(QStringLiteral("v1/md5.txt"))));
    const Manifest v2 = parseManifest(readFile(folder(QStringLiteral("v2/md5.txt"))));
    const auto md5 = [](const Manifest &m, const char *path) {
        return m.value(QString::fromLatin1(path)).md5;
    };
    const QList<QByteArray> expected{"zstd - bin\\host.dll",
                                     "patch " + md5(v2, "bin/host.dll") + " bin\\host.dll",
                                     "patch " + md5(v1, "bin/host.dll") + " bin\\host.dll",
                                     "patch " + md5(v2, "data/noise.bin") + " data\\noise.bin",
                                     "patch " + md5(v1, "data/noise.bin") + " data\\noise.bin",
                                     "zstd - doc\\new.txt",
                                     "zstd - doc\\readme.txt",
                                     "zstd - lib\\same.dll",
                                     "patch " + md5(v2, "lib/same.dll") + " lib\\same.dll"};
    QList<QByteArray> kinds;
    QStringList packedFiles{QStringLiteral("list.txt")};
    for (const QByteArray &line : listLines(QStringLiteral("v3"))) {
        const QList<QByteArray> fields = fieldsOf(line);
        QCOMPARE(fields.size(), 6);
        kinds << fields.at(0) + ' ' + fields.at(1) + ' ' + fields.at(5);
        // Named by the SHA-256 of its bytes, with their size and MD5.
        const QString name = QString::fromLatin1(fields.at(4)) + QStringLiteral(".zst");
        const QString packed = folder(QStringLiteral("v3/.~zstd/")) + name;
        QCOMPARE(sha256sum(packed), fields.at(4));
        QCOMPARE(QByteArray::number(QFileInfo(packed).size()), fields.at(2));
        QCOMPARE(digestText(readFile(packed)), fields.at(3));
        if (!packedFiles.contains(name))
            packedFiles << name;
        // The zstd command line decodes it to the listed file.
        const QString listed = QString::fromLatin1(fields.at(5)).replace('\\', '/');
        const QString out = path(QStringLiteral("decoded"));
        QStringList arguments{QStringLiteral("-d"), QStringLiteral("-q"), QStringLiteral("-f"),
                              QStringLiteral("--long=31")};
        if (fields.at(0) == "patch")
            arguments << QStringLiteral("--patch-from") << baseOf(listed, fields.at(1));
        const ToolRun zstd =
            runTool(QStringLiteral("zstd"), arguments << packed << QStringLiteral("-o") << out);
        QVERIFY2(zstd.exitCode == 0, line.constData());
        QVERIFY2(readFile(out) == readFile(release(3) + QLatin1Char('/') + listed),
                 line.constData());
    }
    QCOMPARE(kinds, expected);
    packedFiles.sort();
    QCOMPARE(filesBelow(folder(QStringLiteral("v3/.~zstd"))), packedFiles);

    // update.ini names the list and its digest: where the signature binds them when signed.
    const QSettings ini(root() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    const QString group = signing ? QStringLiteral("Release/") : QStringLiteral("Patches/");
    const QString list = signing ? QStringLiteral("PatchList") : QStringLiteral("List");
    const QString digest = signing ? QStringLiteral("PatchListSha256") : QStringLiteral("Sha256");
    QCOMPARE(ini.value(group + list).toString(), QStringLiteral(".~zstd/list.txt"));
    QCOMPARE(ini.value(group + digest).toByteArray(),
             sha256sum(folder(QStringLiteral("v3/.~zstd/list.txt"))));
    QCOMPARE(ini.childGroups(),
             signing ? (QStringList{QStringLiteral("Release"), QStringLiteral("Summary"),
                                    QStringLiteral("Version")})
                     : (QStringList{QStringLiteral("Patches"), QStringLiteral("Summary"),
                                    QStringLiteral("Version")}));
}

// The same bytes as `zstd -19 --long` and `zstd -19 --long --patch-from`: the figures of the
// command line hold, and a Windows publisher makes what a Linux one makes.
void TestPublishPacks::packedCopiesAreTheCommandLinesBytes()
{
    QVERIFY(publishPacked().exitCode == 0);
    for (const QByteArray &line : listLines(QStringLiteral("v3"))) {
        const QList<QByteArray> fields = fieldsOf(line);
        const QString listed = QString::fromLatin1(fields.at(5)).replace('\\', '/');
        const QString out = path(QStringLiteral("cli.zst"));
        QStringList arguments{QStringLiteral("-19"), QStringLiteral("--long"), QStringLiteral("-q"),
                              QStringLiteral("-f")};
        if (fields.at(0) == "patch")
            arguments << QStringLiteral("--patch-from") << baseOf(listed, fields.at(1));
        arguments << release(3) + QLatin1Char('/') + listed << QStringLiteral("-o") << out;
        QVERIFY2(runTool(QStringLiteral("zstd"), arguments).exitCode == 0, line.constData());
        QVERIFY2(sha256sum(out) == fields.at(4), line.constData());
    }
}

void TestPublishPacks::fileMadeNoSmallerIsNotPacked_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("random") << QByteArray() << randomBytes(65536, 9);
    // About 98 % of the file compressed: smaller, but not clearly.
    QTest::newRow("barely compressible")
        << QByteArray() << randomBytes(4000, 9) + QByteArray(100, 'x');
    // The patch from a base rewritten whole is no smaller than the file either.
    QTest::newRow("rewritten whole") << randomBytes(20000, 1) << randomBytes(20000, 2);
}

void TestPublishPacks::fileMadeNoSmallerIsNotPacked()
{
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, content);
    const QString dir = path(QStringLiteral("single"));
    QStringList options{QStringLiteral("--compress")};
    if (!base.isEmpty()) {
        QVERIFY(writeFile(dir, QStringLiteral("data/file.bin"), base));
        QVERIFY(publishFolder(dir, QStringLiteral("s1"), {}).exitCode == 0);
        options << QStringLiteral("--patch-from") << QStringLiteral("s1");
    }
    QVERIFY(writeFile(dir, QStringLiteral("data/file.bin"), content));
    const ToolRun run = publishFolder(dir, QStringLiteral("s2"), options);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.contains("no packed copies"), run.output.constData());
    QCOMPARE(filesBelow(folder(QStringLiteral("s2"))),
             (QStringList{QStringLiteral("data/file.bin"), QStringLiteral("md5.txt")}));
    const QSettings ini(root() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(ini.childGroups(),
             (QStringList{QStringLiteral("Summary"), QStringLiteral("Version")}));
}

void TestPublishPacks::republishingLeavesThePackedCopiesUnchanged()
{
    QVERIFY(publishPacked().exitCode == 0);
    const QMap<QString, QByteArray> before = contentBelow(folder(QStringLiteral("v3")));
    const QByteArray description = readFile(root() + QStringLiteral("/update.ini"));
    const ToolRun run = publishPacked();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.startsWith("Already published, unchanged: "), run.output.constData());
    QCOMPARE(contentBelow(folder(QStringLiteral("v3"))), before);
    QCOMPARE(readFile(root() + QStringLiteral("/update.ini")), description);
}

// Packed copies asked for a folder published without them are added beside its files.
void TestPublishPacks::republishingAddsMissingPackedCopies()
{
    QVERIFY(publishFolder(release(3), QStringLiteral("v3"), {}).exitCode == 0);
    const QMap<QString, QByteArray> before = contentBelow(folder(QStringLiteral("v3")));
    const ToolRun run = publishPacked();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.output.startsWith("Already published, packed copies added: "),
             run.output.constData());
    QMap<QString, QByteArray> after = contentBelow(folder(QStringLiteral("v3")));
    QCOMPARE(listLines(QStringLiteral("v3")).size(), 9);
    for (auto it = after.begin(); it != after.end();)
        it = it.key().startsWith(QLatin1String(".~zstd/")) ? after.erase(it) : it + 1;
    QCOMPARE(after, before);
    const QSettings ini(root() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Patches/Sha256")).toByteArray(),
             sha256sum(folder(QStringLiteral("v3/.~zstd/list.txt"))));
    // Nothing of the assembly is left beside the live folders.
    QCOMPARE(QDir(root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("update.ini"), QStringLiteral("v1"), QStringLiteral("v2"),
                          QStringLiteral("v3")}));
}

void TestPublishPacks::refusesPatchesFromTheFolderItself()
{
    const ToolRun run = publishFolder(
        release(3), QStringLiteral("v2"),
        {QStringLiteral("--force"), QStringLiteral("--patch-from"), QStringLiteral("v2")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains("--patch-from \"v2\" is the folder being published"),
             run.errors.constData());
    QVERIFY(foldersEqual(release(2), folder(QStringLiteral("v2")), {QStringLiteral("md5.txt")}));
}

// A patch from bytes other than the listed ones would fail on every client.
void TestPublishPacks::refusesABaseThatDoesNotMatchItsList()
{
    const QByteArray description = readFile(root() + QStringLiteral("/update.ini"));
    QVERIFY(writeFile(folder(QStringLiteral("v1")), QStringLiteral("bin/host.dll"), "damaged"));
    const ToolRun run = publishPacked();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains("host.dll does not match its line in v1/md5.txt"),
             run.errors.constData());
    QVERIFY(!QFileInfo::exists(folder(QStringLiteral("v3"))));
    QCOMPARE(readFile(root() + QStringLiteral("/update.ini")), description);
}

QTEST_GUILESS_MAIN(TestPublishPacks)
#include "tst_publishpacks.moc"
