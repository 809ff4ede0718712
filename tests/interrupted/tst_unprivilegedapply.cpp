// The apply as users meet it where the updater is not root: real `update` processes run as
// "nobody", where the system refuses a hard link to a file of another owner
// (fs.protected_hardlinks) and a folder of root's cannot be emptied; and a second process that
// may write the cache folder but not the installation, swapping a cached file the moment it
// is stored.
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QProcess>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;

QFileDevice::Permissions modeOf(const QString &path)
{
    // The "user" bits say what the test's own user may do; only the stored mode counts.
    return QFile::permissions(path) & ~QFileDevice::Permissions(0x0f00);
}

// The published release `files` as folder `folder`, forced or not; returns md5.txt.
QByteArray publish(const QString &root, const QString &folder, const Files &files, int type)
{
    const QByteArray list = ServerRelease::writeVersion(root, folder, files);
    ServerRelease::writeDescription(root, type, folder, folder);
    return list;
}

// nginx serving a folder, and an installation that updates from it into its own cache folder.
struct ServedInstall
{
    QTemporaryDir served;
    NginxServer nginx{served.path()};
    TestInstall install;
    const QString cache = install.rootPath() + "/cache";

    bool start()
    {
        if (!nginx.start() || !install.isValid())
            return false;
        install.writeConfig({{"URL", nginx.url()}, {"Cache", cache}});
        return true;
    }
    QString root() const { return served.path(); }
    // The installation folder and the cache belong to "nobody", everything in them to root.
    bool runUnprivileged()
    {
        install.setUnprivileged(true);
        return QDir().mkpath(cache) && install.giveToUnprivileged(install.appDir()) &&
               install.giveToUnprivileged(cache);
    }
};

} // namespace

class TestUnprivilegedApply : public QObject
{
    Q_OBJECT
private slots:
    void copiedBackupKeepsTheHostStartable_data();
    void copiedBackupKeepsTheHostStartable();
    void oldFolderThatStaysDoesNotBlockTheCommit();
    void cacheFileSwappedAfterItsCheckIsNotInstalled();
};

void TestUnprivilegedApply::copiedBackupKeepsTheHostStartable_data()
{
    QTest::addColumn<bool>("undone");
    QTest::newRow("applied") << false;
    QTest::newRow("undone after a later entry failed") << true;
}

// Regression: a backup copied where the link was refused got default permissions, and the
// new file took them over: the host was no longer executable after the update, and after a
// failed one the restored host could not be started.
void TestUnprivilegedApply::copiedBackupKeepsTheHostStartable()
{
    QFETCH(bool, undone);
    if (!TestInstall::unprivilegedReason().isEmpty())
        QSKIP(qPrintable(TestInstall::unprivilegedReason()));
    if (readFile("/proc/sys/fs/protected_hardlinks").trimmed() != "1")
        QSKIP("this system lets anybody link another owner's file: nothing is copied");
    ServedInstall fixture;
    QVERIFY(fixture.start());
    TestInstall &install = fixture.install;
    const QString host = install.hostPath();
    const QByteArray hostBytes = readFile(host);
    const QString longName = QString(252, QLatin1Char('n')); // its backup's name does not fit
    Files previous = {{"Host.exe", hostBytes}, {"data.txt", "previous data"}};
    Files next = {{"Host.exe", hostBytes + "v2"}, {"data.txt", "next data"}};
    if (undone) {
        previous.insert(longName, "previous");
        next.insert(longName, "next");
    }
    writeFile(install.appDir() + "/update_md5.info", publish(fixture.root(), "v1", previous, 1));
    publish(fixture.root(), "v2", next, 1);
    ServerRelease::install(install.appDir(), previous);
    const QFileDevice::Permissions hostMode = modeOf(host);
    QVERIFY(hostMode & QFileDevice::ExeOther);
    QVERIFY(fixture.runUnprivileged());

    const UpdaterRun run = install.run({"console"});
    QCOMPARE(run.exitCode, undone ? 1 : 0);
    QCOMPARE(readFile(host), undone ? hostBytes : hostBytes + "v2");
    QCOMPARE(modeOf(host), hostMode);
    if (!undone)
        QCOMPARE(modeOf(host + ".old"), hostMode);
    else
        QCOMPARE(install.run({"restart"}).exitCode, 1);
    QTRY_COMPARE(install.hostStarts().size(), 1);
}

// Regression: a folder at NAME.old failed every update of NAME; and a commit that could not
// remove what it kept aside failed the run after the fact, naming the wrong file. The commit
// now goes through, the next update of the file names what is in the way, and the one after
// the obstacle is gone goes through and clears it.
void TestUnprivilegedApply::oldFolderThatStaysDoesNotBlockTheCommit()
{
    if (!TestInstall::unprivilegedReason().isEmpty())
        QSKIP(qPrintable(TestInstall::unprivilegedReason()));
    ServedInstall fixture;
    QVERIFY(fixture.start());
    TestInstall &install = fixture.install;
    const QString file = install.appDir() + "/f.dat";
    writeFile(install.appDir() + "/update_md5.info",
              publish(fixture.root(), "v1", {{"f.dat", "previous"}}, 0));
    publish(fixture.root(), "v2", {{"f.dat", "next"}}, 0);
    writeFile(file, "previous");
    writeFile(file + ".old/locked/x", "root's own"); // nobody cannot empty "locked"
    QVERIFY(fixture.runUnprivileged() && install.giveToUnprivileged(file + ".old"));

    const UpdaterRun first = install.run({"console"});
    QVERIFY2(first.exitCode == 0, first.output.constData());
    QCOMPARE(readFile(file), QByteArray("next"));
    QCOMPARE(readFile(file + ".old"), QByteArray("previous"));
    QVERIFY(!QFileInfo::exists(install.appDir() + "/update_md5.info.journal"));
    QVERIFY(QFileInfo::exists(file + ".~od/locked/x"));

    publish(fixture.root(), "v3", {{"f.dat", "third"}}, 0);
    const UpdaterRun second = install.run({"console"});
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.output.contains("删除文件f.dat.~od失败"), second.output.constData());
    QCOMPARE(readFile(file), QByteArray("next"));

    QVERIFY(install.giveToUnprivileged(file + ".~od/locked"));
    const UpdaterRun third = install.run({"console"});
    QVERIFY2(third.exitCode == 0, third.output.constData());
    QCOMPARE(readFile(file), QByteArray("third"));
    QCOMPARE(readFile(file + ".old"), QByteArray("next"));
    QVERIFY(!QFileInfo::exists(file + ".~od"));
}

// Regression: a cached file was checked when it arrived and then linked into the
// installation unchecked; a writer of the cache folder who swapped it in between got its
// bytes installed and recorded as the release's. The swapper renames its own file over the
// cached name the moment the updater stores it, while a larger file still downloads.
void TestUnprivilegedApply::cacheFileSwappedAfterItsCheckIsNotInstalled()
{
#ifndef CACHE_SWAPPER_PATH
    QSKIP("needs Linux inotify");
#else
    ServedInstall fixture;
    fixture.nginx.setServerDirectives("location = /v2/z.bin { limit_rate 2m; }");
    QVERIFY(fixture.start());
    TestInstall &install = fixture.install;
    const QString cache = fixture.cache;
    const Files previous = {{"a.bin", "previous a"}, {"z.bin", "previous z"}};
    const QByteArray previousList = publish(fixture.root(), "v1", previous, 0);
    publish(fixture.root(), "v2", {{"a.bin", "genuine a"}, {"z.bin", randomBytes(2 << 20)}}, 0);
    ServerRelease::install(install.appDir(), previous);
    writeFile(install.appDir() + "/update_md5.info", previousList);
    // The cache folder is open to everybody; the forger owns its own file.
    const QString forged = install.rootPath() + "/forger/a.bin";
    writeFile(forged, "forged a");
    QVERIFY(QDir().mkpath(cache) && QFile::setPermissions(cache, QFileDevice::Permissions(0x7777)));
    const bool unprivileged = TestInstall::unprivilegedReason().isEmpty();
    QVERIFY(!unprivileged || (install.giveToUnprivileged(install.rootPath() + "/forger") &&
                              install.giveToUnprivileged(forged)));

    QProcess swapper;
    const QStringList arguments = {cache, "a.bin", forged, "60"};
    if (unprivileged)
        swapper.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                             "--", CACHE_SWAPPER_PATH} +
                                     arguments);
    else
        swapper.start(CACHE_SWAPPER_PATH, arguments);
    QVERIFY(swapper.waitForReadyRead(10000));
    QCOMPARE(swapper.readLine().trimmed(), QByteArray("watching"));

    const UpdaterRun run = install.run({"console"});
    QVERIFY(swapper.waitForFinished(10000));
    QVERIFY(swapper.readAll().contains("swapped"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("更新文件a.bin校验不对"), run.output.constData());
    QVERIFY(ServerRelease::installed(install.appDir(), previous));
    QCOMPARE(readFile(install.appDir() + "/update_md5.info"), previousList);
    QVERIFY(!QFileInfo::exists(install.appDir() + "/a.bin.old"));
#endif
}

QTEST_GUILESS_MAIN(TestUnprivilegedApply)
#include "tst_unprivilegedapply.moc"
