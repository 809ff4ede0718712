// update-publish as a release engineer runs it: a real process on real folders.
#include "publishrun.h"

#include "manifest.h"
#include "testfiles.h"
#include "testplatform.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writesListTheUpdaterReads();
    void copiesTheReleaseByteForByte();
    void writesUpdateDescription_data();
    void writesUpdateDescription();
    void leavesOutClientFiles_data();
    void leavesOutClientFiles();
    void refusesNameInsteadOfWritingQuestionMarks();
    void writesPathsInClientCodePage();
    void refusesNamesDifferingOnlyInCase();
    void refusesNamesWindowsMapsElsewhere_data();
    void refusesNamesWindowsMapsElsewhere();
    void refusesNamesOfTheUpdatersOwnFiles_data();
    void refusesNamesOfTheUpdatersOwnFiles();
    void keepsFolderOfAnotherVersion();
    void replacesFolderWhenForced();
    void republishingTheSameReleaseSucceeds();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void printsUrlForSystemCfg_data();
    void printsUrlForSystemCfg();

private:
    QString release() const { return m_dir->filePath(QStringLiteral("release")); }
    QString root() const { return m_dir->filePath(QStringLiteral("root")); }
    ToolRun publish(const QString &folder, const QStringList &extra = {}) const
    {
        return runPublish(QStringList{release(), root(), QStringLiteral("--folder"), folder} +
                          extra);
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestPublish::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(writeFile(release(), QStringLiteral("doc/abc.txt"), "abc"));
}

void TestPublish::writesListTheUpdaterReads()
{
    const ToolRun run = publish(QStringLiteral("v1"));
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QCOMPARE(readFile(root() + QStringLiteral("/v1/md5.txt")),
             QByteArray("98500190b04fd23c7d3f96d6727fe128\t0000000300000000\tdoc\\abc.txt\r\n"));
}

void TestPublish::copiesTheReleaseByteForByte()
{
    QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 4096);
    QVERIFY(writeFile(release(), QStringLiteral("bin/host.dll"), big));
    // Readable by its owner only: the published copy must still be readable by everyone.
    QVERIFY(QFile::setPermissions(release() + QStringLiteral("/bin/host.dll"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(writeFile(release(), QStringLiteral("empty.dat"), QByteArray()));
    QVERIFY(writeFile(release(), QStringLiteral(".hidden/flag"), "1"));
    const ToolRun run = publish(QStringLiteral("v1"));
    QVERIFY2(run.exitCode == 0, run.errors.constData());

    QByteArray differences;
    QVERIFY2(foldersEqual(release(), root() + QStringLiteral("/v1"), {QStringLiteral("md5.txt")},
                          &differences),
             differences.constData());
    const Manifest listed = parseManifest(readFile(root() + QStringLiteral("/v1/md5.txt")));
    QCOMPARE(listed.keys(),
             (QStringList{QStringLiteral(".hidden/flag"), QStringLiteral("bin/host.dll"),
                          QStringLiteral("doc/abc.txt"), QStringLiteral("empty.dat")}));
    QCOMPARE(listed.value(QStringLiteral("bin/host.dll")).size, qint64(big.size()));
    // Served by nginx workers that run as "nobody".
    QVERIFY(QFileInfo(root() + QStringLiteral("/v1/bin/host.dll")).permission(QFile::ReadOther));
}

void TestPublish::writesUpdateDescription_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("updateType");
    QTest::addColumn<QString>("version");
    QTest::newRow("forced by default") << QStringList() << 1 << QStringLiteral("v2");
    QTest::newRow("optional") << QStringList{QStringLiteral("--optional")} << 0
                              << QStringLiteral("v2");
    QTest::newRow("version text") << QStringList{QStringLiteral("--version"),
                                                 QStringLiteral("2.0 正式版, build 7")}
                                  << 1 << QStringLiteral("2.0 正式版, build 7");
}

void TestPublish::writesUpdateDescription()
{
    QFETCH(QStringList, options);
    QFETCH(int, updateType);
    QFETCH(QString, version);
    const ToolRun run = publish(QStringLiteral("v2"), options);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const QSettings ini(root() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Summary/UpdateType")).toString(),
             QString::number(updateType));
    QCOMPARE(ini.value(QStringLiteral("Version/Folder")).toString(), QStringLiteral("v2"));
    QCOMPARE(ini.value(QStringLiteral("Version/Version")).toString(), version);
}

void TestPublish::leavesOutClientFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("md5 record") << QStringLiteral("update_md5.info") << QStringList();
    QTest::newRow("sequence record") << QStringLiteral("update_sequence.info") << QStringList();
    QTest::newRow("update journal") << QStringLiteral("update_md5.info.journal") << QStringList();
    QTest::newRow("previous version") << QStringLiteral("bin/host.dll.~pv") << QStringList();
    QTest::newRow("earlier old copy") << QStringLiteral("bin/host.dll.~od") << QStringList();
    QTest::newRow("staged new file") << QStringLiteral("bin/.~nw12") << QStringList();
    QTest::newRow("record being replaced")
        << QStringLiteral("update_md5.info.~nw") << QStringList();
    QTest::newRow("partial download")
        << QStringLiteral("update/.~partial/0123456789abcdef0123456789abcdef.part")
        << QStringList();
    QTest::newRow("signing key") << QStringLiteral("keys/update-signing.key") << QStringList();
    QTest::newRow("old copy") << QStringLiteral("bin/host.dll.old") << QStringList();
    QTest::newRow("old copy of a listed file")
        << QStringLiteral("doc/abc.txt.old") << QStringList();
    QTest::newRow("client config") << QStringLiteral("bin/system.cfg") << QStringList();
    QTest::newRow("pattern") << QStringLiteral("logs/today.log")
                             << QStringList{QStringLiteral("--exclude"), QStringLiteral("*.log")};
    QTest::newRow("folder") << QStringLiteral("update-cache/x.bin")
                            << QStringList{QStringLiteral("--exclude"),
                                           QStringLiteral("update-cache")};
}

void TestPublish::leavesOutClientFiles()
{
    QFETCH(QString, path);
    QFETCH(QStringList, options);
    QVERIFY(writeFile(release(), path, "client only"));
    const ToolRun run = publish(QStringLiteral("v1"), options);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const Manifest listed = parseManifest(readFile(root() + QStringLiteral("/v1/md5.txt")));
    QCOMPARE(listed.keys(), QStringList{QStringLiteral("doc/abc.txt")});
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/v1/") + path));
}

void TestPublish::refusesNameInsteadOfWritingQuestionMarks()
{
    QVERIFY(writeFile(release(), QStringLiteral("数据.txt"), "data"));
    const ToolRun run = publish(QStringLiteral("v1"),
                                {QStringLiteral("--codepage"), QStringLiteral("windows-1252")});
    QVERIFY(run.exitCode != 0);
    // The message is in the local 8-bit encoding; where that cannot show the name, it names
    // the code page instead.
    const QString name = QStringLiteral("数据.txt");
    const QString expected =
        QString::fromLocal8Bit(name.toLocal8Bit()) == name
            ? name
            : QStringLiteral("cannot be written in the code page windows-1252");
    QVERIFY2(QString::fromLocal8Bit(run.errors).contains(expected), run.errors.constData());
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/v1")));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/update.ini")));
}

void TestPublish::writesPathsInClientCodePage()
{
    QVERIFY(writeFile(release(), QStringLiteral("数据/a b.txt"), "data"));
    const ToolRun run =
        publish(QStringLiteral("v1"), {QStringLiteral("--codepage"), QStringLiteral("GBK")});
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const QByteArray list = readFile(root() + QStringLiteral("/v1/md5.txt"));
    QVERIFY2(list.contains("\t\xca\xfd\xbe\xdd\\a b.txt\r\n"), list.constData());
    QVERIFY(QFileInfo::exists(root() + QStringLiteral("/v1/数据/a b.txt")));
}

// The clients run on Windows, where the two names are one file.
void TestPublish::refusesNamesDifferingOnlyInCase()
{
    if (runsOnWindows())
        QSKIP("A Windows folder cannot hold two names that differ only in letter case");
    QVERIFY(writeFile(release(), QStringLiteral("Data/a.txt"), "upper"));
    QVERIFY(writeFile(release(), QStringLiteral("data/a.txt"), "lower"));
    const ToolRun run = publish(QStringLiteral("v1"));
    QVERIFY(run.exitCode != 0);
    QVERIFY2(run.errors.contains("\"Data/a.txt\" and \"data/a.txt\" differ only in letter case"),
             run.errors.constData());
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/v1")));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/update.ini")));
}

// Windows drops a trailing dot or space, opens a device for "nul.txt" and cannot hold the
// other names at all: the clients would install another file or none.
void TestPublish::refusesNamesWindowsMapsElsewhere_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("problem");
    const QString dropped = QStringLiteral("ends in a dot or a space");
    const QString device = QStringLiteral("is a device name on Windows");
    QTest::newRow("trailing dot") << QStringLiteral("doc/a.txt.") << QStringLiteral("a.txt.")
                                  << dropped;
    QTest::newRow("folder with trailing space")
        << QStringLiteral("bin /a.dll") << QStringLiteral("bin ") << dropped;
    QTest::newRow("device with extension")
        << QStringLiteral("doc/NUL.txt") << QStringLiteral("NUL.txt") << device;
    QTest::newRow("port folder") << QStringLiteral("com3/a.txt") << QStringLiteral("com3")
                                 << device;
    QTest::newRow("forbidden character")
        << QStringLiteral("a?.txt") << QStringLiteral("a?.txt") << QStringLiteral("U+003f");
    QTest::newRow("control character")
        << QStringLiteral("a\x01.txt") << QStringLiteral("a\x01.txt") << QStringLiteral("U+0001");
}

void TestPublish::refusesNamesWindowsMapsElsewhere()
{
    if (runsOnWindows())
        QSKIP("A Windows folder cannot hold these names");
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, problem);
    QVERIFY(writeFile(release(), path, "data"));
    const ToolRun run = publish(QStringLiteral("v1"));
    QCOMPARE(run.exitCode, 1);
    const QString errors = QString::fromUtf8(run.errors);
    QVERIFY2(errors.contains(QStringLiteral("\"%1\" in \"%2\" ").arg(name, path)),
             run.errors.constData());
    QVERIFY2(errors.contains(problem), run.errors.constData());
    QVERIFY2(errors.contains(QStringLiteral("Windows clients cannot install it")),
             run.errors.constData());
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/v1")));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/update.ini")));
}

// The exact names are left out (above); in another letter case they are the same files on
// Windows, and every client refuses a list that names them.
void TestPublish::refusesNamesOfTheUpdatersOwnFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("problem");
    const QString own = QStringLiteral("takes a name of the updater's own files");
    QTest::newRow("record") << QStringLiteral("UPDATE_MD5.INFO") << own;
    QTest::newRow("journal") << QStringLiteral("Update_md5.info.Journal") << own;
    QTest::newRow("previous version") << QStringLiteral("doc/abc.txt.~PV") << own;
    QTest::newRow("staged") << QStringLiteral("bin/.~Nw3") << own;
    const QString packed = QStringLiteral("lies in .~zstd, the folder of the packed copies");
    QTest::newRow("packed copies' list") << QStringLiteral(".~zstd/list.txt") << packed;
    QTest::newRow("packed copies' folder in capitals") << QStringLiteral(".~ZStd/a.zst") << packed;
    QTest::newRow("old copy of a listed file")
        << QStringLiteral("doc/abc.txt.OLD")
        << QStringLiteral("is where the clients keep the previous version of another file");
}

void TestPublish::refusesNamesOfTheUpdatersOwnFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, problem);
    QVERIFY(writeFile(release(), path, "data"));
    const ToolRun run = publish(QStringLiteral("v1"));
    QCOMPARE(run.exitCode, 1);
    const QString errors = QString::fromUtf8(run.errors);
    QVERIFY2(errors.contains(QStringLiteral("\"%1\" %2").arg(path, problem)),
             run.errors.constData());
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/v1")));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/update.ini")));
}

void TestPublish::keepsFolderOfAnotherVersion()
{
    QVERIFY(publish(QStringLiteral("v1")).exitCode == 0);
    const QByteArray description = readFile(root() + QStringLiteral("/update.ini"));
    QVERIFY(writeFile(release(), QStringLiteral("doc/abc.txt"), "changed"));
    const ToolRun run = publish(QStringLiteral("v1"), {QStringLiteral("--optional")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains("--force"), run.errors.constData());
    QCOMPARE(readFile(root() + QStringLiteral("/v1/doc/abc.txt")), QByteArray("abc"));
    QCOMPARE(readFile(root() + QStringLiteral("/update.ini")), description);
}

void TestPublish::replacesFolderWhenForced()
{
    QVERIFY(writeFile(release(), QStringLiteral("gone.txt"), "only in the first"));
    QVERIFY(publish(QStringLiteral("v1")).exitCode == 0);
    QVERIFY(QFile::remove(release() + QStringLiteral("/gone.txt")));
    QVERIFY(writeFile(release(), QStringLiteral("doc/abc.txt"), "changed"));
    const ToolRun run = publish(QStringLiteral("v1"), {QStringLiteral("--force")});
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY(foldersEqual(release(), root() + QStringLiteral("/v1"), {QStringLiteral("md5.txt")}));
    // Nothing of the assembly is left beside the live folders.
    QCOMPARE(QDir(root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("update.ini"), QStringLiteral("v1")}));
}

void TestPublish::republishingTheSameReleaseSucceeds()
{
    QVERIFY(publish(QStringLiteral("v1")).exitCode == 0);
    const ToolRun run = publish(QStringLiteral("v1"), {QStringLiteral("--optional")});
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const QSettings ini(root() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Summary/UpdateType")).toInt(), 0);
}

void TestPublish::refusesBadUsage_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("no folder") << QStringList();
    QTest::newRow("folder leaves root")
        << QStringList{QStringLiteral("--folder"), QStringLiteral("../v1")};
    QTest::newRow("unknown code page")
        << QStringList{QStringLiteral("--folder"), QStringLiteral("v1"),
                       QStringLiteral("--codepage"), QStringLiteral("no-such-page")};
    QTest::newRow("forced and optional")
        << QStringList{QStringLiteral("--folder"), QStringLiteral("v1"), QStringLiteral("--forced"),
                       QStringLiteral("--optional")};
}

void TestPublish::refusesBadUsage()
{
    QFETCH(QStringList, options);
    const ToolRun run = runPublish(QStringList{release(), root()} + options);
    QVERIFY(run.exitCode > 0);
    QVERIFY(run.errors.startsWith("update-publish: "));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/update.ini")));
}

void TestPublish::printsUrlForSystemCfg_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("slash added") << QStringLiteral("http://127.0.0.1:8080/updates")
                                 << QByteArray("\nURL=http://127.0.0.1:8080/updates/\n");
    QTest::newRow("slash kept") << QStringLiteral("https://cdn.example/app/")
                                << QByteArray("\nURL=https://cdn.example/app/\n");
    QTest::newRow("not http") << QStringLiteral("ftp://host/") << QByteArray();
    QTest::newRow("query") << QStringLiteral("http://host/?a=1") << QByteArray();
}

void TestPublish::printsUrlForSystemCfg()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, line);
    const ToolRun run = runPublish({QStringLiteral("--server-url"), address});
    QCOMPARE(run.exitCode == 0, !line.isEmpty());
    if (!line.isEmpty())
        QVERIFY2(run.output.endsWith(line), run.output.constData());
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
