#include "config.h"
#include "description.h"
#include "testfiles.h"
#include "testinstall.h"
#include "testplatform.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void missingFileGivesDefaults();
    void relativeCacheCountsFromCurrentFolder();
    void relativeExeNameCountsFromProgramFolder();
    void absoluteExeNameIsKept();
    void deepMissingCacheIsCreated();
    void binFolderMovesInstallDirUp_data();
    void binFolderMovesInstallDirUp();
    void description_data();
    void description();
    void connections_data();
    void connections();
    void patches_data();
    void patches();
    void keysIgnoreLetterCase_data();
    void keysIgnoreLetterCase();
};

void TestConfig::missingFileGivesDefaults()
{
    QTemporaryDir app;
    const UpdateConfig config = loadUpdateConfig(app.path());
    QCOMPARE(config.url, QString());
    QCOMPARE(config.downloadUrl, QString());
    QCOMPARE(config.installDir.absolutePath(), app.path());
    QCOMPARE(config.cacheDir.path(), app.path() + QLatin1Char('/') + defaultCacheFolderName());
    QCOMPARE(config.exePath, app.path() + QStringLiteral("/Host.exe"));
    QCOMPARE(config.connections, 1);
    QVERIFY(config.patches);
    QVERIFY(!QFileInfo::exists(config.cacheDir.path()));
}

void TestConfig::relativeCacheCountsFromCurrentFolder()
{
    QTemporaryDir app, current;
    writeFile(app.path() + "/system.cfg", "[Update]\nCache=rel/cache\n");
    const QString before = QDir::currentPath();
    QDir::setCurrent(current.path());
    UpdateConfig config = loadUpdateConfig(app.path());
    resolveFolders(config);
    QDir::setCurrent(before);
    QCOMPARE(config.cacheDir.path(), current.path() + QStringLiteral("/rel/cache"));
    QVERIFY(QFileInfo(current.path() + "/rel/cache").isDir());
    QVERIFY(!QFileInfo::exists(app.path() + "/rel"));
}

void TestConfig::relativeExeNameCountsFromProgramFolder()
{
    QTemporaryDir app, current;
    writeFile(app.path() + "/system.cfg", "[Update]\nExeName=sub/My Host.exe\n");
    const QString before = QDir::currentPath();
    QDir::setCurrent(current.path());
    const UpdateConfig config = loadUpdateConfig(app.path());
    QDir::setCurrent(before);
    QCOMPARE(config.exePath, app.path() + QStringLiteral("/sub/My Host.exe"));
}

void TestConfig::absoluteExeNameIsKept()
{
    QTemporaryDir app;
    const QString absolute =
        runsOnWindows() ? QStringLiteral("D:/host/run.exe") : QStringLiteral("/opt/host/run");
    writeFile(app.path() + "/system.cfg", "[Update]\nExeName=" + absolute.toUtf8() + '\n');
    QCOMPARE(loadUpdateConfig(app.path()).exePath, absolute);
}

void TestConfig::deepMissingCacheIsCreated()
{
    QTemporaryDir app;
    const QString deep = app.path() + QStringLiteral("/a/b/c/d");
    writeFile(app.path() + "/system.cfg", "[Update]\nCache=" + deep.toUtf8() + "\n");
    UpdateConfig config = loadUpdateConfig(app.path());
    resolveFolders(config);
    QVERIFY(QFileInfo(deep).isDir());
    QCOMPARE(config.cacheDir.absolutePath(), deep);
}

void TestConfig::binFolderMovesInstallDirUp_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("movesUp");
    QTest::newRow("bin") << "bin" << true;
    QTest::newRow("BIN") << "BIN" << true;
    QTest::newRow("Bin") << "Bin" << true;
    QTest::newRow("binary") << "binary" << false;
    QTest::newRow("mybin") << "mybin" << false;
}

void TestConfig::binFolderMovesInstallDirUp()
{
    QFETCH(QString, folder);
    QFETCH(bool, movesUp);
    QTemporaryDir root;
    const QString appDir = root.path() + QLatin1Char('/') + folder;
    QDir().mkpath(appDir);
    UpdateConfig config = loadUpdateConfig(appDir);
    resolveFolders(config);
    QCOMPARE(config.installDir.absolutePath(), movesUp ? root.path() : appDir);
    // The host stays the one beside the updater, inside "bin".
    QCOMPARE(config.exePath, appDir + QStringLiteral("/Host.exe"));
}

void TestConfig::description_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("updateType");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("listUrl");
    QTest::addColumn<QString>("packList"); // [Patches], an unsigned release's packed copies
    QTest::addColumn<QByteArray>("packListSha256");
    QTest::newRow("empty file: forced, Base") << QByteArray() << "http://h/u/" << 1 << ""
                                              << "http://h/u/Base/"
                                              << "http://h/u/Base//md5.txt"
                                              << "" << QByteArray();
    QTest::newRow("optional")
        << QByteArray("[Summary]\nUpdateType=0\n[Version]\nFolder=v2\nVersion=2.0.1\n")
        << "http://h/" << 0 << "2.0.1"
        << "http://h/v2/"
        << "http://h/v2//md5.txt"
        << "" << QByteArray();
    QTest::newRow("not a number is optional")
        << QByteArray("[Summary]\nUpdateType=abc\n") << "http://h/" << 0 << ""
        << "http://h/Base/"
        << "http://h/Base//md5.txt"
        << "" << QByteArray();
    QTest::newRow("no slash between url and folder")
        << QByteArray("[Summary]\nUpdateType=2\n") << "http://h/u" << 2 << ""
        << "http://h/uBase/"
        << "http://h/uBase//md5.txt"
        << "" << QByteArray();
    QTest::newRow("folder used as written")
        << QByteArray("[Version]\nFolder=/v3/\n") << "http://h/" << 1 << ""
        << "http://h//v3//"
        << "http://h//v3///md5.txt"
        << "" << QByteArray();
    QTest::newRow("list of packed copies")
        << QByteArray("[Version]\nFolder=v2\n[Patches]\nList=.~zstd/list.txt\nSha256= AB12 \n")
        << "http://h/" << 1 << ""
        << "http://h/v2/"
        << "http://h/v2//md5.txt"
        << ".~zstd/list.txt" << QByteArray("AB12");
    QTest::newRow("[Release] names no list for an unsigned release")
        << QByteArray("[Release]\nPatchList=.~zstd/list.txt\nPatchListSha256=ab\n") << "http://h/"
        << 1 << ""
        << "http://h/Base/"
        << "http://h/Base//md5.txt"
        << "" << QByteArray();
}

void TestConfig::description()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, url);
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/update.ini");
    QVERIFY(writeFile(path, ini));
    const UpdateDescription description = readUpdateDescription(path, url);
    QTEST(description.updateType, "updateType");
    QTEST(description.version, "version");
    QTEST(description.baseUrl, "baseUrl");
    QTEST(description.listUrl, "listUrl");
    QTEST(description.packList, "packList");
    QTEST(description.packListSha256, "packListSha256");
}

void TestConfig::patches_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("patches");
    QTest::newRow("absent") << QByteArray() << true;
    QTest::newRow("false") << QByteArray("Patches=false") << false;
    QTest::newRow("FALSE") << QByteArray("Patches=FALSE") << false;
    QTest::newRow("no") << QByteArray("Patches=no") << false;
    QTest::newRow("off, with spaces") << QByteArray("Patches = Off ") << false;
    QTest::newRow("0") << QByteArray("Patches=0") << false;
    QTest::newRow("true") << QByteArray("Patches=true") << true;
    QTest::newRow("1") << QByteArray("Patches=1") << true;
    QTest::newRow("empty") << QByteArray("Patches=") << true;
    QTest::newRow("anything else") << QByteArray("Patches=never") << true;
}

void TestConfig::patches()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, patches);
    QTemporaryDir app;
    writeFile(app.path() + "/system.cfg", "[Update]\nURL=http://127.0.0.1/\n" + line + "\n");
    QCOMPARE(loadUpdateConfig(app.path()).patches, patches);
}

void TestConfig::connections_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("connections");
    QTest::newRow("absent") << QByteArray() << 1;
    QTest::newRow("one") << QByteArray("Connections=1") << 1;
    QTest::newRow("six") << QByteArray("Connections=6") << 6;
    QTest::newRow("spaces and a plus") << QByteArray("Connections = +3 ") << 3;
    QTest::newRow("eight") << QByteArray("Connections=8") << 8;
    QTest::newRow("above eight") << QByteArray("Connections=9") << 8;
    QTest::newRow("far above") << QByteArray("Connections=99999999999999999999999") << 8;
    QTest::newRow("zero") << QByteArray("Connections=0") << 1;
    QTest::newRow("negative") << QByteArray("Connections=-4") << 1;
    QTest::newRow("empty") << QByteArray("Connections=") << 1;
    QTest::newRow("not a number") << QByteArray("Connections=many") << 1;
    QTest::newRow("fraction") << QByteArray("Connections=2.5") << 1;
    QTest::newRow("trailing text") << QByteArray("Connections=4x") << 1;
    QTest::newRow("list") << QByteArray("Connections=2,3") << 1;
}

void TestConfig::connections()
{
    QFETCH(QByteArray, line);
    QFETCH(int, connections);
    QTemporaryDir app;
    writeFile(app.path() + "/system.cfg", "[Update]\nURL=http://127.0.0.1/\n" + line + "\n");
    QCOMPARE(loadUpdateConfig(app.path()).connections, connections);
}

// As QSettings reads them on Windows: a "publickey" must never turn the checks off elsewhere.
void TestConfig::keysIgnoreLetterCase_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray values[] = {"http://h/", "http://d/", "/c", "/e",
                                 "K1,K2",     "/ca.pem",   "3",  "false"};
    const auto config = [&values](const QByteArray &section, const QList<QByteArray> &keys) {
        QByteArray text = "[" + section + "]\n";
        for (int i = 0; i < keys.size(); ++i)
            text += keys.at(i) + "=" + values[i] + "\n";
        return text;
    };
    QTest::newRow("as documented")
        << config("Update", {"URL", "DownLoadUrl", "Cache", "ExeName", "PublicKey", "CaFile",
                             "Connections", "Patches"});
    QTest::newRow("lower case") << config("update",
                                          {"url", "downloadurl", "cache", "exename", "publickey",
                                           "cafile", "connections", "patches"});
    QTest::newRow("capitals") << config("UPDATE",
                                        {"URL", "DOWNLOADURL", "CACHE", "EXENAME", "PUBLICKEY",
                                         "CAFILE", "CONNECTIONS", "PATCHES"});
    QTest::newRow("documented spelling after another")
        << "[Update]\nurl=http://other/\npublickey=OTHER\npatches=true\n" +
               config("Update", {"URL", "DownLoadUrl", "Cache", "ExeName", "PublicKey", "CaFile",
                                 "Connections", "Patches"})
                   .mid(9);
}

void TestConfig::keysIgnoreLetterCase()
{
    QFETCH(QByteArray, text);
    QTemporaryDir app;
    writeFile(app.path() + "/system.cfg", text);
    const UpdateConfig config = loadUpdateConfig(app.path());
    QCOMPARE(config.url, QStringLiteral("http://h/"));
    QCOMPARE(config.downloadUrl, QStringLiteral("http://d/"));
    QCOMPARE(config.cacheDir.path(), QStringLiteral("/c"));
    QCOMPARE(config.exePath, QDir(app.path()).absoluteFilePath(QStringLiteral("/e")));
    QVERIFY(config.hasPublicKey);
    QCOMPARE(config.publicKeys, (QStringList{QStringLiteral("K1"), QStringLiteral("K2")}));
    QVERIFY(config.hasCaFile);
    QCOMPARE(config.caFile, QDir(app.path()).absoluteFilePath("/ca.pem"));
    QCOMPARE(config.connections, 3);
    QVERIFY(!config.patches);
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
