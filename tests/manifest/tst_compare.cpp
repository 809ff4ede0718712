#include "compare.h"

#include "manifest.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testplatform.h"

#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

const QByteArray AbcDigest = "98500190b04fd23c7d3f96d6727fe128";
const QByteArray OtherDigest = "0123456789abcdef0123456789abcdef";
const QByteArray Missing = "<missing>";
const QByteArray Folder = "<folder>";
const QString Path = QStringLiteral("dir/f.txt");

QByteArray listLine(const QByteArray &md5, const QByteArray &path)
{
    return md5 + "\t0000000300000000\t" + path + "\r\n";
}

ManifestEntry entry(const QString &path, const QByteArray &md5)
{
    ManifestEntry e;
    e.path = path;
    e.size = 3;
    e.md5 = md5;
    return e;
}

} // namespace

class TstCompare : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void singleEntry_data();
    void singleEntry();
    void emptyServerListGivesEmptyResult();
    void resultIsOrderedByCodeUnits();
    void recordOnlyEntriesPlayNoPart();
    void unreadableRecordCountsAsEmpty();
    void readsNothingItMustNot_data();
    void readsNothingItMustNot();

private:
    QDir installDir() const { return QDir(m_dir->path()); }
    void install(const QString &path, const QByteArray &content) const;

    QScopedPointer<QTemporaryDir> m_dir;
};

void TstCompare::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TstCompare::install(const QString &path, const QByteArray &content) const
{
    const QString full = installDir().absoluteFilePath(path);
    QVERIFY(QFileInfo(full).dir().mkpath(QStringLiteral(".")));
    if (content == Folder)
        QVERIFY(QDir(full).mkpath(QStringLiteral(".")));
    else if (content != Missing)
        QVERIFY(writeFile(full, content));
}

void TstCompare::singleEntry_data()
{
    QTest::addColumn<QByteArray>("installed"); // content of dir/f.txt
    QTest::addColumn<QByteArray>("record");    // text of update_md5.info, or Missing
    QTest::addColumn<QByteArray>("serverMd5");
    QTest::addColumn<bool>("outdated");
    // What the comparison found installed at an outdated path: the record's digest or the
    // file's own (a patch must apply to it); empty for none.
    QTest::addColumn<QByteArray>("installedMd5");

    const QByteArray upper = AbcDigest.toUpper();
    const QByteArray common = "900150983cd24fb0d6963f7d28e17f72";
    const QByteArray same = listLine(AbcDigest, "dir/f.txt");
    const QByteArray abd = ServerRelease::digestText("abd");
    const QByteArray none;
    QTest::newRow("no record, file missing") << Missing << Missing << AbcDigest << true << none;
    QTest::newRow("no record, file matches")
        << QByteArray("abc") << Missing << AbcDigest << false << none;
    QTest::newRow("no record, file differs")
        << QByteArray("abd") << Missing << AbcDigest << true << abd;
    QTest::newRow("no record, upper-case digest")
        << QByteArray("abc") << Missing << upper << true << AbcDigest;
    QTest::newRow("no record, common notation")
        << QByteArray("abc") << Missing << common << true << AbcDigest;
    QTest::newRow("no record, path is a folder") << Folder << Missing << AbcDigest << true << none;
    QTest::newRow("recorded same, file deleted") << Missing << same << AbcDigest << false << none;
    QTest::newRow("recorded same, file altered")
        << QByteArray("xyz") << same << AbcDigest << false << none;
    QTest::newRow("recorded same, path is a folder")
        << Folder << same << AbcDigest << false << none;
    QTest::newRow("recorded other, file already new")
        << QByteArray("abc") << listLine(OtherDigest, "dir/f.txt") << AbcDigest << true
        << OtherDigest;
    QTest::newRow("recorded with backslashes")
        << Missing << listLine(AbcDigest, "\\dir\\f.txt") << AbcDigest << false << none;
    QTest::newRow("recorded upper case, listed upper case")
        << Missing << listLine(upper, "dir/f.txt") << upper << false << none;
    QTest::newRow("recorded under another case of the path")
        << QByteArray("abd") << listLine(AbcDigest, "Dir/f.txt") << AbcDigest << true << abd;
}

void TstCompare::singleEntry()
{
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, serverMd5);
    QFETCH(bool, outdated);
    QFETCH(QByteArray, installedMd5);
    install(Path, installed);
    if (record != Missing)
        QVERIFY(
            writeFile(installDir().absoluteFilePath(QStringLiteral("update_md5.info")), record));

    Manifest server;
    server.insert(Path, entry(Path, serverMd5));
    QMap<QString, QByteArray> found;
    const Manifest result = compareWithInstalled(server, installDir(), &found);
    QCOMPARE(result.contains(Path), outdated);
    QCOMPARE(result.size(), outdated ? 1 : 0);
    if (outdated)
        QVERIFY(result.value(Path) == server.value(Path));
    QCOMPARE(found.value(Path), installedMd5);
    QCOMPARE(found.size(), installedMd5.isEmpty() ? 0 : 1);
    QCOMPARE(compareWithInstalled(server, installDir()), result);
}

void TstCompare::emptyServerListGivesEmptyResult()
{
    install(QStringLiteral("a.txt"), "abc");
    QVERIFY(writeFile(installDir().absoluteFilePath(QStringLiteral("update_md5.info")),
                      listLine(OtherDigest, "a.txt")));
    QVERIFY(compareWithInstalled(Manifest(), installDir()).isEmpty());
}

void TstCompare::resultIsOrderedByCodeUnits()
{
    Manifest server;
    for (const QString &path :
         {QStringLiteral("b/x"), QStringLiteral("a/x"), QStringLiteral("b"), QStringLiteral("A/x")})
        server.insert(path, entry(path, AbcDigest));
    const QStringList expected{QStringLiteral("A/x"), QStringLiteral("a/x"), QStringLiteral("b"),
                               QStringLiteral("b/x")};
    const Manifest result = compareWithInstalled(server, installDir());
    QCOMPARE(result.keys(), expected);
    QCOMPARE(result.values().first().path, QStringLiteral("A/x"));
}

void TstCompare::recordOnlyEntriesPlayNoPart()
{
    QVERIFY(writeFile(installDir().absoluteFilePath(QStringLiteral("update_md5.info")),
                      listLine(AbcDigest, "gone.txt") + listLine(AbcDigest, "kept.txt")));
    Manifest server;
    server.insert(QStringLiteral("kept.txt"), entry(QStringLiteral("kept.txt"), AbcDigest));
    server.insert(QStringLiteral("new.txt"), entry(QStringLiteral("new.txt"), AbcDigest));
    const Manifest result = compareWithInstalled(server, installDir());
    QCOMPARE(result.keys(), QStringList{QStringLiteral("new.txt")});
}

void TstCompare::unreadableRecordCountsAsEmpty()
{
    install(QStringLiteral("update_md5.info"), Folder);
    install(QStringLiteral("a.txt"), "abc");
    Manifest server;
    server.insert(QStringLiteral("a.txt"), entry(QStringLiteral("a.txt"), AbcDigest));
    server.insert(QStringLiteral("b.txt"), entry(QStringLiteral("b.txt"), AbcDigest));
    const Manifest result = compareWithInstalled(server, installDir());
    QCOMPARE(result.keys(), QStringList{QStringLiteral("b.txt")});
}

// Regression: "\\dev\\zero" in a list made the comparison read /dev/zero for ever, and a
// FIFO at a listed path blocked it in open().
void TstCompare::readsNothingItMustNot_data()
{
    QTest::addColumn<QByteArray>("listedPath");
    QTest::addColumn<QString>("planted"); // what stands at the path in the installation
    QTest::newRow("device outside the folder") << QByteArray("\\\\dev\\zero") << QString();
    QTest::newRow("folder") << QByteArray("dir") << QStringLiteral("folder");
    if (!runsOnWindows()) {
        QTest::newRow("fifo") << QByteArray("pipe") << QStringLiteral("fifo");
        QTest::newRow("link to a device") << QByteArray("zero") << QStringLiteral("link");
    }
}

void TstCompare::readsNothingItMustNot()
{
    QFETCH(QByteArray, listedPath);
    QFETCH(QString, planted);
    const Manifest server = parseManifest(listLine(AbcDigest, listedPath));
    QCOMPARE(server.size(), 1);
    const QString full = installDir().absoluteFilePath(server.firstKey());
    if (planted == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(full + QStringLiteral("/inside")));
    if (planted == QLatin1String("fifo"))
        QVERIFY(makeFifo(full));
    if (planted == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), full));
    // A comparison that hangs fails here instead of blocking the whole suite.
    auto comparison =
        std::async(std::launch::async, [&] { return compareWithInstalled(server, installDir()); });
    if (comparison.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        qCritical("the comparison hangs");
        std::_Exit(1);
    }
    QCOMPARE(comparison.get().keys(), server.keys());
}

QTEST_GUILESS_MAIN(TstCompare)
#include "tst_compare.moc"
